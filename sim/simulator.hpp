// The simulated target's run loop: reads the host's bytes from the pseudo-terminal,
// hands them to the protocol with their arrival times on the modelled line, and sends
// the protocol's replies, through the fault plan, when they would have reached the host.
#pragma once

#include <deque>
#include <optional>

#include "fault_plan.hpp"
#include "protocol.hpp"
#include "pty.hpp"
#include "wire_log.hpp"

enum class EndReason { Exec, Signal, Inactivity };

class Simulator : public Target {
public:
    Simulator(const SimOptions& options, const Pty& pty, Protocol& protocol, TargetMemory& memory, WireLog& log);

    EndReason Run();

    SimTime Now() const override { return now_; }
    TargetMemory& Memory() override { return memory_; }
    const SimOptions& Options() const override { return options_; }
    void Reply(std::string_view key, std::span<const uint8_t> bytes, std::chrono::microseconds delay = {}) override;
    bool Refuses(std::string_view key) override { return faults_.Planned(key, FaultKind::Nak); }
    bool Received(std::string_view key, uint8_t& byte) override;
    uint32_t LineRate() const override { return RateAt(now_); }
    uint32_t HostRate() const override { return host_.rate; }
    void SwitchLineRate(uint32_t rate) override;
    void Exit() override { exit_ = true; }
    void Note(const std::string& text) override;
    void Warn(const std::string& text) override;

private:
    struct Outgoing {
        uint8_t byte;
        SimTime due;  // when the byte has fully reached the host
    };
    enum class Mismatch { None, Rate, StopBits };

    void Queue(std::span<const uint8_t> bytes, std::chrono::microseconds delay);
    SimClock::duration ByteTime() const;
    uint32_t RateAt(SimTime when) const;
    // Whether the host's UART and the target's, at `targetRate`, understand each other.
    Mismatch LineMismatch(uint32_t targetRate) const;
    void ReadFromHost();
    // Tells the protocol when a host has opened the terminal (and keeps it reopenable).
    void WatchHost();
    void WriteDue(SimTime realNow);
    void WaitUntilHostRead();

    const SimOptions& options_;
    const Pty& pty_;
    Protocol& protocol_;
    TargetMemory& memory_;
    WireLog& log_;
    FaultPlan faults_;
    bool lineModel_;
    LineFormat format_;    // the target's UART frame
    bool checkStopBits_;   // the frame was given (--line or the protocol's), not followed

    SimTime now_;
    SimTime lastArrival_;
    SimTime lastDeparture_;
    SimTime lastTraffic_;
    PtyLine host_;
    uint32_t targetRate_;
    std::optional<std::pair<SimTime, uint32_t>> rateSwitch_;
    std::deque<Outgoing> out_;
    bool writeBlocked_ = false;
    SimTime workAt_ = SimTime::min();  // when the protocol's own work is due
    bool exit_ = false;
};

// Installs the SIGTERM/SIGINT handling the run loop waits on.
void SimInstallSignals();
