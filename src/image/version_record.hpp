// Version records embedded in firmware: " ***" ID, version, copyright, date, "***",
// followed by a small binary block with the version number and a flags word.
#pragma once

#include <cstdio>

#include "image/code_image.hpp"

// Compacts the image and prints every version record found in it (the CODEINFO
// listing) to `out`.
void CodeInfoPrint(CodeImage& image, FILE* out);
