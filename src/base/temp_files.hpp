// Temporary files of the run: created with the prefix "HCP" in the temporary
// directory, deleted when closed through TmpFileClose.
#pragma once

#include <cstdio>

FILE* TmpFileCreate(const char* mode);
bool TmpFileClose(FILE* stream);
// Deletes the file from disk and frees its entry, leaving the stream open: for an exit
// on another thread while the command thread may still read the stream.
void TmpFileDelete(FILE* stream);
