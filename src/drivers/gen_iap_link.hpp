// The one-letter command set of resident programming routines: every command is one
// ASCII byte answered by ACK (0x06); blocks go out in a CRC-protected write frame.
// Spoken by GEN_IAP targets, by the LPC RAM routine, and by MIC_EXTMEM targets once
// they are in external-memory programming mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint8_t kIapAck = 0x06;
constexpr uint8_t kIapNak = 0x15;
constexpr uint8_t kIapSync = 'C';
constexpr uint8_t kIapInfo = 'I';
constexpr uint8_t kIapWrite = 'W';
constexpr uint8_t kIapErase = 'E';
constexpr uint8_t kIapExec = 'X';
// Only Vorlo's own LPC RAM routines know these two: never sent to a resident target.
constexpr uint8_t kIapRead = 'R';      // the flash bytes and their CRC
constexpr uint8_t kIapFlashCrc = 'S';  // the CRC of the flash bytes
// Only the routines that take packed blocks know this one.
constexpr uint8_t kIapEraseSectors = 'e';  // erase the sectors that hold the bytes
constexpr uint32_t kIapMaxBlock = 4096;
constexpr uint32_t kIapWriteTimeoutMs = 5000;  // flash programming of one block

// CRC-16/CCITT-FALSE (poly 0x1021, MSB first, init 0xFFFF, no final XOR), continued
// from `crc` over the bytes.
uint16_t Crc16CcittFalse(uint16_t crc, const uint8_t* data, size_t length);

// Builds the 7-byte write header ('W', address LE32, length LE16) and returns the CRC
// over address, length and data.
uint16_t IapWriteFrame(uint8_t header[7], uint32_t address, const uint8_t* data, uint16_t length);

// Up to `attempts` times: send 'C' and read up to `readMax` bytes within 50 ms; an
// answer of exactly one ACK byte succeeds. Stale input is thrown away before each.
bool IapSynchronise(int attempts, size_t readMax);

// Reads an answer of up to `readMax` bytes: waits up to `timeoutMs` for the first
// byte, then only a few character times for more. Returns the count.
size_t IapReadAnswer(uint8_t* answer, size_t readMax, uint32_t timeoutMs);

// Sends one command byte (after throwing away stale input) and reads up to `readMax`
// bytes within `timeoutMs`; true when exactly one ACK came back.
bool IapCommand(uint8_t command, size_t readMax, uint32_t timeoutMs);

// Writes one block: up to 3 attempts, each waiting 5 s for the ACK, "<tag>: Failed to
// write. Try %i" at level 5 after each failure; an ACK followed by more bytes is a
// failed attempt too. Length 0 sends nothing and succeeds;
// more than 4096 bytes is an ERROR "<tag>: Block size >4096 not supported.".
bool IapWriteBlock(const char* tag, uint32_t address, const uint8_t* data, uint32_t length);

// 'I': ACK within 20 ms, then 4 info bytes within 50 ms; returns the block size
// (LE16 at offset 2). An answer with a tail is asked for again (3 times in all). The
// texts name the driver's own failures.
struct IapInfoTexts {
    const char* noAck;     // the ACK is missing (ERROR)
    const char* short4;    // fewer than 4 info bytes (ERROR)
    const char* zero;      // block size 0 (ERROR)
};
uint16_t IapGetBlockSize(const IapInfoTexts& texts);

// The request of 'R' and 'S': the command, address LE32, length LE16 and the CRC of
// address and length, high byte first (so that the CRC over those eight bytes is 0).
std::vector<uint8_t> IapFlashRequest(uint8_t command, uint32_t address, uint16_t length);
// 'R': ACK, the bytes, their CRC (LE16). Up to 3 attempts; false when none was good.
bool IapReadFlash(uint32_t address, uint8_t* data, uint16_t length);
// 'S': ACK and the CRC of the flash bytes. Up to 3 attempts; false when none answered.
bool IapFlashCrc(uint32_t address, uint16_t length, uint16_t& crc);
// 'e': erases the sectors that hold the bytes; ACK once they are erased. Up to 3
// attempts (erasing twice does no harm); false when none was acknowledged.
bool IapEraseFlash(uint32_t address, uint16_t length);
