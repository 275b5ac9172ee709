#include "drivers/gen_iap_packed.hpp"

#include <algorithm>
#include <deque>
#include <vector>

#include "cli/messages.hpp"
#include "drivers/gen_iap_link.hpp"
#include "drivers/kit/exchange.hpp"
#include "drivers/lpc/pack.hpp"
#include "serial/serial_port.hpp"

namespace {
constexpr uint8_t kCan = 0x18;  // the routine lost the frames' start: it hunts for the resync frame
constexpr uint8_t kResyncSeq = 0;
constexpr size_t kFrameOverhead = 14;  // 'Z', header, its CRC, the data's CRC
constexpr size_t kMostInFlight = 64;   // sequence numbers 1 to 255 stay unique on the way
constexpr int kAttempts = 3;

struct Frame {
    uint32_t address = 0;
    std::vector<uint8_t> block;  // the bytes to program
    std::vector<uint8_t> wire;   // the frame as last sent
    uint8_t seq = 0;
    int attempts = 0;
};

struct PackedState {
    std::deque<Frame> waiting;   // to be sent
    std::deque<Frame> inFlight;  // sent, not answered, oldest first
    size_t bytesInFlight = 0;
    uint8_t seq = 0;
    bool failed = false;
};
PackedState g_packed;

void PutCrc16BigEndian(std::vector<uint8_t>& out, size_t from) {
    uint16_t crc = Crc16CcittFalse(0xFFFF, out.data() + from, out.size() - from);
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc));
}

// 'Z' seq address length size, the header's CRC (high byte first), the payload, its CRC.
std::vector<uint8_t> FrameBytes(uint8_t seq, uint32_t address, uint32_t length, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> wire = {'Z', seq};
    for (int i = 0; i < 4; ++i) wire.push_back(static_cast<uint8_t>(address >> (8 * i)));
    for (uint32_t v : {length, static_cast<uint32_t>(payload.size())}) {
        wire.push_back(static_cast<uint8_t>(v));
        wire.push_back(static_cast<uint8_t>(v >> 8));
    }
    PutCrc16BigEndian(wire, 1);
    wire.insert(wire.end(), payload.begin(), payload.end());
    uint16_t crc = Crc16CcittFalse(0xFFFF, payload.data(), payload.size());
    wire.push_back(static_cast<uint8_t>(crc));
    wire.push_back(static_cast<uint8_t>(crc >> 8));
    return wire;
}

uint8_t NextSeq() {
    g_packed.seq = static_cast<uint8_t>(g_packed.seq % 255 + 1);  // 0 is the resync frame's
    return g_packed.seq;
}

// The block packed, or as it is when packing does not make it smaller; halves (each on a
// 256-byte page) where the frame would not fit the routine's ring.
void Queue(const PackedLink& link, uint32_t address, const uint8_t* data, uint32_t length) {
    std::vector<uint8_t> payload = PackBlock(data, length);
    if (payload.size() >= length) payload.assign(data, data + length);
    if (payload.size() + 2 > link.ring && length > 256) {
        uint32_t half = (length / 2 + 255) & ~255u;
        Queue(link, address, data, half);
        Queue(link, address + half, data + half, length - half);
        return;
    }
    Frame frame;
    frame.address = address;
    frame.block.assign(data, data + length);
    frame.wire = FrameBytes(0, address, length, payload);
    g_packed.waiting.push_back(std::move(frame));
}

void Send(Frame frame) {
    frame.seq = NextSeq();
    frame.wire[1] = frame.seq;
    // The header's CRC covers the sequence number.
    std::vector<uint8_t> head(frame.wire.begin(), frame.wire.begin() + 10);
    PutCrc16BigEndian(head, 1);
    std::copy(head.begin() + 10, head.end(), frame.wire.begin() + 10);
    ComWrite(frame.wire.data(), frame.wire.size());
    g_packed.bytesInFlight += frame.wire.size();
    g_packed.inFlight.push_back(std::move(frame));
}

// A frame that was refused or not answered goes out again, three attempts in all.
void Again(Frame frame) {
    if (++frame.attempts < kAttempts) {
        MsgPrint(MSG_DEBUG, "gen_iap: Failed to write %X. Try %i", frame.address, frame.attempts);
        g_packed.waiting.push_front(std::move(frame));
        return;
    }
    MsgExplain("gen_iap: the routine refused the packed block at %08X, %u bytes, %i times: flash not erased, "
               "outside its memory, or not programmed as sent.",
               frame.address, static_cast<unsigned>(frame.block.size()), kAttempts);
    g_packed.failed = true;
}

// Milliseconds the answer to the oldest frame may take: the frames still on the line,
// then the routine's work on it (the flash, an erase it may still be busy with).
uint32_t AnswerTimeMs() {
    uint64_t lineMs = (uint64_t{g_packed.bytesInFlight} * ComCharTimeUs() + 999) / 1000;
    return static_cast<uint32_t>(lineMs) + kIapWriteTimeoutMs;
}

void Answered(size_t index, uint8_t status) {
    // Frames before the one answered got no answer of their own: the routine skipped them.
    for (size_t i = 0; i <= index; ++i) {
        Frame frame = std::move(g_packed.inFlight.front());
        g_packed.inFlight.pop_front();
        g_packed.bytesInFlight -= frame.wire.size();
        if (i < index || status != kIapAck) Again(std::move(frame));
    }
}

// Back to the frames' start: filler that completes any frame the routine may still be
// reading, then the resync frame, until it is answered. Answers that come before it
// still count for their frames; the frames left unanswered go out again.
void Resync(const PackedLink& link) {
    static const std::vector<uint8_t> kResync = [] {
        std::vector<uint8_t> wire = FrameBytes(kResyncSeq, 0xFFFFFFFF, 0, {});
        return wire;
    }();
    const std::vector<uint8_t> filler(link.ring, 0);
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        MsgPrint(MSG_DEBUG, "gen_iap: resync, try %i", attempt);
        ComWrite(filler.data(), filler.size());
        ComWrite(kResync.data(), kResync.size());
        const uint32_t timeoutMs = static_cast<uint32_t>(
            (uint64_t{filler.size() + g_packed.bytesInFlight} * ComCharTimeUs() + 999) / 1000 + 2000);
        uint8_t answer[2];
        while (LinkReadFrame(answer, 2, timeoutMs) == 2) {
            if (answer[0] == kIapAck && answer[1] == kResyncSeq) {
                while (!g_packed.inFlight.empty()) Answered(g_packed.inFlight.size() - 1, kCan);
                return;
            }
            auto it = std::find_if(g_packed.inFlight.begin(), g_packed.inFlight.end(),
                                   [&](const Frame& f) { return f.seq == answer[1]; });
            if (answer[0] == kIapAck && it != g_packed.inFlight.end())
                Answered(static_cast<size_t>(it - g_packed.inFlight.begin()), kIapAck);
        }
        ComDiscardInput();
    }
    MsgError("gen_iap: The routine does not find the start of the frames again.");
}

// Waits for one answer (status and sequence number) and acts on it.
void Collect(const PackedLink& link) {
    uint8_t answer[2];
    if (LinkReadFrame(answer, 2, AnswerTimeMs()) < 2) {
        MsgPrint(MSG_DEBUG, "gen_iap: no answer to the packed block at %X", g_packed.inFlight.front().address);
        Resync(link);
        return;
    }
    auto it = std::find_if(g_packed.inFlight.begin(), g_packed.inFlight.end(),
                           [&](const Frame& f) { return f.seq == answer[1]; });
    if (answer[0] == kCan || (answer[0] != kIapAck && answer[0] != kIapNak) ||
        (it == g_packed.inFlight.end())) {
        // A damaged header, or an answer that belongs to no frame: the routine's thread
        // and the host's no longer agree.
        MsgPrint(MSG_DEBUG, "gen_iap: answer %02X %02X to the packed blocks: resync", answer[0], answer[1]);
        Resync(link);
        return;
    }
    Answered(static_cast<size_t>(it - g_packed.inFlight.begin()), answer[0]);
}

// Sends what is waiting as far as the window allows; with `all`, until every frame is
// answered.
bool Pump(const PackedLink& link, bool all) {
    while (!g_packed.failed && (!g_packed.waiting.empty() || (all && !g_packed.inFlight.empty()))) {
        if (!g_packed.waiting.empty()) {
            const size_t next = g_packed.waiting.front().wire.size();
            const bool room = g_packed.inFlight.empty() ||
                              (g_packed.bytesInFlight + next <= link.window && g_packed.inFlight.size() < kMostInFlight);
            if (room) {
                Frame frame = std::move(g_packed.waiting.front());
                g_packed.waiting.pop_front();
                Send(std::move(frame));
                continue;
            }
        }
        Collect(link);
    }
    return !g_packed.failed;
}
}  // namespace

bool PackedWrite(const PackedLink& link, uint32_t address, const uint8_t* data, uint32_t length) {
    if (length > kIapMaxBlock) MsgError("gen_iap: Block size >%i not supported.", static_cast<int>(kIapMaxBlock));
    if (length != 0) Queue(link, address, data, length);
    bool ok = Pump(link, length == 0);
    if (length == 0 || !ok) PackedReset();
    return ok;
}

void PackedReset() { g_packed = PackedState{}; }
