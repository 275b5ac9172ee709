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

constexpr size_t kReadChunk = 4096;

std::string Hex(std::span<const uint8_t> bytes) {
    std::string text;
    char b[4];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof b, text.empty() ? "%02X" : " %02X", v);
        text += b;
    }
    return text.empty() ? "nothing" : text;
}

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

Simulator::Simulator(const SimOptions& options, const Pty& pty, Protocol& protocol, TargetMemory& memory, WireLog& log)
    : options_(options), pty_(pty), protocol_(protocol), memory_(memory), log_(log), faults_(options.faults),
      lineModel_(options.LineModelled()),
      format_(options.line.value_or(LineFormat{})), checkStopBits_(options.line.has_value()),
      targetRate_(options.baud ? options.baud : options.settings->StartRate()) {
    now_ = lastArrival_ = lastDeparture_ = lastTraffic_ = SimClock::now();
}

SimClock::duration Simulator::ByteTime() const {
    // Start bit, data bits, parity bit, stop bits.
    if (!lineModel_ || host_.rate == 0) return SimClock::duration::zero();
    return std::chrono::duration_cast<SimClock::duration>(
        std::chrono::duration<double>(format_.BitsPerByte() / host_.rate));
}

uint32_t Simulator::RateAt(SimTime when) const {
    // The byte that completes at the switch moment is the last one at the old rate.
    if (rateSwitch_ && when > rateSwitch_->first) return rateSwitch_->second;
    return targetRate_;
}

Simulator::Mismatch Simulator::LineMismatch(uint32_t targetRate) const {
    // A UART samples each bit in its middle, so a few percent of difference still reads
    // correctly; beyond that the bytes are garbage.
    if (targetRate != 0 && host_.rate != 0) {
        double ratio = static_cast<double>(host_.rate) / targetRate;
        if (ratio <= 0.98 || ratio >= 1.02) return Mismatch::Rate;
    }
    // Stricter than most UARTs, which look at the first stop bit only: a host whose
    // stop bits differ is not understood, so that a wrong line format shows in tests.
    if (checkStopBits_ && host_.twoStopBits != format_.MoreThanOneStopBit()) return Mismatch::StopBits;
    return Mismatch::None;
}

void Simulator::SwitchLineRate(uint32_t rate) {
    SimTime when = out_.empty() ? now_ : std::max(now_, lastDeparture_);
    if (rateSwitch_) targetRate_ = rateSwitch_->second;  // an earlier switch is surely done by now
    rateSwitch_ = {when, rate};
    Note(rate ? "line rate " + std::to_string(rate) + " from here on" : "line rate follows the host again");
}

void Simulator::Queue(std::span<const uint8_t> bytes, std::chrono::microseconds delay) {
    SimTime start = now_ + delay;
    SimClock::duration byteTime = ByteTime();
    for (uint8_t b : bytes) {
        SimTime due = std::max(start, lastDeparture_) + byteTime;
        lastDeparture_ = due;
        out_.push_back({b, due});
    }
}

void Simulator::Reply(std::string_view key, std::span<const uint8_t> bytes, std::chrono::microseconds delay) {
    std::vector<const FaultItem*> hits;
    uint32_t number = faults_.Count(key, hits);
    std::vector<uint8_t> reply(bytes.begin(), bytes.end());
    bool drop = false;
    bool dup = false;
    for (FaultKind kind : {FaultKind::Nak, FaultKind::Corrupt, FaultKind::Short, FaultKind::Dup, FaultKind::Late,
                           FaultKind::Drop}) {
        for (const FaultItem* fault : hits) {
            if (fault->kind != kind) continue;
            std::string detail;
            switch (kind) {
            case FaultKind::Nak:  // the protocol asked Refuses() and sent its refusal
                break;
            case FaultKind::Corrupt:
                if (!reply.empty()) {
                    uint8_t before = reply[0];
                    reply[0] = fault->hasArg ? static_cast<uint8_t>(fault->arg) : static_cast<uint8_t>(~before);
                    char text[32];
                    std::snprintf(text, sizeof text, " (%02X sent as %02X)", before, reply[0]);
                    detail = text;
                }
                break;
            case FaultKind::Short:
                if (!reply.empty()) reply.pop_back();
                detail = " (" + Hex(reply) + " sent)";
                break;
            case FaultKind::Dup:
                dup = true;
                break;
            case FaultKind::Late:
                delay += std::chrono::milliseconds(fault->arg);
                detail = " (" + std::to_string(fault->arg) + " ms)";
                break;
            case FaultKind::Drop:
                drop = true;
                break;
            }
            Note("fault: " + std::string(FaultKindName(kind)) + " of " + std::string(key) + "#" +
                 std::to_string(number) + detail);
        }
    }
    if (drop) return;
    if (dup) {
        std::vector<uint8_t> once = reply;
        reply.insert(reply.end(), once.begin(), once.end());
    }
    Queue(reply, delay);
}

bool Simulator::Received(std::string_view key, uint8_t& byte) {
    std::vector<const FaultItem*> hits;
    uint32_t number = faults_.CountReceived(key, hits);
    bool kept = true;
    for (const FaultItem* fault : hits) {
        std::string detail;
        if (fault->kind == FaultKind::Corrupt) {
            uint8_t before = byte;
            byte = fault->hasArg ? static_cast<uint8_t>(fault->arg) : static_cast<uint8_t>(~before);
            char text[40];
            std::snprintf(text, sizeof text, " (%02X received as %02X)", before, byte);
            detail = text;
        } else if (fault->kind == FaultKind::Drop) {
            kept = false;
        } else {
            continue;  // nak, short, dup and late are about replies
        }
        Note("fault: " + std::string(FaultKindName(fault->kind)) + " of " + std::string(key) + "#" +
             std::to_string(number) + detail);
    }
    return kept;
}

void Simulator::Note(const std::string& text) {
    log_.Note(now_, text);
    if (options_.verbose) std::fprintf(stderr, "vorlo-sim: %s\n", text.c_str());
}

void Simulator::Warn(const std::string& text) {
    log_.Note(now_, text);
    std::fprintf(stderr, "vorlo-sim: %s\n", text.c_str());
}

void Simulator::ReadFromHost() {
    uint8_t buffer[kReadChunk];
    ssize_t count = read(pty_.master, buffer, sizeof buffer);
    if (count <= 0) return;
    // A host that opened the terminal just before writing: its connect comes first.
    WatchHost();
    SimTime readTime = SimClock::now();
    host_ = PtyReadLine(pty_.master);  // the host may have changed it just before writing
    log_.Traffic(readTime, true, std::span<const uint8_t>(buffer, count));
    SimClock::duration byteTime = ByteTime();
    size_t lost = 0;
    Mismatch lostFor = Mismatch::None;
    for (ssize_t i = 0; i < count; ++i) {
        // On a real line the byte is complete one byte time after the previous one, or
        // after it was sent when the line was idle.
        now_ = lineModel_ ? std::max(readTime, lastArrival_) + byteTime : readTime;
        lastArrival_ = now_;
        Mismatch mismatch = LineMismatch(RateAt(now_));
        if (mismatch != Mismatch::None) {
            ++lost;
            lostFor = mismatch;
            continue;
        }
        protocol_.Receive(buffer[i], *this);
    }
    protocol_.EndOfInput(*this);
    if (lostFor == Mismatch::Rate) {
        Note(std::to_string(lost) + " byte(s) sent at " + std::to_string(host_.rate) +
             " baud lost: the target listens at " + std::to_string(RateAt(now_)) + " baud");
    } else if (lostFor == Mismatch::StopBits) {
        Note(std::to_string(lost) + " byte(s) sent with " + (host_.twoStopBits ? "2 stop bits" : "1 stop bit") +
             " lost: the target's line is " + format_.Text());
    }
    lastTraffic_ = std::max(lastArrival_, readTime);
}

void Simulator::WatchHost() {
    if (!PtyAllowReopen(pty_)) return;
    now_ = std::max(now_, SimClock::now());
    protocol_.HostOpened(*this);
}

void Simulator::WriteDue(SimTime realNow) {
    std::vector<Outgoing> due;
    std::vector<uint8_t> chunk;
    size_t lost = 0;
    Mismatch lostFor = Mismatch::None;
    while (!out_.empty() && out_.front().due <= realNow) {
        Mismatch mismatch = LineMismatch(RateAt(out_.front().due));
        if (mismatch == Mismatch::None) {
            due.push_back(out_.front());
            chunk.push_back(out_.front().byte);
        } else {
            ++lost;
            lostFor = mismatch;
        }
        out_.pop_front();
    }
    if (lostFor == Mismatch::Rate)
        Note(std::to_string(lost) + " answer byte(s) lost: the host listens at " + std::to_string(host_.rate) + " baud");
    else if (lostFor == Mismatch::StopBits)
        Note(std::to_string(lost) + " answer byte(s) lost: the host's line has " +
             (host_.twoStopBits ? "2 stop bits" : "1 stop bit") + ", the target's is " + format_.Text());
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
        host_ = PtyReadLine(pty_.master);
        SimTime realNow = SimClock::now();
        if (!exit_ && realNow >= workAt_) {
            now_ = realNow;  // the protocol's own work happens now, not at a byte's arrival
            workAt_ = protocol_.Work(*this);
            realNow = SimClock::now();
        }
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
        if (!exit_) wake = std::min(wake, std::max(workAt_, realNow));
        if (options_.timeoutSeconds > 0)
            wake = std::min(wake, lastTraffic_ + std::chrono::duration_cast<SimClock::duration>(
                                                      std::chrono::duration<double>(options_.timeoutSeconds)));
        auto wait = std::max(SimClock::duration::zero(), wake - realNow);
        timespec ts{static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(wait).count()),
                    static_cast<long>((wait % std::chrono::seconds(1)) / std::chrono::nanoseconds(1))};
        pollfd fds[2] = {{pty_.master, static_cast<short>(exit_ ? 0 : POLLIN), 0}, {pty_.hostWatch, POLLIN, 0}};
        if (writeBlocked_) fds[0].events |= POLLOUT;
        int ready = ppoll(fds, 2, &ts, &g_waitMask);
        WatchHost();
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            ReadFromHost();
            workAt_ = SimTime::min();  // the bytes may be what the protocol's work waits for
        }
    }
}
