#include "serial/network_port.hpp"

#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

#include "base/messages.hpp"
#include "base/text.hpp"
#include "platform/process.hpp"
#include "platform/serial_device.hpp"
#include "platform/socket.hpp"

namespace {
// Telnet: commands behind IAC, option negotiation and subnegotiation.
constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPortOption = 44;
// COM-PORT-OPTION commands from the client; the server answers each with its code + 100.
constexpr uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5,
                  kPurgeData = 12;
constexpr uint8_t kServerReply = 100;
constexpr uint8_t kDtrOn = 8, kDtrOff = 9, kRtsOn = 11, kRtsOff = 12;
constexpr uint8_t kPurgeBoth = 3;

constexpr uint32_t kConnectMs = 5000;      // a host that does not answer at all
constexpr uint32_t kNegotiationMs = 3000;  // a server that does not speak the option
constexpr uint32_t kReplyMs = 3000;        // the server's confirmation of a line setting
constexpr uint32_t kControlReplyMs = 150;  // ... of DTR or RTS, which a port may not have

struct Url {
    bool rfc2217 = false;
    std::string host;
    uint16_t port = 0;
};

bool ParseUrl(const std::string& name, Url& url) {
    const std::string lower = LowerCase(name);
    std::string rest;
    if (lower.rfind("rfc2217://", 0) == 0) {
        url.rfc2217 = true;
        rest = name.substr(10);
    } else if (lower.rfind("socket://", 0) == 0) {
        url.rfc2217 = false;
        rest = name.substr(9);
    } else {
        return false;
    }
    size_t colon;
    if (!rest.empty() && rest[0] == '[') {  // [IPv6]:port
        size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return false;
        url.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) return false;
        url.host = rest.substr(0, colon);
    }
    const std::string digits = rest.substr(colon + 1);
    char* end = nullptr;
    unsigned long port = strtoul(digits.c_str(), &end, 10);
    if (url.host.empty() || digits.empty() || *end != '\0' || port < 1 || port > 65535) return false;
    url.port = static_cast<uint16_t>(port);
    return true;
}

uint64_t NowMs() { return MonotonicUs() / 1000; }

class NetworkPort : public serialdev::Port {
public:
    NetworkPort(SocketHandle s, const std::string& name, bool rfc2217) : s_(s), name_(name), rfc2217_(rfc2217) {}
    ~NetworkPort() override {
        if (s_ != kNoSocket) SocketClose(s_);
    }

    // The telnet options a COM port server wants: binary data both ways, no go-ahead,
    // and the COM port option, which the server must take.
    bool Negotiate(std::string& why) {
        SendRaw({kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kSuppressGoAhead, kIac, kDo, kSuppressGoAhead,
                 kIac, kWill, kComPortOption});
        sentWill_ = {kBinary, kSuppressGoAhead, kComPortOption};
        sentDo_ = {kBinary, kSuppressGoAhead};
        const uint64_t deadline = NowMs() + kNegotiationMs;
        while (comPort_ == Answer::None && !closed_) {
            const uint64_t now = NowMs();
            if (now >= deadline) break;
            Pump(static_cast<uint32_t>(deadline - now));
        }
        if (comPort_ == Answer::Yes) return true;
        why = closed_ ? closedWhy_
                      : comPort_ == Answer::No ? "the server refuses the COM port option"
                                               : "no answer to the RFC 2217 negotiation within 3 s";
        return false;
    }

    bool CanReadLine() override { return !closed_; }

    bool SetLine(const serialdev::LineSettings& line) override {
        if (!rfc2217_) return true;  // the server's business, as said at the open
        static const uint8_t kParity[] = {1, 2, 3, 4, 5};  // none, odd, even, mark, space
        static const uint8_t kStop[] = {1, 3, 2};          // one, one and a half, two
        if (line.parity < 0 || line.parity > 4 || line.stopBits < 0 || line.stopBits > 2) return false;
        replies_.clear();
        SendCommand(kSetBaudRate, {static_cast<uint8_t>(line.baud >> 24), static_cast<uint8_t>(line.baud >> 16),
                                   static_cast<uint8_t>(line.baud >> 8), static_cast<uint8_t>(line.baud)});
        SendCommand(kSetDataSize, {static_cast<uint8_t>(line.dataBits)});
        SendCommand(kSetParity, {kParity[line.parity]});
        SendCommand(kSetStopSize, {kStop[line.stopBits]});
        // Nothing goes out at the new rate before the server has set it.
        for (uint8_t command : {kSetBaudRate, kSetDataSize, kSetParity, kSetStopSize})
            if (!AwaitReply(command)) {
                MsgExplain("%s: the server did not confirm the line setting %u (%s).", name_.c_str(), command,
                           closed_ ? closedWhy_.c_str() : "no answer within 3 s");
                return false;
            }
        return true;
    }

    size_t ReadTimed(uint8_t* buf, size_t n, uint32_t intervalMs, uint32_t totalMs) override {
        size_t got = 0;
        const uint64_t start = NowMs();
        uint64_t lastByte = start;
        while (got < n) {
            const size_t took = Take(buf + got, n - got);
            got += took;
            if (took) lastByte = NowMs();
            if (got == n) break;
            const int64_t wait = serialdev::ReadWaitMs(start, lastByte, NowMs(), got, intervalMs, totalMs);
            if (wait == 0) break;
            if (!Pump(wait < 0 ? 3600000u : static_cast<uint32_t>(wait)) && closed_) break;
        }
        return got;
    }

    size_t ReadAvailable(uint8_t* buf, size_t n, uint32_t waitUs) override {
        const uint64_t deadline = MonotonicUs() + waitUs;
        while (in_.empty() && !closed_) {
            const uint64_t now = MonotonicUs();
            if (now >= deadline) {
                Pump(0);
                break;
            }
            Pump(static_cast<uint32_t>((deadline - now + 999) / 1000));
        }
        return Take(buf, n);
    }

    long WriteAll(const uint8_t* data, size_t n) override {
        serialdev::Piece piece{data, n};
        return WriteGather(&piece, 1);
    }

    long WriteGather(const serialdev::Piece* pieces, int count) override {
        std::vector<uint8_t> raw;
        long total = 0;
        for (int i = 0; i < count; ++i) {
            const uint8_t* bytes = static_cast<const uint8_t*>(pieces[i].data);
            for (size_t k = 0; k < pieces[i].size; ++k) {
                raw.push_back(bytes[k]);
                if (rfc2217_ && bytes[k] == kIac) raw.push_back(kIac);  // data IAC goes doubled
            }
            total += static_cast<long>(pieces[i].size);
        }
        // Once the connection is gone the bytes are lost: said once, then the target's
        // silence ends the operation as it would on a cable that was pulled.
        SendRaw(raw);
        return total;
    }

    size_t InputWaiting() override {
        while (Pump(0)) {
        }
        return in_.size();
    }

    // The server's buffers are purged with the port's; before every request only what
    // came here is thrown away: a purge per request would cost a reply per request.
    void Flush() override { Purge(true); }
    void FlushInput() override { Purge(false); }

    bool SetDtr(bool on) override { return Control(on ? kDtrOn : kDtrOff); }
    bool SetRts(bool on) override { return Control(on ? kRtsOn : kRtsOff); }
    bool SetBreak(bool) override { return false; }

    bool RestoreAndClose() override {
        SocketHandle s = s_;
        s_ = kNoSocket;
        SocketClose(s);
        return true;
    }

    long Id() const override { return static_cast<long>(s_); }
    std::string LastError() const override { return closedWhy_; }

private:
    enum class Answer { None, Yes, No };
    enum class Rx { Data, Iac, Verb, Sub, SubIac };

    void SendRaw(const std::vector<uint8_t>& raw) {
        size_t done = 0;
        while (!closed_ && done < raw.size()) {
            long k = SocketSend(s_, raw.data() + done, raw.size() - done);
            if (k <= 0) {
                Closed(SocketSystemText(SocketLastError()));
                break;
            }
            done += static_cast<size_t>(k);
        }
    }

    void SendCommand(uint8_t command, const std::vector<uint8_t>& value) {
        std::vector<uint8_t> raw = {kIac, kSb, kComPortOption, command};
        for (uint8_t b : value) {
            raw.push_back(b);
            if (b == kIac) raw.push_back(kIac);
        }
        raw.push_back(kIac);
        raw.push_back(kSe);
        SendRaw(raw);
    }

    bool AwaitReply(uint8_t command, uint32_t timeoutMs = kReplyMs) {
        const uint64_t deadline = NowMs() + timeoutMs;
        for (;;) {
            for (uint8_t r : replies_)
                if (r == command + kServerReply) return true;
            const uint64_t now = NowMs();
            if (closed_ || now >= deadline) return false;
            Pump(static_cast<uint32_t>(deadline - now));
        }
    }

    // A line change or purge is done once the server says so: what follows it on the
    // line comes after it, as on a local port. A server whose port has no modem lines
    // (a pseudo-terminal) does not confirm DTR and RTS: after the first such silence the
    // lines are sent without waiting, and reported as not there, as a local port does.
    bool Control(uint8_t what) {
        if (!rfc2217_ || closed_) return false;
        replies_.clear();
        SendCommand(kSetControl, {what});
        if (noModemLines_) return false;
        if (AwaitReply(kSetControl, kControlReplyMs)) return true;
        noModemLines_ = true;
        return false;
    }

    void Purge(bool server) {
        if (rfc2217_ && server && !closed_) {
            replies_.clear();
            SendCommand(kPurgeData, {kPurgeBoth});
            AwaitReply(kPurgeData);
        }
        while (Pump(0)) {
        }
        in_.clear();
    }

    // Data bytes received so far, up to n.
    size_t Take(uint8_t* buf, size_t n) {
        size_t k = 0;
        while (k < n && !in_.empty()) {
            buf[k++] = in_.front();
            in_.pop_front();
        }
        return k;
    }

    // Receives what the server sent, waiting up to waitMs for the first byte. False when
    // nothing came.
    bool Pump(uint32_t waitMs) {
        if (closed_ || !SocketWaitReadable(s_, waitMs)) return false;
        uint8_t chunk[4096];
        long k = SocketReceive(s_, chunk, sizeof chunk);
        // Acknowledged at once: a server that holds its next small write until then (the
        // answer of the target) would otherwise wait for the delayed acknowledgement.
        SocketAcknowledgeNow(s_);
        if (k <= 0) {
            Closed(k == 0 ? "the server closed the connection" : SocketSystemText(SocketLastError()));
            return false;
        }
        Decode(chunk, static_cast<size_t>(k));
        return true;
    }

    void Decode(const uint8_t* bytes, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const uint8_t b = bytes[i];
            if (!rfc2217_) {
                in_.push_back(b);
                continue;
            }
            switch (rx_) {
            case Rx::Data:
                if (b == kIac) rx_ = Rx::Iac;
                else in_.push_back(b);
                break;
            case Rx::Iac:
                if (b == kIac) {
                    in_.push_back(b);
                    rx_ = Rx::Data;
                } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
                    verb_ = b;
                    rx_ = Rx::Verb;
                } else if (b == kSb) {
                    sub_.clear();
                    rx_ = Rx::Sub;
                } else {
                    rx_ = Rx::Data;  // a command without option (NOP, GA ...)
                }
                break;
            case Rx::Verb:
                Option(verb_, b);
                rx_ = Rx::Data;
                break;
            case Rx::Sub:
                if (b == kIac) rx_ = Rx::SubIac;
                else sub_.push_back(b);
                break;
            case Rx::SubIac:
                if (b == kSe) {
                    if (sub_.size() >= 2 && sub_[0] == kComPortOption) replies_.push_back(sub_[1]);
                    rx_ = Rx::Data;
                } else {
                    sub_.push_back(b);  // IAC IAC inside: a data byte 255
                    rx_ = Rx::Sub;
                }
                break;
            }
        }
    }

    // The server's option negotiation: what the client offered is confirmed by it, the
    // rest refused once each, so that the two never negotiate in a loop.
    void Option(uint8_t verb, uint8_t option) {
        if (option == kComPortOption && (verb == kDo || verb == kDont)) comPort_ = verb == kDo ? Answer::Yes : Answer::No;
        auto sentBefore = [](std::vector<uint8_t>& sent, uint8_t o) {
            for (uint8_t s : sent)
                if (s == o) return true;
            sent.push_back(o);
            return false;
        };
        if (verb == kDo && !sentBefore(sentWill_, option)) SendRaw({kIac, kWont, option});
        if (verb == kWill && !sentBefore(sentDo_, option)) SendRaw({kIac, kDont, option});
    }

    void Closed(const std::string& why) {
        if (closed_) return;
        closed_ = true;
        closedWhy_ = why;
        MsgExplain("%s: the connection ended: %s.", name_.c_str(), why.c_str());
    }

    SocketHandle s_;
    std::string name_;
    bool rfc2217_;
    std::deque<uint8_t> in_;  // data received, not yet read
    Rx rx_ = Rx::Data;
    uint8_t verb_ = 0;
    std::vector<uint8_t> sub_;
    std::vector<uint8_t> replies_;  // the server's COM port replies since the last setting
    std::vector<uint8_t> sentWill_, sentDo_;
    Answer comPort_ = Answer::None;
    bool noModemLines_ = false;
    bool closed_ = false;
    std::string closedWhy_;
};

class NetworkDevice : public serialdev::Device {
public:
    std::unique_ptr<serialdev::Port> Open(const std::string& name, serialdev::OpenFailure& failure) override {
        Url url;
        if (!ParseUrl(name, url)) {
            failure = {"not a network port (rfc2217://HOST:PORT or socket://HOST:PORT)", ""};
            return nullptr;
        }
        const std::string where = url.host + ":" + std::to_string(url.port);
        std::string why;
        SocketHandle s = SocketConnectStream(url.host, url.port, kConnectMs, why);
        if (s == kNoSocket) {
            failure = {"no serial server there", where + ": " + why + "."};
            return nullptr;
        }
        auto port = std::make_unique<NetworkPort>(s, name, url.rfc2217);
        if (url.rfc2217 && !port->Negotiate(why)) {
            failure = {"no RFC 2217 server", where + ": " + why + " (a raw TCP port is socket://" + where + ")."};
            return nullptr;
        }
        if (!url.rfc2217) {
            MsgPrint(MSG_NOTE, "%s carries bytes only: the server sets the rate, the character format and DTR/RTS.",
                     name.c_str());
        }
        return port;
    }

    bool Probe(const std::string& name) override {
        Url url;
        return ParseUrl(name, url);
    }
};
}  // namespace

bool IsNetworkPortName(const std::string& name) {
    const std::string lower = LowerCase(name);
    return lower.rfind("rfc2217://", 0) == 0 || lower.rfind("socket://", 0) == 0;
}

serialdev::Device& NetworkSerialDevice() {
    static NetworkDevice device;
    return device;
}
