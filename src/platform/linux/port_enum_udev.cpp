// Serial port enumeration through libudev.
#include <fcntl.h>
#include <libudev.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

#include "platform/port_enum.hpp"

namespace {
std::string Property(udev_device* dev, const char* key) {
    const char* value = udev_device_get_property_value(dev, key);
    return value ? value : "";
}

// The kernel driver of the port's device. Serial-core ports sit on a generic "port"
// device under a "ctrl" device; the driver of the hardware is further up.
std::string DriverName(udev_device* dev) {
    for (; dev; dev = udev_device_get_parent(dev)) {
        const char* driver = udev_device_get_driver(dev);
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
    udev* context = udev_new();
    if (!context) return ports;
    udev_enumerate* enumerate = udev_enumerate_new(context);
    udev_enumerate_add_match_subsystem(enumerate, "tty");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
        udev_device* dev = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (!dev) continue;
        udev_device* parent = udev_device_get_parent(dev);  // none for virtual consoles and ptys
        const char* node = udev_device_get_devnode(dev);
        if (parent && node) {
            if (strncmp(node, "/dev/ttyS", 9) != 0 || LegacyUartPresent(node)) {
                SystemPort port;
                port.name = node;
                port.description = Property(dev, "ID_MODEL_FROM_DATABASE");
                if (port.description.empty()) port.description = Property(dev, "ID_MODEL");
                if (port.description.empty()) port.description = DriverName(parent);
                port.manufacturer = Property(dev, "ID_VENDOR_FROM_DATABASE");
                if (port.manufacturer.empty()) port.manufacturer = Property(dev, "ID_VENDOR");
                port.usb = Property(dev, "ID_BUS") == "usb" ||
                           udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device") != nullptr;
                ports.push_back(port);
            }
        }
        udev_device_unref(dev);
    }
    udev_enumerate_unref(enumerate);
    udev_unref(context);
    return ports;
}
