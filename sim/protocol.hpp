// What a simulated bootloader protocol sees of its target, and the protocol table.
// A protocol gets the host's bytes one at a time, in line order, and answers through
// the target; a new protocol is one more file under protocols/ and one row in the table.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "memory.hpp"
#include "options.hpp"

using SimClock = std::chrono::steady_clock;
using SimTime = SimClock::time_point;

class Target {
public:
    virtual ~Target() = default;

    // The moment the byte being handled has fully arrived at the target's UART.
    virtual SimTime Now() const = 0;
    virtual FlashMemory& Memory() = 0;
    virtual const SimOptions& Options() const = 0;

    // Queues bytes for the host, after `delay` of target work. Not subject to the
    // acknowledge faults (only to --silent).
    virtual void Send(std::span<const uint8_t> bytes, std::chrono::milliseconds delay = {}) = 0;
    // Sends the acknowledge 0x06 for `command`, through the fault plan (drop, corrupt,
    // no acknowledge after N).
    virtual void Acknowledge(char command, std::chrono::milliseconds delay = {}) = 0;
    // A command the target refuses: the NAK byte when one is configured, else nothing.
    virtual void Refuse(char command) = 0;

    // The target's UART rate: 0 while it follows whatever rate the host uses.
    virtual uint32_t LineRate() const = 0;
    // The host's rate right now.
    virtual uint32_t HostRate() const = 0;
    // The target changes its UART rate once the bytes queued so far have gone out.
    virtual void SwitchLineRate(uint32_t rate) = 0;

    // Ends the simulation once the queued bytes are out (the dump is written).
    virtual void Exit() = 0;
    // A line in the wire log (and on standard error with --verbose).
    virtual void Note(const std::string& text) = 0;
};

class Protocol {
public:
    virtual ~Protocol() = default;
    virtual void Receive(uint8_t byte, Target& target) = 0;
};

struct ProtocolEntry {
    const char* name;         // as given with --protocol
    const char* description;  // for --help
    std::unique_ptr<Protocol> (*create)(const SimOptions& options);
};

std::span<const ProtocolEntry> ProtocolTable();
const ProtocolEntry* FindProtocol(const std::string& name);

// One factory per protocol file.
std::unique_ptr<Protocol> CreateGenIapProtocol(const SimOptions& options);
std::unique_ptr<Protocol> CreateMicExtmemProtocol(const SimOptions& options);
