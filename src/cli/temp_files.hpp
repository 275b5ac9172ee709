// Temporary files of the run: created with the prefix "HCP" in the temporary
// directory, deleted when closed through TmpFileClose.
#pragma once

#include <cstdio>

FILE* TmpFileCreate(const char* mode);
bool TmpFileClose(FILE* stream);
