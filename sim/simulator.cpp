#include "simulator.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

volatile sig_atomic_t g_stopSignal = 0;
sigset_t g_waitMask;  // the mask while waiting in ppoll: stop signals let through

void OnStopSignal(int signal) { g_stopSignal = signal; }

constexpr uint8_t kAck = 0x06;
constexpr uint8_t kDefaultWrongByte = 0x15;
constexpr size_t kReadChunk = 4096;

}  // namespace

void SimInstallSignals() {
    // The stop signals stay blocked except inside ppoll, so one that comes while a chunk
    // is being handled ends the next wait at once instead of being missed.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigprocmask(SIG_BLOCK, &stop, &g_waitMask);
    sigdelset(&g_waitMask, SIGTERM);
    sigdelset(&g_waitMask, SIGINT);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // Paced answers must leave on time: at 921600 baud a byte lasts 11 us, far below the
    // default 50 us timer slack.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
}

Simulator::Simulator(const SimOptions& options, const Pty& pty, Protocol& protocol, FlashMemory& memory, WireLog& log)
    : options_(options), pty_(pty), protocol_(protocol), memory_(memory), log_(log), faults_(options),
      lineModel_(options.lineModel == 1 || (options.lineModel == -1 && options.baud != 0)),
      targetRate_(options.baud) {
    now_ = lastArrival_ = lastDeparture_ = lastTraffic_ = SimClock::now();
}

SimClock::duration Simulator::ByteTime() const {
    // Start bit, 8 data bits, stop bit.
    if (!lineModel_ || hostRate_ == 0) return SimClock::duration::zero();
    return std::chrono::duration_cast<SimClock::duration>(std::chrono::duration<double>(10.0 / hostRate_));
}

uint32_t Simulator::RateAt(SimTime when) const {
    // The byte that completes at the switch moment is the last one at the old rate.
    if (rateSwitch_ && when > rateSwitch_->first) return rateSwitch_->second;
    return targetRate_;
}

bool Simulator::RatesMatch(uint32_t targetRate) const {
    // A UART samples each bit in its middle, so a few percent of difference still reads
    // correctly; beyond that the bytes are garbage.
    if (targetRate == 0 || hostRate_ == 0) return true;
    double ratio = static_cast<double>(hostRate_) / targetRate;
    return ratio > 0.98 && ratio < 1.02;
}

void Simulator::SwitchLineRate(uint32_t rate) {
    SimTime when = out_.empty() ? now_ : std::max(now_, lastDeparture_);
    if (rateSwitch_) targetRate_ = rateSwitch_->second;  // an earlier switch is surely done by now
    rateSwitch_ = {when, rate};
    Note(rate ? "line rate " + std::to_string(rate) + " from here on" : "line rate follows the host again");
}

void Simulator::Send(std::span<const uint8_t> bytes, std::chrono::milliseconds delay) {
    if (options_.silent || bytes.empty()) return;
    SimTime start = now_ + delay;
    SimClock::duration byteTime = ByteTime();
    for (uint8_t b : bytes) {
        SimTime due = std::max(start, lastDeparture_) + byteTime;
        lastDeparture_ = due;
        out_.push_back({b, due});
    }
}

void Simulator::Acknowledge(char command, std::chrono::milliseconds delay) {
    if (options_.silent) return;
    uint8_t wrong = options_.nak.value_or(kDefaultWrongByte);
    char text[80];
    switch (faults_.Next(command)) {
    case AckFate::Send:
        Send(std::span<const uint8_t>(&kAck, 1), delay);
        break;
    case AckFate::Drop:
        std::snprintf(text, sizeof text, "acknowledge of '%c' dropped", command);
        Note(text);
        break;
    case AckFate::Corrupt:
        std::snprintf(text, sizeof text, "acknowledge of '%c' sent as %02X", command, wrong);
        Note(text);
        Send(std::span<const uint8_t>(&wrong, 1), delay);
        break;
    }
}

void Simulator::Refuse(char) {
    if (options_.nak) Send(std::span<const uint8_t>(&*options_.nak, 1));
}

void Simulator::Note(const std::string& text) {
    log_.Note(now_, text);
    if (options_.verbose) std::fprintf(stderr, "vorlo-sim: %s\n", text.c_str());
}

void Simulator::ReadFromHost() {
    uint8_t buffer[kReadChunk];
    ssize_t count = read(pty_.master, buffer, sizeof buffer);
    if (count <= 0) return;
    SimTime readTime = SimClock::now();
    hostRate_ = PtyLineRate(pty_.master);  // the host may have changed it just before writing
    log_.Traffic(readTime, true, std::span<const uint8_t>(buffer, count));
    SimClock::duration byteTime = ByteTime();
    size_t lost = 0;
    for (ssize_t i = 0; i < count; ++i) {
        // On a real line the byte is complete one byte time after the previous one, or
        // after it was sent when the line was idle.
        now_ = lineModel_ ? std::max(readTime, lastArrival_) + byteTime : readTime;
        lastArrival_ = now_;
        if (!RatesMatch(RateAt(now_))) {
            ++lost;
            continue;
        }
        protocol_.Receive(buffer[i], *this);
    }
    if (lost) {
        Note(std::to_string(lost) + " byte(s) sent at " + std::to_string(hostRate_) + " baud lost: the target listens at " +
             std::to_string(RateAt(now_)) + " baud");
    }
    lastTraffic_ = std::max(lastArrival_, readTime);
}

void Simulator::WriteDue(SimTime realNow) {
    std::vector<Outgoing> due;
    std::vector<uint8_t> chunk;
    size_t lost = 0;
    while (!out_.empty() && out_.front().due <= realNow) {
        if (RatesMatch(RateAt(out_.front().due))) {
            due.push_back(out_.front());
            chunk.push_back(out_.front().byte);
        } else {
            ++lost;
        }
        out_.pop_front();
    }
    if (lost) Note(std::to_string(lost) + " answer byte(s) lost: the host listens at " + std::to_string(hostRate_) + " baud");
    size_t written = 0;
    while (written < chunk.size()) {
        ssize_t n = write(pty_.master, chunk.data() + written, chunk.size() - written);
        if (n >= 0) {
            written += static_cast<size_t>(n);
        } else if (errno != EINTR) {
            break;  // the host is not reading: keep the rest for later
        }
    }
    log_.Traffic(realNow, false, std::span<const uint8_t>(chunk.data(), written));
    for (size_t i = due.size(); i-- > written;) out_.push_front(due[i]);
    writeBlocked_ = written < chunk.size();
    if (written) lastTraffic_ = realNow;
    if (rateSwitch_ && realNow > rateSwitch_->first && (out_.empty() || out_.front().due > rateSwitch_->first)) {
        targetRate_ = rateSwitch_->second;
        rateSwitch_.reset();
    }
}

void Simulator::WaitUntilHostRead() {
    // Bytes still in the terminal when the master closes are lost to the host; give it
    // a moment to take the last answer.
    for (int i = 0; i < 200 && PtyUnreadByHost(pty_) > 0 && !g_stopSignal; ++i) usleep(5000);
    usleep(20000);
}

EndReason Simulator::Run() {
    for (;;) {
        if (g_stopSignal) return EndReason::Signal;
        hostRate_ = PtyLineRate(pty_.master);
        SimTime realNow = SimClock::now();
        WriteDue(realNow);
        if (exit_ && out_.empty()) {
            WaitUntilHostRead();
            return EndReason::Exec;
        }
        if (options_.timeoutSeconds > 0 && out_.empty() &&
            realNow - lastTraffic_ >= std::chrono::duration<double>(options_.timeoutSeconds))
            return EndReason::Inactivity;

        // Sleep until the next answer byte is due, a host byte comes, or the inactivity
        // limit is reached; a whole chunk of due bytes goes out per wake-up.
        SimTime wake = realNow + std::chrono::seconds(1);
        if (!out_.empty() && !writeBlocked_) wake = std::min(wake, out_.front().due);
        if (options_.timeoutSeconds > 0)
            wake = std::min(wake, lastTraffic_ + std::chrono::duration_cast<SimClock::duration>(
                                                      std::chrono::duration<double>(options_.timeoutSeconds)));
        auto wait = std::max(SimClock::duration::zero(), wake - realNow);
        timespec ts{static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(wait).count()),
                    static_cast<long>((wait % std::chrono::seconds(1)) / std::chrono::nanoseconds(1))};
        pollfd fds[2] = {{pty_.master, static_cast<short>(exit_ ? 0 : POLLIN), 0}, {pty_.hostWatch, POLLIN, 0}};
        if (writeBlocked_) fds[0].events |= POLLOUT;
        int ready = ppoll(fds, 2, &ts, &g_waitMask);
        PtyAllowReopen(pty_);
        if (ready > 0 && (fds[0].revents & POLLIN)) ReadFromHost();
    }
}
