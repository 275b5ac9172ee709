// Process, file and time services of the host system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Full path of the running program file.
std::string SelfExecutablePath();

// Creates a new, uniquely named, empty file "HCP......tmp" in the first temporary folder
// where that works ($TMP, $TEMP, $TMPDIR, /tmp on POSIX), atomically; true with its
// path, else false with the path tried last.
bool CreateUniqueTempFile(std::string& path);

// Creates a new, uniquely named folder "<prefix>XXXXXX" in the first temporary folder
// where that works (as above); returns its path, or "" when none would take it.
std::string CreateUniqueTempDir(const char* prefix);

// Milliseconds of a monotonic clock (wraps like a 32-bit tick counter).
uint32_t TickCountMs();
void SleepMs(uint32_t milliseconds);
// A monotonic clock and a sleep in microseconds, for gaps of a few character times.
uint64_t MonotonicUs();
void SleepUs(uint32_t microseconds);

// Starts a detached copy of this program with argv[0] and the given extra arguments
// (null-terminated), in a session of its own, without console or standard streams; the
// caller does not wait for it to end. The copy reports once with ReportToStarter: the
// line comes back in `report` ("" when none came within reportTimeoutMs). False when
// the copy could not be started.
bool StartDetachedCopy(const char* argv0, const char* const* extraArgs, std::string& report, uint32_t reportTimeoutMs);

// In a copy started by StartDetachedCopy: sends one line to the starter. Does nothing
// in any other process, or when called a second time.
void ReportToStarter(const char* text);

// Interrupts: Ctrl+C, and a request to end from outside (a process manager stopping the
// run, a closed terminal). The handler runs on a thread of its own, not inside a
// signal, with the signal's number (2 for Ctrl+C); it does not return.
void WatchInterrupts(void (*handler)(int signal));
// Output into a pipe whose reader has gone fails instead of ending the process.
void IgnoreBrokenPipes();

// Starts a child process: `program` with the arguments (argv[0] included), standard
// input on /dev/null, standard output and error into the given descriptors (-1:
// /dev/null), this process's environment with `env` ("NAME=value") set on top. Returns
// its pid, or -1.
int SpawnProcess(const std::string& program, const std::vector<std::string>& args, int outFd, int errFd,
                 const std::vector<std::string>& env = {});

// The child's exit: true once it ended, with its exit code (or -1 - signal number when a
// signal killed it). Does not wait.
bool ChildEnded(int pid, int& code);

// Sends the signal to the child (SIGTERM, SIGKILL ...).
void SignalChild(int pid, int signal);

// Leaves the terminal the process was started from: a session of its own, standard
// input, output and error on /dev/null.
void DetachFromConsole();
