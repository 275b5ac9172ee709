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

// The child's exit: true once it ended, with its exit code (or -1 - signal number when a
// signal killed it). Does not wait.
bool ChildEnded(int pid, int& code);

// Leaves the terminal the process was started from: a session of its own, standard
// input, output and error on /dev/null.
void DetachFromConsole();

// Standard output is a terminal (a display may redraw its lines in place).
bool StdoutIsTerminal();

// Asks a child to stop: it ends through its exit handlers (its port restored, its
// temporary files deleted). KillChild ends it at once, for a child that does not.
void StopChild(int pid);
void KillChild(int pid);

// A status channel carries lines of text from a child to the process that started it:
// a pipe whose writing end that child alone inherits, named on the child's command line
// by a short text (the descriptor's number here, an inherited handle's value where
// processes have handles).
struct StatusChannel {
    std::string childEnd;  // names the child's end, for its command line
    // The two ends as this layer holds them (-1: closed); nothing above it reads them.
    intptr_t readEnd = -1, writeEnd = -1;
};

// Makes the channel for the next child; false when the system has none to give.
bool OpenStatusChannel(StatusChannel& channel);

// Starts a child process: `program` with the arguments (argv[0] included), standard
// input, output and error on the null device, this process's environment with `env`
// ("NAME=value") set on top, and the channel's writing end inherited by it alone (this
// process closes its own copy). Returns its pid, or -1 (the channel then closed).
int StartReportingChild(const std::string& program, const std::vector<std::string>& args,
                        const std::vector<std::string>& env, StatusChannel& channel);

// Appends to `text` what the child wrote since the last call, without waiting. False
// once the channel is read to its end, after every writer closed it.
bool ReadStatusChannel(StatusChannel& channel, std::string& text);
void CloseStatusChannel(StatusChannel& channel);

// In the child: the channel named on its command line becomes where SendStatusLine
// writes. False when the name names no channel open for writing.
bool AttachStatusChannel(const std::string& name);

// Sends one line (the line end is added) in one piece, so that lines sent by two threads
// never mix. Does nothing without a channel, or once its reader has gone.
void SendStatusLine(const std::string& line);

// The exit code the parent learns of a process that ends with `code`.
int ExitCodeSeenByParent(int code);
