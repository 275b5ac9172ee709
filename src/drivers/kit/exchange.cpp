#include "drivers/kit/exchange.hpp"

#include <cstring>

#include "base/messages.hpp"
#include "platform/process.hpp"
#include "serial/line_control.hpp"

namespace {
// Two character times at the line's rate: a byte that belongs to the same answer comes
// within one. At least 20 us, so that the wait never vanishes.
uint32_t TailWaitUs() {
    uint32_t wait = 2 * ComCharTimeUs();
    return wait > 20 ? wait : 20;
}
}  // namespace

void LinkRequest(const void* data, size_t n) {
    ComDiscardInput();
    ComWrite(data, n);
}

void LinkRequestParts(const ComPart* parts, int count) {
    ComDiscardInput();
    ComWriteParts(parts, count);
}

size_t LinkReadFrame(uint8_t* answer, size_t n, uint32_t timeoutMs) { return ComRead(answer, n, timeoutMs); }

size_t LinkReadTail(uint8_t* tail, size_t max) {
    uint8_t scrap[64];
    size_t count = 0;
    while (size_t k = ComReadWithin(scrap, sizeof scrap, TailWaitUs())) {
        for (size_t i = 0; i < k; ++i)
            if (count + i < max) tail[count + i] = scrap[i];
        count += k;
    }
    if (count) MsgPrint(MSG_VERBOSE, "The answer is followed by %i more byte(s).", static_cast<int>(count));
    return count;
}

bool LinkMoreFollows() { return LinkReadTail(nullptr, 0) > 0; }

void LinkSettle(size_t lateBytes, uint32_t timeoutMs) {
    if (lateBytes == 0) return;
    uint8_t scrap[64];
    size_t want = lateBytes < sizeof scrap ? lateBytes : sizeof scrap;
    size_t got = ComReadUntil(scrap, want, timeoutMs, [want](const uint8_t*, size_t count) { return count >= want; });
    if (got) ComDiscardInput();
}

IspOutcome LinkIspRequest() {
    const IspRequest& isp = IspRequestGet();
    ComPurge();
    uint8_t byte = 0;
    while (ComRead(&byte, 1, 20) == 1) {
    }
    ComWrite(isp.request, isp.requestCount);
    SleepMs(50);
    if (isp.responseCount == 0) return IspOutcome::NoAnswerExpected;
    for (unsigned i = 0; i < isp.responseCount; ++i)
        if (ComRead(&byte, 1, 20) != 1 || byte != isp.response[i]) return IspOutcome::Refused;
    return IspOutcome::Answered;
}
