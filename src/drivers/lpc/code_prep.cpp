#include "drivers/lpc/code_prep.hpp"

#include "base/messages.hpp"
#include "context/run_context.hpp"
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

void LpcCheckCode(const CodeImage& image, bool writing) {
    const bool cortex = LpcIsCortex(LpcCurrentPart());
    const uint32_t address = cortex ? 0x2FC : 0x1FC;
    uint8_t bytes[4];
    if (CodeCopyOut(image, address, sizeof bytes, bytes, 0xFF) == 0) return;
    const uint32_t word = Word(bytes, 0);
    struct Level {
        uint32_t value;
        const char* name;
        bool locks;  // the serial boot loader is shut out for good
        bool cortexOnly;
        const char* what;  // what the level does to the part
    };
    static const Level kLevels[] = {
        {0x12345678, "CRP1", false, false,
         "no debug access; the boot ROM refuses READ and VERIFY, erases sector 0 only with the rest"},
        {0x87654321, "CRP2", false, false, "no debug access; the boot ROM refuses READ and VERIFY, erases only the whole part"},
        {0x43218765, "CRP3", true, false, "no debug access, and the boot ROM never again enters its serial loader"},
        {0x4E697370, "NO_ISP", true, true, "the boot ROM never again enters its serial loader: no ISP programming"},
    };
    for (const Level& level : kLevels) {
        if (word != level.value || (level.cortexOnly && !cortex)) continue;
        if (level.locks && !Run().allowLock) {
            MsgExplain("%s: %s.", level.name, level.what);
            MsgExplain("Give --allowlock before the write to program such an image.");
            MsgError("The image locks the part: code read protection %s (%08X at %08X).", level.name, word, address);
        }
        if (writing) {
            MsgPrint(MSG_WARNING, "The image sets code read protection %s (%08X at %08X).", level.name, word, address);
            MsgPrint(MSG_NOTE, "%s from the next reset: %s.", level.name, level.what);
        }
        return;
    }
}
