#include "drivers/gen_iap_link.hpp"

#include <algorithm>

#include "base/messages.hpp"
#include "drivers/kit/exchange.hpp"
#include "serial/serial_port.hpp"

uint16_t Crc16CcittFalse(uint16_t crc, const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        uint8_t x = static_cast<uint8_t>((crc >> 8) ^ data[i]);
        x ^= static_cast<uint8_t>(x >> 4);
        crc = static_cast<uint16_t>((crc << 8) ^ (static_cast<uint16_t>(x) << 12) ^ (static_cast<uint16_t>(x) << 5) ^ x);
    }
    return crc;
}

uint16_t IapWriteFrame(uint8_t header[7], uint32_t address, const uint8_t* data, uint16_t length) {
    header[0] = kIapWrite;
    for (int i = 0; i < 4; ++i) header[1 + i] = static_cast<uint8_t>(address >> (8 * i));
    header[5] = static_cast<uint8_t>(length);
    header[6] = static_cast<uint8_t>(length >> 8);
    uint16_t crc = Crc16CcittFalse(0xFFFF, header + 1, 6);
    return Crc16CcittFalse(crc, data, length);
}

size_t IapReadAnswer(uint8_t* answer, size_t readMax, uint32_t timeoutMs) {
    size_t n = ComRead(answer, 1, timeoutMs);
    if (n == 0 || readMax <= 1) return n;
    // The first byte came: a target that answers more than one byte sends the rest
    // right behind it, so a few character times tell whether more is coming. Waiting
    // out the whole time-out for bytes that never come would cost seconds per erase.
    uint32_t baud = ComBaudRate();
    uint32_t charTimesMs = baud ? (3 * 10 * 1000 + baud - 1) / baud : 0;
    uint32_t graceMs = charTimesMs > 5 ? charTimesMs : 5;
    return n + ComRead(answer + 1, readMax - 1, graceMs < timeoutMs ? graceMs : timeoutMs);
}

bool IapCommand(uint8_t command, size_t readMax, uint32_t timeoutMs) {
    LinkRequest(&command, 1);
    uint8_t answer[8];
    size_t n = IapReadAnswer(answer, readMax < sizeof answer ? readMax : sizeof answer, timeoutMs);
    // A command taken once is taken: a second ACK right behind the first is dropped here
    // so that it can't pass for the answer to the next request.
    if (n == 1 && readMax == 1) LinkMoreFollows();
    return n == 1 && answer[0] == kIapAck;
}

bool IapSynchronise(int attempts, size_t readMax) {
    for (int attempt = 0; attempt < attempts; ++attempt)
        if (IapCommand(kIapSync, readMax, 50)) return true;
    return false;
}

bool IapWriteBlock(const char* tag, uint32_t address, const uint8_t* data, uint32_t length) {
    if (length == 0) return true;
    if (length > kIapMaxBlock) MsgError("%s: Block size >%i not supported.", tag, static_cast<int>(kIapMaxBlock));
    uint8_t header[7];
    uint16_t crc = IapWriteFrame(header, address, data, static_cast<uint16_t>(length));
    const uint8_t trailer[2] = {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)};
    // Every attempt carries the same frame, so an ACK to any of them means the block is
    // programmed. An attempt that timed out may still be answered late: such an answer
    // may come right behind the ACK of the attempt sent again, and those still missing
    // are waited for before the next request, which must not take one for its own.
    size_t timedOut = 0;
    int lastAnswer = -1;  // the last byte that came back, -1: none
    for (int attempt = 1; attempt <= 3; ++attempt) {
        const ComPart frame[] = {{header, sizeof header}, {data, length}, {trailer, sizeof trailer}};
        LinkRequestParts(frame, 3);
        uint8_t answer = 0;
        if (LinkReadFrame(&answer, 1, kIapWriteTimeoutMs) == 0) {
            ++timedOut;
        } else {
            lastAnswer = answer;
            uint8_t tail[4];
            size_t tailCount = LinkReadTail(tail, sizeof tail);
            bool lateAcks = tailCount <= timedOut && tailCount <= sizeof tail;
            for (size_t i = 0; lateAcks && i < tailCount; ++i) lateAcks = tail[i] == kIapAck;
            if (answer == kIapAck && lateAcks) {
                LinkSettle(timedOut - tailCount, kIapWriteTimeoutMs);
                return true;
            }
        }
        MsgPrint(MSG_DEBUG, "%s: Failed to write. Try %i", tag, attempt);
    }
    if (lastAnswer < 0)
        MsgExplain("%s: the target did not acknowledge the write frame within %u s, 3 times.", tag,
                   static_cast<unsigned>(kIapWriteTimeoutMs / 1000));
    else if (lastAnswer == kIapNak)
        MsgExplain("%s: the target refused the write frame (NAK 15) 3 times: flash not erased, outside its memory, "
                   "or not programmed as sent.", tag);
    else
        MsgExplain("%s: the target answered the write frame with %02X instead of 06 (last of 3 tries).", tag, lastAnswer);
    return false;
}

uint16_t IapGetBlockSize(const IapInfoTexts& texts) {
    uint8_t info[4];
    // An info answer with a tail may be a stale byte and the first four of the real
    // answer: it is asked for again rather than trusted.
    for (int attempt = 1;; ++attempt) {
        uint8_t command = kIapInfo;
        LinkRequest(&command, 1);
        uint8_t ack = 0;
        if (LinkReadFrame(&ack, 1, 20) != 1 || ack != kIapAck) MsgError("%s", texts.noAck);
        if (LinkReadFrame(info, sizeof info, 50) < sizeof info) MsgError("%s", texts.short4);
        if (!LinkMoreFollows()) break;
        if (attempt == 3) MsgError("%s", texts.short4);
    }
    uint16_t blockSize = static_cast<uint16_t>(info[2] | (info[3] << 8));
    if (blockSize == 0) MsgError("%s", texts.zero);
    return blockSize;
}

std::vector<uint8_t> IapFlashRequest(uint8_t command, uint32_t address, uint16_t length) {
    std::vector<uint8_t> request = {command,
                                    static_cast<uint8_t>(address),
                                    static_cast<uint8_t>(address >> 8),
                                    static_cast<uint8_t>(address >> 16),
                                    static_cast<uint8_t>(address >> 24),
                                    static_cast<uint8_t>(length),
                                    static_cast<uint8_t>(length >> 8)};
    uint16_t crc = Crc16CcittFalse(0xFFFF, request.data() + 1, 6);
    request.push_back(static_cast<uint8_t>(crc >> 8));
    request.push_back(static_cast<uint8_t>(crc));
    return request;
}

namespace {
// Milliseconds n bytes take on the line, doubled, plus room for the routine's work.
uint32_t AnswerTimeMs(size_t n) {
    uint32_t baud = ComBaudRate();
    uint64_t lineMs = baud ? (uint64_t{n} * 10 * 1000 * 2 + baud - 1) / baud : 0;
    return static_cast<uint32_t>(lineMs) + 500;
}
}  // namespace

bool IapReadFlash(uint32_t address, uint8_t* data, uint16_t length) {
    const std::vector<uint8_t> request = IapFlashRequest(kIapRead, address, length);
    std::vector<uint8_t> answer(1u + length + 2u);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        LinkRequest(request.data(), request.size());
        size_t n = LinkReadFrame(answer.data(), answer.size(), AnswerTimeMs(answer.size()));
        if (n == answer.size() && answer[0] == kIapAck && !LinkMoreFollows()) {
            uint16_t crc = static_cast<uint16_t>(answer[1 + length] | answer[2 + length] << 8);
            if (crc == Crc16CcittFalse(0xFFFF, answer.data() + 1, length)) {
                std::copy(answer.begin() + 1, answer.begin() + 1 + length, data);
                return true;
            }
        }
        MsgPrint(MSG_DEBUG, "Read %X: no good answer. Try %i", address, attempt);
        // What is left of a damaged answer must not start the next one.
        LinkSettle(answer.size(), 20);
    }
    return false;
}

bool IapFlashCrc(uint32_t address, uint16_t length, uint16_t& crc) {
    const std::vector<uint8_t> request = IapFlashRequest(kIapFlashCrc, address, length);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        LinkRequest(request.data(), request.size());
        uint8_t answer[3];
        if (LinkReadFrame(answer, sizeof answer, AnswerTimeMs(sizeof answer)) == sizeof answer && answer[0] == kIapAck &&
            !LinkMoreFollows()) {
            crc = static_cast<uint16_t>(answer[1] | answer[2] << 8);
            return true;
        }
        MsgPrint(MSG_DEBUG, "CRC %X: no good answer. Try %i", address, attempt);
        LinkSettle(sizeof answer, 20);
    }
    return false;
}

bool IapEraseFlash(uint32_t address, uint16_t length) {
    const std::vector<uint8_t> request = IapFlashRequest(kIapEraseSectors, address, length);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        LinkRequest(request.data(), request.size());
        uint8_t answer = 0;
        // As long as the full erase may take: the IAP erases a range of sectors at once.
        if (LinkReadFrame(&answer, 1, AnswerTimeMs(request.size()) + 2000) == 1 && answer == kIapAck &&
            !LinkMoreFollows())
            return true;
        MsgPrint(MSG_DEBUG, "Erase %X: no good answer. Try %i", address, attempt);
        LinkSettle(1, 20);
    }
    return false;
}
