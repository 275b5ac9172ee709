// Preparation of a code image for the LPC boot ROM before it is written.
#pragma once

struct CodeImage;

// The boot ROM starts user code only when the first eight words of flash sum to zero:
// writes that checksum into the vector block (word 7 on Cortex-M parts, word 5 on ARM7
// parts, for the part identified last) and moves the vector block to the end of the
// image, so that a write interrupted half-way leaves no valid vectors behind.
void LpcPrepareCode(CodeImage& image);
