// A shared library loaded when a service first needs it, not when the program starts:
// what only some commands use (the port list, the CP2103 pins, the XML container, the
// remembered port) does not cost every run the loading and linking of its libraries.
#pragma once

#include <dlfcn.h>

#include <initializer_list>
#include <string>

class RunTimeLibrary {
public:
    // The first of the names (sonames or paths) that loads.
    explicit RunTimeLibrary(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            handle_ = dlopen(name, RTLD_NOW | RTLD_LOCAL);
            if (handle_) return;
            const char* why = dlerror();
            error_ = why ? why : name;
        }
    }
    RunTimeLibrary(const RunTimeLibrary&) = delete;
    RunTimeLibrary& operator=(const RunTimeLibrary&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    const std::string& Error() const { return error_; }

    // Points `function` at the library's symbol; false (and a reason in Error) when the
    // library did not load or lacks it.
    template <class Function>
    bool Bind(Function*& function, const char* symbol) {
        function = nullptr;
        if (!handle_) return false;
        function = reinterpret_cast<Function*>(dlsym(handle_, symbol));
        if (!function) error_ = std::string("no ") + symbol;
        return function != nullptr;
    }

private:
    void* handle_ = nullptr;
    std::string error_;
};
