// The wire traffic log: one line per chunk with the time since start, the direction and
// the bytes in hexadecimal, and "#" lines for what the target made of them.
//     0.001234 H>T 43
//     0.001301 T>H 06
//     0.002000 #   gen_iap: erase
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "protocol.hpp"

class WireLog {
public:
    explicit WireLog(SimTime start) : start_(start) {}
    ~WireLog();
    bool Open(const std::string& path);
    void Traffic(SimTime when, bool fromHost, std::span<const uint8_t> bytes);
    void Note(SimTime when, const std::string& text);

private:
    double Seconds(SimTime when) const;
    SimTime start_;
    FILE* file_ = nullptr;
};
