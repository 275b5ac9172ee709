// Preparation of a code image for the LPC boot ROM before it is written.
#pragma once

struct CodeImage;

// Writes the vector-table checksum the boot ROM checks and moves the vector block to
// the end of the image, so that a write interrupted half-way leaves no valid vectors.
void LpcPrepareCode(CodeImage& image);
