#include "base/temp_files.hpp"

#include <cstdio>
#include <mutex>
#include <string>

#include "base/messages.hpp"
#include "platform/process.hpp"

namespace {
struct TempEntry {
    FILE* stream = nullptr;
    std::string path;
};
constexpr int kTempEntries = 5;
struct TempFiles {
    TempEntry entries[kTempEntries];
    std::mutex lock;  // the interrupt thread deletes them at exit
};
TempFiles g_temps;  // the files the run deletes on its way out
}  // namespace

FILE* TmpFileCreate(const char* mode) {
    std::string path;
    if (!CreateUniqueTempFile(path)) MsgError("Can't open file %s.", path.c_str());
    FILE* stream = FileOpen(path.c_str(), mode);
    std::lock_guard<std::mutex> lock(g_temps.lock);
    for (TempEntry& entry : g_temps.entries) {
        if (!entry.stream) {
            entry.stream = stream;
            entry.path = path;
            break;
        }
    }
    return stream;
}

namespace {
// Frees the stream's entry; returns its path ("" when it has none).
std::string TakeEntry(FILE* stream) {
    std::string path;
    std::lock_guard<std::mutex> lock(g_temps.lock);
    for (TempEntry& entry : g_temps.entries) {
        if (entry.stream == stream) {
            path = entry.path;
            entry.stream = nullptr;
            entry.path.clear();
            break;
        }
    }
    return path;
}
}  // namespace

bool TmpFileClose(FILE* stream) {
    std::string path = TakeEntry(stream);
    fclose(stream);
    if (!path.empty()) remove(path.c_str());
    return true;
}

void TmpFileDelete(FILE* stream) {
    std::string path = TakeEntry(stream);
    if (!path.empty()) remove(path.c_str());
}
