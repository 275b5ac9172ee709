// Process, file and time services of the host system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Full path of the running program file.
std::string SelfExecutablePath();

// Directory for temporary files: $TMP, else $TEMP, else $TMPDIR, else /tmp.
std::string TempDirectory();

// Creates a new, uniquely named file "HCP......tmp" in the temporary directory,
// atomically; returns its path and an open descriptor, or -1.
int CreateUniqueTempFile(std::string& path);

// Milliseconds of a monotonic clock (wraps like a 32-bit tick counter).
uint32_t TickCountMs();
void SleepMs(uint32_t milliseconds);

// Starts a detached copy of this program with argv[0] and the given extra arguments,
// in a new session, standard streams on /dev/null. The caller does not wait for it.
bool StartDetachedCopy(const char* argv0, const char* const* extraArgs);
