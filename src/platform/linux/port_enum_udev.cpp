// Serial port enumeration through libudev, loaded when the ports are first listed.
#include <fcntl.h>
#include <libudev.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

#include "platform/port_enum.hpp"
#include "platform/posix/run_time_library.hpp"

namespace {
// The functions of libudev the enumeration calls, bound at run time.
struct Udev {
    decltype(&udev_new) newContext;
    decltype(&udev_unref) unref;
    decltype(&udev_enumerate_new) enumerateNew;
    decltype(&udev_enumerate_add_match_subsystem) matchSubsystem;
    decltype(&udev_enumerate_scan_devices) scanDevices;
    decltype(&udev_enumerate_get_list_entry) listEntry;
    decltype(&udev_enumerate_unref) enumerateUnref;
    decltype(&udev_list_entry_get_next) next;
    decltype(&udev_list_entry_get_name) name;
    decltype(&udev_device_new_from_syspath) deviceFromSyspath;
    decltype(&udev_device_get_parent) parent;
    decltype(&udev_device_get_parent_with_subsystem_devtype) parentWith;
    decltype(&udev_device_get_devnode) devnode;
    decltype(&udev_device_get_driver) driver;
    decltype(&udev_device_get_property_value) property;
    decltype(&udev_device_unref) deviceUnref;
    bool ok = false;
};

const Udev& Library() {
    static Udev u;
    static bool bound = [] {
        static RunTimeLibrary library({"libudev.so.1", "libudev.so"});
        return library.Bind(u.newContext, "udev_new") &&
               library.Bind(u.unref, "udev_unref") && library.Bind(u.enumerateNew, "udev_enumerate_new") &&
               library.Bind(u.matchSubsystem, "udev_enumerate_add_match_subsystem") &&
               library.Bind(u.scanDevices, "udev_enumerate_scan_devices") &&
               library.Bind(u.listEntry, "udev_enumerate_get_list_entry") &&
               library.Bind(u.enumerateUnref, "udev_enumerate_unref") && library.Bind(u.next, "udev_list_entry_get_next") &&
               library.Bind(u.name, "udev_list_entry_get_name") &&
               library.Bind(u.deviceFromSyspath, "udev_device_new_from_syspath") &&
               library.Bind(u.parent, "udev_device_get_parent") &&
               library.Bind(u.parentWith, "udev_device_get_parent_with_subsystem_devtype") &&
               library.Bind(u.devnode, "udev_device_get_devnode") && library.Bind(u.driver, "udev_device_get_driver") &&
               library.Bind(u.property, "udev_device_get_property_value") &&
               library.Bind(u.deviceUnref, "udev_device_unref");
    }();
    u.ok = bound;
    return u;
}

std::string Property(udev_device* dev, const char* key) {
    const char* value = Library().property(dev, key);
    return value ? value : "";
}

// The kernel driver of the port's device. Serial-core ports sit on a generic "port"
// device under a "ctrl" device; the driver of the hardware is further up.
std::string DriverName(udev_device* dev) {
    for (; dev; dev = Library().parent(dev)) {
        const char* driver = Library().driver(dev);
        if (driver && strcmp(driver, "port") != 0 && strcmp(driver, "ctrl") != 0) return driver;
    }
    return "";
}

// The 8250 driver registers a device for every possible legacy UART; only those whose
// hardware was found report a UART type.
bool LegacyUartPresent(const char* node) {
    int fd = open(node, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct info{};
    bool present = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    close(fd);
    return present;
}
}  // namespace

std::vector<SystemPort> EnumerateSystemPorts() {
    std::vector<SystemPort> ports;
    const Udev& u = Library();
    if (!u.ok) return ports;  // no device database to read
    udev* context = u.newContext();
    if (!context) return ports;
    udev_enumerate* enumerate = u.enumerateNew(context);
    u.matchSubsystem(enumerate, "tty");
    u.scanDevices(enumerate);
    for (udev_list_entry* entry = u.listEntry(enumerate); entry; entry = u.next(entry)) {
        udev_device* dev = u.deviceFromSyspath(context, u.name(entry));
        if (!dev) continue;
        udev_device* parent = u.parent(dev);  // none for virtual consoles and ptys
        const char* node = u.devnode(dev);
        if (parent && node) {
            if (strncmp(node, "/dev/ttyS", 9) != 0 || LegacyUartPresent(node)) {
                SystemPort port;
                port.name = node;
                port.description = Property(dev, "ID_MODEL_FROM_DATABASE");
                if (port.description.empty()) port.description = Property(dev, "ID_MODEL");
                if (port.description.empty()) port.description = DriverName(parent);
                port.manufacturer = Property(dev, "ID_VENDOR_FROM_DATABASE");
                if (port.manufacturer.empty()) port.manufacturer = Property(dev, "ID_VENDOR");
                port.usb = Property(dev, "ID_BUS") == "usb" || u.parentWith(dev, "usb", "usb_device") != nullptr;
                ports.push_back(port);
            }
        }
        u.deviceUnref(dev);
    }
    u.enumerateUnref(enumerate);
    u.unref(context);
    return ports;
}
