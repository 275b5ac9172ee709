// The simulated target's run loop: reads the host's bytes from the pseudo-terminal,
// hands them to the protocol with their arrival times on the modelled line, and sends
// the protocol's answers when they would have reached the host.
#pragma once

#include <deque>
#include <optional>

#include "ack_faults.hpp"
#include "protocol.hpp"
#include "pty.hpp"
#include "wire_log.hpp"

enum class EndReason { Exec, Signal, Inactivity };

class Simulator : public Target {
public:
    Simulator(const SimOptions& options, const Pty& pty, Protocol& protocol, FlashMemory& memory, WireLog& log);

    EndReason Run();

    SimTime Now() const override { return now_; }
    FlashMemory& Memory() override { return memory_; }
    const SimOptions& Options() const override { return options_; }
    void Send(std::span<const uint8_t> bytes, std::chrono::milliseconds delay = {}) override;
    void Acknowledge(char command, std::chrono::milliseconds delay = {}) override;
    void Refuse(char command) override;
    uint32_t LineRate() const override { return RateAt(now_); }
    uint32_t HostRate() const override { return hostRate_; }
    void SwitchLineRate(uint32_t rate) override;
    void Exit() override { exit_ = true; }
    void Note(const std::string& text) override;

private:
    struct Outgoing {
        uint8_t byte;
        SimTime due;  // when the byte has fully reached the host
    };

    SimClock::duration ByteTime() const;
    uint32_t RateAt(SimTime when) const;
    bool RatesMatch(uint32_t targetRate) const;
    void ReadFromHost();
    void WriteDue(SimTime realNow);
    void WaitUntilHostRead();

    const SimOptions& options_;
    const Pty& pty_;
    Protocol& protocol_;
    FlashMemory& memory_;
    WireLog& log_;
    AckFaults faults_;
    bool lineModel_;

    SimTime now_;
    SimTime lastArrival_;
    SimTime lastDeparture_;
    SimTime lastTraffic_;
    uint32_t hostRate_ = 0;
    uint32_t targetRate_;
    std::optional<std::pair<SimTime, uint32_t>> rateSwitch_;
    std::deque<Outgoing> out_;
    bool writeBlocked_ = false;
    bool exit_ = false;
};

// Installs the SIGTERM/SIGINT handling the run loop waits on.
void SimInstallSignals();
