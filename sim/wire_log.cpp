#include "wire_log.hpp"

WireLog::~WireLog() {
    if (file_) std::fclose(file_);
}

bool WireLog::Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "w");
    return file_ != nullptr;
}

double WireLog::Seconds(SimTime when) const {
    return std::chrono::duration<double>(when - start_).count();
}

void WireLog::Traffic(SimTime when, bool fromHost, std::span<const uint8_t> bytes) {
    if (!file_ || bytes.empty()) return;
    constexpr size_t kPerLine = 32;
    for (size_t offset = 0; offset < bytes.size(); offset += kPerLine) {
        std::fprintf(file_, "%12.6f %s", Seconds(when), fromHost ? "H>T" : "T>H");
        for (size_t i = offset; i < bytes.size() && i < offset + kPerLine; ++i) std::fprintf(file_, " %02X", bytes[i]);
        std::fputc('\n', file_);
    }
    std::fflush(file_);
}

void WireLog::Note(SimTime when, const std::string& text) {
    if (!file_) return;
    std::fprintf(file_, "%12.6f #   %s\n", Seconds(when), text.c_str());
    std::fflush(file_);
}
