#include "base/command_stream.hpp"

#include "base/text.hpp"

namespace {
FILE* g_running = nullptr;  // the command file whose lines are being run
}  // namespace

void SetRunningCommandFile(FILE* stream) { g_running = stream; }
FILE* RunningCommandFile() { return g_running; }

std::vector<std::string> TakeRestOfCommandFile() {
    std::vector<std::string> rest;
    if (!g_running) return rest;
    // Read as the run loop reads them: lines of at most 255 characters.
    char buffer[256];
    while (fgets(buffer, sizeof buffer, g_running)) {
        std::string text = Trimmed(buffer);
        if (!text.empty() && text[0] != '#') rest.push_back(text);
    }
    return rest;
}
