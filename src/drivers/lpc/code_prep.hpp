// Preparation of a code image for the LPC boot ROM before it is written.
#pragma once

struct CodeImage;

// The boot ROM starts user code only when the first eight words of flash sum to zero:
// writes that checksum into the vector block (word 7 on Cortex-M parts, word 5 on ARM7
// parts, for the part identified last) and moves the vector block to the end of the
// image, so that a write interrupted half-way leaves no valid vectors behind.
void LpcPrepareCode(CodeImage& image);

// The word at 0x2FC (Cortex-M parts) or 0x1FC (ARM7 parts) sets the part's code read
// protection from its next reset. Refuses an image whose word would shut the serial
// boot loader out for good (CRP3, and NO_ISP on the Cortex-M parts) unless ALLOWLOCK
// came first; when `writing`, warns of the levels that only restrict it.
void LpcCheckCode(const CodeImage& image, bool writing);
