// What the shared unit tests take from POSIX, on Windows: streams over memory.
#pragma once

#include <cstddef>
#include <cstdio>

// A read-only stream over the bytes (the tests open them "rb").
FILE* fmemopen(void* bytes, size_t size, const char* mode);
// A stream whose bytes land in *data (malloc'd, terminated) and *size when it is closed.
FILE* open_memstream(char** data, size_t* size);
// fclose that completes an open_memstream stream first.
int ShimClose(FILE* stream);
#define fclose ShimClose
