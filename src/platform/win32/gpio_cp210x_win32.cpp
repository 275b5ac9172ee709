// The CP2103's GPIO pins through Silicon Labs' run-time library "CP210xRuntime.dll",
// loaded on first use. Its latch functions act on the open port's handle.
#include "platform/gpio_cp210x.hpp"

#include <windows.h>

#include "platform/win32/win32_text.hpp"

namespace cp210xgpio {
namespace {
constexpr const char* kLibrary = "CP210xRuntime.dll";
// Taken by name, in this order; only the latch functions are called.
constexpr const char* kFunctions[] = {"CP210xRT_GetPartNumber", "CP210xRT_ReadLatch", "CP210xRT_WriteLatch",
                                      "CP210xRT_GetDeviceProductString", "CP210xRT_GetDeviceSerialNumber"};

using ReadLatchFunction = int(WINAPI*)(HANDLE port, WORD* latch);
using WriteLatchFunction = int(WINAPI*)(HANDLE port, WORD mask, WORD latch);

struct Library {
    bool tried = false;
    HMODULE module = nullptr;
    std::string missingFunction;
    ReadLatchFunction readLatch = nullptr;
    WriteLatchFunction writeLatch = nullptr;
    std::string device;  // the port attached to
};
Library g_library;

void Load() {
    if (g_library.tried) return;
    g_library.tried = true;
    // From the program's folder or the system's, never from the working folder, where
    // anybody's file of that name could be run.
    g_library.module = LoadLibraryExA(kLibrary, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!g_library.module) return;
    for (const char* name : kFunctions)
        if (!GetProcAddress(g_library.module, name) && g_library.missingFunction.empty()) g_library.missingFunction = name;
    g_library.readLatch = win32::LibraryFunction<ReadLatchFunction>(g_library.module, "CP210xRT_ReadLatch");
    g_library.writeLatch = win32::LibraryFunction<WriteLatchFunction>(g_library.module, "CP210xRT_WriteLatch");
}

HANDLE Port() { return win32::OpenSerialHandle(g_library.device); }
}  // namespace

bool Attach(const std::string& devicePath, std::string& lookedFor) {
    Load();
    lookedFor = kLibrary;
    if (!g_library.module || !g_library.missingFunction.empty()) return false;
    g_library.device = devicePath;
    return true;
}

std::string MissingFunction() { return g_library.missingFunction; }

bool Attached() { return g_library.module && g_library.missingFunction.empty() && !g_library.device.empty(); }

const std::string& AttachedDevice() { return g_library.device; }

bool WriteLatch(uint8_t mask, uint8_t latch) {
    HANDLE port = Port();
    return port && g_library.writeLatch(port, mask, latch) == 0;
}

bool ReadLatch(uint8_t assumed, uint8_t& latch) {
    HANDLE port = Port();
    WORD value = assumed;
    if (!port || g_library.readLatch(port, &value) != 0) return false;
    latch = static_cast<uint8_t>(value);
    return true;
}

void Detach() { g_library.device.clear(); }

}  // namespace cp210xgpio
