// What a simulated bootloader protocol sees of its target, and the protocol table.
// A protocol gets the host's bytes one at a time, in line order, and answers through
// the target; a new protocol is one more file under protocols/ and one row in the table.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "memory.hpp"
#include "options.hpp"

using SimClock = std::chrono::steady_clock;
using SimTime = SimClock::time_point;

class Target {
public:
    virtual ~Target() = default;

    // The moment the byte being handled has fully arrived at the target's UART.
    virtual SimTime Now() const = 0;
    virtual TargetMemory& Memory() = 0;
    virtual const SimOptions& Options() const = 0;

    // The whole answer to one request, sent after `delay` of target work, through the
    // fault plan. `key` names the reply for --fault: a command letter, "entry", a return
    // code... Every reply counts for its key, refusals and empty ones included, so a
    // protocol makes exactly one Reply per request it answers (or refuses).
    virtual void Reply(std::string_view key, std::span<const uint8_t> bytes, std::chrono::microseconds delay = {}) = 0;
    // Whether the fault plan turns the next reply for `key` into a refusal. Asked before
    // acting: on true the protocol carries nothing out (no write, no erase, no rate
    // change) and answers with its refusal through Reply(key, ...).
    virtual bool Refuses(std::string_view key) = 0;

    // The target's UART rate: 0 while it follows whatever rate the host uses.
    virtual uint32_t LineRate() const = 0;
    // The host's rate right now.
    virtual uint32_t HostRate() const = 0;
    // The target changes its UART rate once the bytes queued so far have gone out.
    virtual void SwitchLineRate(uint32_t rate) = 0;

    // A byte from the host reaching the target's receiver under `key`, through the fault
    // plan (a corrupt item changes it, a drop item loses it: noise on the line): false
    // when it is lost.
    virtual bool Received(std::string_view key, uint8_t& byte) {
        (void)key;
        (void)byte;
        return true;
    }

    // Ends the simulation once the queued bytes are out (the dump is written).
    virtual void Exit() = 0;
    // A line in the wire log (and on standard error with --verbose).
    virtual void Note(const std::string& text) = 0;
    // A line in the wire log that also goes to standard error, --verbose or not: for
    // what the user must not miss (target code that faulted or ran away).
    virtual void Warn(const std::string& text) = 0;
};

// A request whose refusal is silence (an application that ignores it, a boot ROM that
// does not synchronise): when the fault plan refuses the next reply for `key`, notes
// "`what`: refused (nak fault)", makes the empty reply and returns true.
inline bool RefusedSilently(Target& target, std::string_view key, const std::string& what) {
    if (!target.Refuses(key)) return false;
    target.Note(what + ": refused (nak fault)");
    target.Reply(key, {});
    return true;
}

class Protocol {
public:
    virtual ~Protocol() = default;
    virtual void Receive(uint8_t byte, Target& target) = 0;
    // Called once the bytes that arrived together have all been received: a protocol
    // whose line end may be one or two bytes (CR, or CR LF) answers a bare CR here.
    virtual void EndOfInput(Target& target) { (void)target; }
    // A host opened the terminal. On a real line a host's connect may reset the target
    // into its bootloader through modem lines (RST and TEST on DTR and RTS) that a
    // pseudo-terminal lacks; a protocol whose target is entered that way resets here.
    virtual void HostOpened(Target& target) { (void)target; }
    // A protocol that runs target code between the host's bytes (an emulated CPU) runs
    // a slice of it here. Returns when it wants to run again; SimTime::max(): only after
    // the next host byte. Called again at once after every chunk of host bytes.
    virtual SimTime Work(Target& target) {
        (void)target;
        return SimTime::max();
    }
};

// One option of a protocol: its row in --help and the parser into its settings.
struct ProtocolOption {
    const char* name;   // "--block-size"
    const char* value;  // shown as --block-size=N; nullptr: a flag without a value
    const char* help;   // lines separated by '\n'
    // Stores `value` in `settings` (the protocol's own type); false with `what` saying
    // what the option takes.
    bool (*parse)(ProtocolSettings& settings, const std::string& value, std::string& what);
};

struct ProtocolEntry {
    const char* name;         // as given with --protocol
    const char* description;  // for --help
    const char* faultKeys;    // the keys its replies go by, blank-separated: "C I W E X"
    const char* line;         // the line format it starts with ("8E1"); nullptr: 8N1, unchecked
    std::span<const ProtocolOption> options;
    std::unique_ptr<ProtocolSettings> (*settings)();  // the defaults
    std::unique_ptr<Protocol> (*create)(const ProtocolSettings& settings);
};

// A protocol's own settings, from the ProtocolSettings its option rows and its factory
// are handed (the entry made them with Settings's type).
template <class Settings>
Settings& SettingsOf(ProtocolSettings& settings) {
    return static_cast<Settings&>(settings);
}
template <class Settings>
const Settings& SettingsOf(const ProtocolSettings& settings) {
    return static_cast<const Settings&>(settings);
}

// The entry of a protocol whose defaults are a Settings and whose target is a Model made
// from them.
template <class Settings, class Model>
ProtocolEntry ProtocolEntryFor(const char* name, const char* description, const char* faultKeys, const char* line,
                               std::span<const ProtocolOption> options) {
    return {
        name,
        description,
        faultKeys,
        line,
        options,
        []() -> std::unique_ptr<ProtocolSettings> { return std::make_unique<Settings>(); },
        [](const ProtocolSettings& s) -> std::unique_ptr<Protocol> {
            return std::make_unique<Model>(SettingsOf<Settings>(s));
        },
    };
}

std::span<const ProtocolEntry* const> ProtocolTable();
const ProtocolEntry* FindProtocol(const std::string& name);

// One entry per protocol file.
const ProtocolEntry& GenIapProtocol();
const ProtocolEntry& MicExtmemProtocol();
const ProtocolEntry& LpcIspProtocol();
const ProtocolEntry& ModbusProtocol();
const ProtocolEntry& LpcIapProtocol();
const ProtocolEntry& MecIapProtocol();
const ProtocolEntry& Msp430BslProtocol();
