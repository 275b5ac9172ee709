// Process, file and time services of the host system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Full path of the running program file.
std::string SelfExecutablePath();

// Creates a new, uniquely named file "HCP......tmp" in the first of $TMP, $TEMP, $TMPDIR
// and /tmp where that works, atomically; returns its path and an open descriptor, or -1
// with the path tried last.
int CreateUniqueTempFile(std::string& path);

// Milliseconds of a monotonic clock (wraps like a 32-bit tick counter).
uint32_t TickCountMs();
void SleepMs(uint32_t milliseconds);
// A monotonic clock and a sleep in microseconds, for gaps of a few character times.
uint64_t MonotonicUs();
void SleepUs(uint32_t microseconds);

// Starts a detached copy of this program with argv[0] and the given extra arguments,
// in a new session, standard streams on /dev/null. The caller does not wait for it.
// With statusFd, *statusFd receives the read end of a pipe on which the copy reports
// once with ReportToStarter; read it with WaitStarterReport, which closes it.
bool StartDetachedCopy(const char* argv0, const char* const* extraArgs, int* statusFd = nullptr);

// In a copy started with a status pipe: sends one line to the starter and closes the
// pipe. Does nothing in any other process, or when called a second time.
void ReportToStarter(const char* text);

// In the starter: waits up to timeoutMs for the copy's report line and closes the
// pipe. False when the copy ended or the time passed without a report.
bool WaitStarterReport(int statusFd, std::string& text, uint32_t timeoutMs);

// Leaves the terminal the process was started from: a session of its own, standard
// input, output and error on /dev/null.
void DetachFromConsole();
