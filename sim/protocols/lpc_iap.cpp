// LPC_IAP target: an application on an LPC part whose own firmware has a programming
// mode. The application speaks the byte-stuffed, channelled link (link_framing.hpp);
// the data byte 0A on channel 5 asks for the programming mode and is answered on the
// link, A2 05 0B. With an ISP request configured, the application also answers those
// raw bytes with the ISP response and enters the programming mode.
//
// The programming mode runs the UART at 9600 baud and takes plain write records:
// address (LE32), length (LE16, 0 to 256), data, no check. Each record is acknowledged
// with 06, or refused with 15. A record of length 0 marks the end of a host's writes;
// it is acknowledged too and the mode goes on (only a reset leaves it). There is no
// erase command: the flash starts erased and records program it as NOR flash does, so
// a record over cells programmed before is refused (--overwrite lifts that).
//
// Reply keys: "entry" for the answer to the framed request, "isp" for the ISP response,
// "record" for each record's acknowledge.
#include <string>
#include <vector>

#include "protocol.hpp"
#include "protocols/link_framing.hpp"
#include "protocols/option_rows.hpp"
#include "text.hpp"

namespace {

constexpr uint8_t kEntryRequest = 0x0A;  // the data byte on channel 5
constexpr uint32_t kProgrammingRate = 9600;
constexpr uint32_t kMaxRecord = 256;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
// IAP programming as on the LPC parts: 1 ms per 256 bytes.
constexpr uint32_t kProgramMsPer256 = 1;

struct LpcIapSettings : ProtocolSettings {
    std::vector<uint8_t> entryAnswer{0xA2, 0x05, 0x0B};  // as on the wire
    std::vector<uint8_t> ispRequest;
    std::vector<uint8_t> ispResponse;

    bool Check(std::string& error) const override { return CheckIspRequest(ispRequest, ispResponse, error); }
    std::optional<uint8_t> RefusalByte() const override { return kNak; }
};

class LpcIapTarget : public Protocol {
public:
    explicit LpcIapTarget(const LpcIapSettings& s) : settings_(s) {}

    void Receive(uint8_t byte, Target& t) override {
        if (programming_) {
            RecordByte(byte, t);
            return;
        }
        const std::vector<uint8_t>& request = settings_.ispRequest;
        if (!request.empty()) {
            recent_.push_back(byte);
            if (recent_.size() > request.size()) recent_.erase(recent_.begin());
            if (recent_ == request) {
                recent_.clear();
                Enter("isp", settings_.ispResponse, t);
                return;
            }
        }
        std::vector<uint8_t> message;
        if (link_.Feed(byte, message)) Enter("entry", settings_.entryAnswer, t);
    }

private:
    void Enter(const char* key, const std::vector<uint8_t>& answer, Target& t) {
        std::string what = std::string(key) == "isp" ? "ISP request" : "entry request";
        // Refused, the application stays as it is and does not answer.
        if (RefusedSilently(t, key, "lpc_iap: " + what)) return;
        t.Note("lpc_iap: " + what + ", programming mode at 9600 baud");
        t.Reply(key, answer);
        t.SwitchLineRate(kProgrammingRate);
        programming_ = true;
        record_.clear();
    }

    void RecordByte(uint8_t byte, Target& t) {
        SimTime now = t.Now();
        if (!record_.empty() && now - lastByte_ > std::chrono::milliseconds(t.Options().frameTimeoutMs)) {
            t.Note(Format("lpc_iap: record dropped after a pause (%zu bytes received)", record_.size()));
            record_.clear();
        }
        lastByte_ = now;
        record_.push_back(byte);
        if (record_.size() < 6) return;
        // A record longer than the buffer is taken to its end all the same, so that the
        // next record is found, and refused.
        uint32_t length = record_[4] | (uint32_t{record_[5]} << 8);
        if (record_.size() < 6 + length) return;
        std::vector<uint8_t> record;
        record.swap(record_);
        Record(record, t);
    }

    void Record(const std::vector<uint8_t>& record, Target& t) {
        uint32_t address = record[0] | (uint32_t{record[1]} << 8) | (uint32_t{record[2]} << 16) | (uint32_t{record[3]} << 24);
        uint32_t length = record[4] | (uint32_t{record[5]} << 8);
        std::string what = Format("lpc_iap: record %08X, %u bytes", address, length);
        auto refuse = [&](const std::string& why) {
            t.Note(what + ": " + why);
            t.Reply("record", std::span<const uint8_t>(&kNak, 1));
        };
        if (t.Refuses("record")) return refuse("refused (nak fault)");
        if (length > kMaxRecord) return refuse(Format("longer than %u, refused", kMaxRecord));
        if (length == 0) {
            t.Note("lpc_iap: empty record: end of the host's writes");
            t.Reply("record", std::span<const uint8_t>(&kAck, 1));
            return;
        }
        uint32_t where = 0;
        switch (t.Memory().WriteFlash(address, std::span<const uint8_t>(record.data() + 6, length), where)) {
        case WriteResult::Ok:
            break;
        case WriteResult::OutOfRange:
            return refuse(Format("%08X is outside the flash, refused", where));
        case WriteResult::NotErased:
            return refuse(Format("%08X is not erased, refused", where));
        }
        uint32_t workMs = t.Options().LineModelled() ? (length * kProgramMsPer256 + 255) / 256 : 0;
        t.Note(what);
        t.Reply("record", std::span<const uint8_t>(&kAck, 1), std::chrono::milliseconds(workMs));
    }

    LpcIapSettings settings_;
    LinkReceiver link_{false, kEntryRequest};
    std::vector<uint8_t> recent_;  // the last bytes, compared with the ISP request
    bool programming_ = false;
    std::vector<uint8_t> record_;
    SimTime lastByte_{};
};

constexpr auto kIspRows = IspRequestRows<LpcIapSettings>("the application also answers these raw request bytes",
                                                         "... with these response bytes, and enters programming");
const ProtocolOption kOptions[] = {
    HexBytesRow<&LpcIapSettings::entryAnswer>(
        "--entry-answer", "the entry answer as on the wire (default A2050B;\nA205A1F4 sends the 0B complemented)"),
    kIspRows[0],
    kIspRows[1],
};

}  // namespace

const ProtocolEntry& LpcIapProtocol() {
    static const ProtocolEntry entry = ProtocolEntryFor<LpcIapSettings, LpcIapTarget>(
        "lpc_iap",
        "an application with a programming mode behind its byte-stuffed\n"
        "link: on the framed entry request (or an ISP request) it takes\n"
        "address/length/data records at 9600 baud, each acknowledged",
        "entry isp record", nullptr, kOptions);
    return entry;
}
