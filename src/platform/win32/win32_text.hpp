// Helpers shared by the Windows implementations of the platform services.
#pragma once

#include <windows.h>

#include <string>

namespace win32 {

// The system's text for an error code (FormatMessage), without the line end it carries:
// "The system cannot find the file specified."
std::string ErrorText(DWORD error);

// "5 (Access is denied.)": a code with its text, for traces.
std::string ErrorWithText(DWORD error);

// UTF-16 text of the system's wide interfaces as UTF-8, and back.
std::string Utf8(const wchar_t* text, int length = -1);
std::wstring Wide(const std::string& text);

// The open serial port's handle for a device path ("\\.\COM3"), for the services that
// act on that port through a library of their own (the CP2103 latch); null when no port
// of that path is open.
HANDLE OpenSerialHandle(const std::string& devicePath);

}  // namespace win32

namespace win32 {
// A function of a library loaded at run time, typed; null when the library lacks it.
template <typename Function>
Function LibraryFunction(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}
}  // namespace win32
