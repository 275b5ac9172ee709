// Serial port enumeration on Windows: the setup API, loaded at run time from
// "setupapi.dll", lists the ports of the serial-port device interface class with their
// friendly name, description and maker; the registry's HARDWARE\DEVICEMAP\SERIALCOMM
// adds the ports no device of that class announces (virtual ports, ports of other
// drivers).
#include "platform/port_enum.hpp"

#include <windows.h>
#include <setupapi.h>

#include <cstdio>

#include "platform/win32/win32_text.hpp"

namespace {
// GUID_DEVINTERFACE_COMPORT
const GUID kComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

struct SetupApi {
    decltype(&SetupDiGetClassDevsA) getClassDevs;
    decltype(&SetupDiEnumDeviceInterfaces) enumInterfaces;
    decltype(&SetupDiGetDeviceInterfaceDetailA) interfaceDetail;
    decltype(&SetupDiGetDeviceRegistryPropertyA) registryProperty;
    decltype(&SetupDiDestroyDeviceInfoList) destroyList;
};

std::string Property(const SetupApi& api, HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    char text[256] = "";
    if (!api.registryProperty(set, &device, property, nullptr, reinterpret_cast<BYTE*>(text), sizeof text - 1, nullptr))
        return "";
    return text;
}

// The ports of the serial-port interface class. False when the setup API could not be
// used at all; its message is printed then.
bool SetupApiPorts(std::vector<SystemPort>& ports) {
    HMODULE library = LoadLibraryExA("setupapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!library) {
        printf("ERROR: unable to load DLL\n");
        return false;
    }
    SetupApi api{};
    api.enumInterfaces = win32::LibraryFunction<decltype(api.enumInterfaces)>(library, "SetupDiEnumDeviceInterfaces");
    api.getClassDevs = win32::LibraryFunction<decltype(api.getClassDevs)>(library, "SetupDiGetClassDevsA");
    api.interfaceDetail =
        win32::LibraryFunction<decltype(api.interfaceDetail)>(library, "SetupDiGetDeviceInterfaceDetailA");
    api.registryProperty =
        win32::LibraryFunction<decltype(api.registryProperty)>(library, "SetupDiGetDeviceRegistryPropertyA");
    api.destroyList = win32::LibraryFunction<decltype(api.destroyList)>(library, "SetupDiDestroyDeviceInfoList");
    if (!api.enumInterfaces || !api.getClassDevs || !api.interfaceDetail || !api.registryProperty) {
        printf("ERROR: unable to find DLL function\n");
        FreeLibrary(library);
        return false;
    }
    HDEVINFO set = api.getClassDevs(&kComPortInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        printf("SetupDiGetClassDevs failed. (err=%lx)", GetLastError());
        FreeLibrary(library);
        return false;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interface{};
        interface.cbSize = sizeof interface;
        if (!api.enumInterfaces(set, nullptr, &kComPortInterface, index, &interface)) break;
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        DWORD size = 0;
        api.interfaceDetail(set, &interface, nullptr, 0, &size, nullptr);
        std::vector<char> storage(size > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ? size : sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        detail->cbSize = sizeof *detail;
        if (!api.interfaceDetail(set, &interface, detail, static_cast<DWORD>(storage.size()), nullptr, &device)) break;
        // The friendly name ends in the port's name: "USB Serial Port (COM3)".
        std::string friendly = Property(api, set, device, SPDRP_FRIENDLYNAME);
        size_t open = friendly.find('(');
        size_t close = open == std::string::npos ? std::string::npos : friendly.find(')', open);
        if (close == std::string::npos || close == open + 1) continue;
        SystemPort port;
        port.name = friendly.substr(open + 1, close - open - 1).substr(0, 32);
        port.description = Property(api, set, device, SPDRP_DEVICEDESC);
        port.manufacturer = Property(api, set, device, SPDRP_MFG);
        std::string named = friendly.substr(0, close);
        port.usb = named.find("USB") != std::string::npos || port.manufacturer.find("USB") != std::string::npos;
        ports.push_back(port);
    }
    if (api.destroyList) api.destroyList(set);
    FreeLibrary(library);
    return true;
}

// The ports every serial driver registers, listed by the setup API or not.
void RegisteredPorts(std::vector<SystemPort>& ports) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        char device[256];
        BYTE name[64];
        DWORD deviceSize = sizeof device, nameSize = sizeof name - 1, type = 0;
        LONG result = RegEnumValueA(key, index, device, &deviceSize, nullptr, &type, name, &nameSize);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        name[nameSize] = '\0';
        SystemPort port;
        port.name = reinterpret_cast<char*>(name);
        if (port.name.empty()) continue;
        bool listed = false;
        for (const SystemPort& p : ports) listed = listed || _stricmp(p.name.c_str(), port.name.c_str()) == 0;
        if (listed) continue;
        // The kernel's name of the device ("\Device\Serial0", "\Device\VCP0") is all
        // the registry tells of it.
        std::string kernelName = device;
        port.description = kernelName.substr(kernelName.rfind('\\') + 1);
        port.usb = kernelName.find("USB") != std::string::npos || kernelName.find("VCP") != std::string::npos;
        ports.push_back(port);
    }
    RegCloseKey(key);
}
}  // namespace

std::vector<SystemPort> EnumerateSystemPorts() {
    std::vector<SystemPort> ports;
    if (!SetupApiPorts(ports)) return {};
    RegisteredPorts(ports);
    return ports;
}
