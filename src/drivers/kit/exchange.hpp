// Request and answer on the open serial line, for every driver.
//
// A target answers each request once, but a line is not that tidy: an answer may come
// twice, or after the host stopped waiting for it. Taken for the answer to the next
// request, such a stale byte acknowledges a block the target refused, and every answer
// after it is read one request late. So every request starts by throwing away what is
// waiting (LinkRequest), an answer that is followed by more bytes than it should have
// is not trusted (LinkMoreFollows), and an exchange that had to be repeated after a
// time-out waits for the late answers of its earlier attempts before the next request
// goes out (LinkSettle).
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/serial_port.hpp"

// Throws away input left over from earlier exchanges, then sends the request.
void LinkRequest(const void* data, size_t n);
// The same for a request sent in pieces (one transfer on the line).
void LinkRequestParts(const ComPart* parts, int count);

// Reads an answer of exactly n bytes: returns as soon as they are there, or the count
// that came when timeoutMs passed.
size_t LinkReadFrame(uint8_t* answer, size_t n, uint32_t timeoutMs);

// After a complete answer: whether more bytes follow within two character times (they
// are read and thrown away). An answer with a tail is not the answer to the request.
bool LinkMoreFollows();
// The same, handing over the tail (at most `max` bytes are kept; the count is of all).
size_t LinkReadTail(uint8_t* tail, size_t max);

// Waits up to timeoutMs for `lateBytes` bytes that earlier, timed-out attempts of the
// exchange may still bring, and throws them away; returns early when all came.
void LinkSettle(size_t lateBytes, uint32_t timeoutMs);

// The ISP request of REQISP, sent to a running application: drain what is pending, send
// the request bytes, wait 50 ms and compare the answer byte by byte with the expected
// one. Answered: the expected bytes came; Refused: another byte or none; NoAnswerExpected:
// only a request is configured (go on with the protocol's own synchronisation).
enum class IspOutcome { Answered, Refused, NoAnswerExpected };
IspOutcome LinkIspRequest();
