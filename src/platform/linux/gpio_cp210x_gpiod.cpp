#include "platform/gpio_cp210x.hpp"

#include <dirent.h>
#include <gpiod.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/posix/run_time_library.hpp"

namespace cp210xgpio {
namespace {
constexpr int kPins = 4;

// libgpiod, loaded when a bridge's pins are first looked for.
struct Gpiod {
    decltype(&gpiod_chip_open_by_name) openByName;
    decltype(&gpiod_chip_num_lines) numLines;
    decltype(&gpiod_chip_get_line) getLine;
    decltype(&gpiod_chip_close) close;
    decltype(&gpiod_line_request_output) requestOutput;
    decltype(&gpiod_line_set_value) setValue;
    decltype(&gpiod_line_get_value) getValue;
    decltype(&gpiod_line_release) release;
    bool ok = false;
};

const Gpiod& Library() {
    static Gpiod g;
    static const bool bound = [] {
        static RunTimeLibrary library({"libgpiod.so.2", "libgpiod.so"});
        return library.Bind(g.openByName, "gpiod_chip_open_by_name") && library.Bind(g.numLines, "gpiod_chip_num_lines") &&
               library.Bind(g.getLine, "gpiod_chip_get_line") && library.Bind(g.close, "gpiod_chip_close") &&
               library.Bind(g.requestOutput, "gpiod_line_request_output") &&
               library.Bind(g.setValue, "gpiod_line_set_value") && library.Bind(g.getValue, "gpiod_line_get_value") &&
               library.Bind(g.release, "gpiod_line_release");
    }();
    g.ok = bound;
    return g;
}
struct Bridge {
    gpiod_chip* chip = nullptr;
    gpiod_line* lines[kPins] = {};
    std::string device;
};
Bridge g_bridge;  // the GPIO lines of the bridge behind the open port

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// The gpiochip directory beside the tty in the USB interface's sysfs directory.
std::string FindChipName(const std::string& devicePath) {
    std::string node = RealPath(devicePath);
    if (node.empty()) return "";
    std::string tty = node.substr(node.rfind('/') + 1);
    std::string ttyDevice = RealPath("/sys/class/tty/" + tty + "/device");  // .../1-1:1.0/ttyUSB0
    if (ttyDevice.empty()) return "";
    std::string interfaceDir = ttyDevice.substr(0, ttyDevice.rfind('/'));
    DIR* dir = opendir(interfaceDir.c_str());
    if (!dir) return "";
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (strncmp(entry->d_name, "gpiochip", 8) == 0) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}
}  // namespace

bool Attach(const std::string& devicePath, std::string& lookedFor) {
    Detach();
    lookedFor = "cp210x gpiochip of " + devicePath;
    std::string chipName = FindChipName(devicePath);
    if (chipName.empty()) return false;
    const Gpiod& gpiod = Library();
    if (!gpiod.ok) {
        lookedFor += " (libgpiod.so.2 did not load)";
        return false;
    }
    g_bridge.chip = gpiod.openByName(chipName.c_str());
    if (!g_bridge.chip) return false;
    if (gpiod.numLines(g_bridge.chip) < static_cast<unsigned>(kPins)) {
        Detach();
        return false;
    }
    g_bridge.device = devicePath;
    return true;
}

// The gpiochip needs no library of its own.
std::string MissingFunction() { return ""; }

bool Attached() { return g_bridge.chip != nullptr; }
const std::string& AttachedDevice() { return g_bridge.device; }

bool WriteLatch(uint8_t mask, uint8_t latch) {
    if (!g_bridge.chip) return false;
    bool ok = true;
    for (int pin = 0; pin < kPins; ++pin) {
        if (!(mask & (1u << pin))) continue;
        int value = (latch >> pin) & 1;
        if (g_bridge.lines[pin]) {
            ok = Library().setValue(g_bridge.lines[pin], value) == 0 && ok;
            continue;
        }
        gpiod_line* line = Library().getLine(g_bridge.chip, static_cast<unsigned>(pin));
        if (line && Library().requestOutput(line, "vorlo", value) == 0)
            g_bridge.lines[pin] = line;
        else
            ok = false;
    }
    return ok;
}

bool ReadLatch(uint8_t assumed, uint8_t& latch) {
    if (!g_bridge.chip) return false;
    latch = assumed;
    bool ok = true;
    for (int pin = 0; pin < kPins; ++pin) {
        if (!g_bridge.lines[pin]) continue;
        int value = Library().getValue(g_bridge.lines[pin]);
        if (value < 0) {
            ok = false;
            continue;
        }
        latch = static_cast<uint8_t>((latch & ~(1u << pin)) | (static_cast<unsigned>(value) << pin));
    }
    return ok;
}

void Detach() {
    for (gpiod_line*& line : g_bridge.lines) {
        if (line) Library().release(line);
        line = nullptr;
    }
    if (g_bridge.chip) Library().close(g_bridge.chip);
    g_bridge.chip = nullptr;
    g_bridge.device.clear();
}

}  // namespace cp210xgpio
