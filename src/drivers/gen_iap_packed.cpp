#include "drivers/gen_iap_packed.hpp"

#include <algorithm>
#include <deque>
#include <vector>

#include "base/messages.hpp"
#include "drivers/gen_iap_link.hpp"
#include "drivers/kit/exchange.hpp"
#include "drivers/lpc/pack.hpp"
#include "serial/serial_port.hpp"

namespace {
constexpr uint8_t kCan = 0x18;  // the routine lost the frames' start: it hunts for the resync frame
constexpr uint8_t kResyncSeq = 0;
constexpr size_t kMostInFlight = 64;   // sequence numbers 1 to 255 stay unique on the way
constexpr int kAttempts = 3;

struct Frame {
    uint32_t address = 0;
    uint32_t length = 0;        // of the block
    std::vector<uint8_t> wire;  // the frame as last sent
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
    frame.length = length;
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

// Frames that were refused or not answered go out again, in the order they went out
// before, ahead of those not yet sent; three attempts in all.
void Again(std::vector<Frame> frames) {
    auto at = g_packed.waiting.begin();
    for (Frame& frame : frames) {
        if (++frame.attempts < kAttempts) {
            MsgPrint(MSG_DEBUG, "gen_iap: Failed to write %X. Try %i", frame.address, frame.attempts);
            at = g_packed.waiting.insert(at, std::move(frame)) + 1;
            continue;
        }
        MsgExplain("gen_iap: the routine refused the packed block at %08X, %u bytes, %i times: flash not erased, "
                   "outside its memory, or not programmed as sent.",
                   frame.address, static_cast<unsigned>(frame.length), kAttempts);
        g_packed.failed = true;
    }
}

// Milliseconds the answer to the oldest frame may take: the frames still on the line,
// then the routine's work on it (the flash, an erase it may still be busy with).
uint32_t AnswerTimeMs() {
    uint64_t lineMs = (uint64_t{g_packed.bytesInFlight} * ComCharTimeUs() + 999) / 1000;
    return static_cast<uint32_t>(lineMs) + kIapWriteTimeoutMs;
}

void Answered(size_t index, uint8_t status) {
    // Frames before the one answered got no answer of their own: the routine skipped them.
    std::vector<Frame> again;
    for (size_t i = 0; i <= index; ++i) {
        Frame frame = std::move(g_packed.inFlight.front());
        g_packed.inFlight.pop_front();
        g_packed.bytesInFlight -= frame.wire.size();
        if (i < index || status != kIapAck) again.push_back(std::move(frame));
    }
    Again(std::move(again));
}

const std::vector<uint8_t>& ResyncFrame() {
    static const std::vector<uint8_t> kResync = FrameBytes(kResyncSeq, 0xFFFFFFFF, 0, {});
    return kResync;
}

// An answer is the status, the sequence number and the complement of the two XORed.
bool GoodAnswer(const uint8_t* answer) { return answer[2] == static_cast<uint8_t>(~(answer[0] ^ answer[1])); }

// Sends the resync frame (behind filler) and reads until its answer comes: the routine
// then takes commands again. Every other answer on the way is set aside: the frames on
// their way go out again, which the routine takes in its stride (it leaves flash that
// already holds the data alone).
bool SendResync(size_t filler, uint32_t timeoutMs) {
    if (filler) {
        const std::vector<uint8_t> zeros(filler, 0);
        ComWrite(zeros.data(), zeros.size());
    }
    ComWrite(ResyncFrame().data(), ResyncFrame().size());
    uint8_t last[3] = {0xFF, 0xFF, 0xFF};
    uint8_t byte = 0;
    while (LinkReadFrame(&byte, 1, timeoutMs) == 1) {
        last[0] = last[1];
        last[1] = last[2];
        last[2] = byte;
        if (last[0] == kIapAck && last[1] == kResyncSeq && GoodAnswer(last)) return true;
    }
    return false;
}

// Lets the routine finish the frames it holds: their answers are thrown away (the
// frames go out again) until it has been quiet for a block's programming time. Filler
// sent earlier would land in the ring on top of frames not yet read: the routine would
// then run on bytes that the line overwrote.
void DrainAnswers() {
    constexpr uint32_t kQuietMs = 1000;
    const size_t most = 3 * (g_packed.inFlight.size() + 2) + g_packed.bytesInFlight;
    uint8_t byte = 0;
    for (size_t n = 0; n < most && LinkReadFrame(&byte, 1, kQuietMs) == 1; ++n) {
    }
}

// The filler that completes any frame the routine may still be reading: the longest one
// on its way, or a whole ring when none is.
size_t FillerBytes(const PackedLink& link) {
    size_t longest = 0;
    for (const Frame& frame : g_packed.inFlight) longest = std::max(longest, frame.wire.size());
    return longest && longest < link.ring ? longest : link.ring;
}

// Back to the frames' start after an answer that fits no frame, or none: once the
// routine is done with what it holds, filler that completes any frame it may still be
// reading, then the resync frame; the frames still on their way go out again.
void Resync(const PackedLink& link) {
    DrainAnswers();
    const size_t filler = FillerBytes(link);
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        MsgPrint(MSG_DEBUG, "gen_iap: resync, try %i", attempt);
        const uint32_t timeoutMs = static_cast<uint32_t>(
            (uint64_t{filler + g_packed.bytesInFlight} * ComCharTimeUs() + 999) / 1000 + 2000);
        if (SendResync(filler, timeoutMs)) {
            if (!g_packed.inFlight.empty()) Answered(g_packed.inFlight.size() - 1, kCan);
            return;
        }
        ComDiscardInput();
    }
    MsgError("gen_iap: The routine does not find the start of the frames again.");
}

// Waits for one answer and acts on it.
void Collect(const PackedLink& link) {
    uint8_t answer[3];
    if (LinkReadFrame(answer, 3, AnswerTimeMs()) < 3) {
        MsgPrint(MSG_DEBUG, "gen_iap: no answer to the packed block at %X", g_packed.inFlight.front().address);
        Resync(link);
        return;
    }
    auto it = std::find_if(g_packed.inFlight.begin(), g_packed.inFlight.end(),
                           [&](const Frame& f) { return f.seq == answer[1]; });
    if (!GoodAnswer(answer) || (answer[0] != kIapAck && answer[0] != kIapNak) || it == g_packed.inFlight.end()) {
        // A damaged header, a frame cut short, or an answer that belongs to no frame:
        // the routine's thread and the host's no longer agree.
        MsgPrint(MSG_DEBUG, "gen_iap: answer %02X %02X %02X to the packed blocks: resync", answer[0], answer[1],
                 answer[2]);
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
            const bool room = g_packed.inFlight.empty() || (g_packed.bytesInFlight + next <= link.window &&
                                                            g_packed.inFlight.size() < kMostInFlight);
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
    const bool ok = Pump(link, length == 0);
    if (length != 0 && ok) return true;
    // The end of the frames: the resync frame takes the routine back to its commands.
    PackedReset();
    if (!SendResync(0, kIapWriteTimeoutMs) && !SendResync(link.ring, kIapWriteTimeoutMs))
        MsgError("gen_iap: The routine does not take commands again after the packed blocks.");
    return ok;
}

void PackedReset() { g_packed = PackedState{}; }
