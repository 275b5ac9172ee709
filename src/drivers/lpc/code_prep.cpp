#include "drivers/lpc/code_prep.hpp"

#include "cli/messages.hpp"
#include "drivers/lpc/parts.hpp"
#include "image/code_image.hpp"

namespace {
uint32_t Word(const uint8_t* bytes, int index) {
    const uint8_t* p = bytes + 4 * index;
    return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void SetWord(uint8_t* bytes, int index, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[4 * index + i] = static_cast<uint8_t>(value >> (8 * i));
}
}  // namespace

void LpcPrepareCode(CodeImage& image) {
    MsgPrint(MSG_DEBUG, "Preparing code for LPC.");
    if (image.records.empty() || image.records.front().address != 0 || image.records.front().length < 32) {
        MsgPrint(MSG_WARNING, "Code has no vector table.");
        return;
    }
    CodeMoveFirstToEnd(image);
    uint8_t* vectors = CodeData(image, image.records.back());
    // Cortex-M: word 7 is reserved for the checksum. ARM7: word 5, the reserved
    // exception vector between prefetch/data abort and IRQ.
    const int checksumWord = LpcIsCortex(LpcCurrentPart()) ? 7 : 5;
    SetWord(vectors, checksumWord, 0);
    uint32_t sum = 0;
    for (int i = 0; i < 8; ++i) sum += Word(vectors, i);
    SetWord(vectors, checksumWord, 0u - sum);
}
