// Files, paths and memory of the host system, beyond what standard C offers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Whether the open stream is a directory (which some systems let fopen open).
bool IsDirectory(FILE* stream);
// The size of a regular file open as `stream`; false for anything else (a pipe, a
// device) or when it cannot be told.
bool RegularFileSize(FILE* stream, uint64_t& size);
// Cuts the file open as `stream` to nothing.
bool TruncateFile(FILE* stream);

// The system's null device, which takes any output and gives none ("/dev/null", "NUL").
const char* NullDevicePath();

// Whether something exists under the path.
bool PathExists(const std::string& path);
// The path with every link, "." and ".." resolved, or "" when it names nothing.
std::string CanonicalPath(const std::string& path);
// Makes a folder that only this user may open; false when it cannot be made.
bool MakeDirectory(const std::string& path);

// A stream that reads the bytes (which must stay as they are while it is open); null
// when it cannot be made. fclose ends it.
FILE* OpenMemoryStream(const void* bytes, size_t size);

// Large blocks of zeroed memory straight from the system, in whole pages; null when
// there is none to be had.
void* MapMemory(size_t bytes);
void UnmapMemory(void* block, size_t bytes);
