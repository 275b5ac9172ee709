// Process, file and time services of the host system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Full path of the running program file.
std::string SelfExecutablePath();

// Creates a new, uniquely named file "HCP......tmp" in the first of $TMP, $TEMP, $TMPDIR
// and /tmp where that works, atomically; returns its path and an open descriptor, or -1
// with the path tried last.
int CreateUniqueTempFile(std::string& path);

// Creates a new, uniquely named folder "<prefix>XXXXXX" in the first temporary folder
// where that works (as above); returns its path, or "" when none would take it.
std::string CreateUniqueTempDir(const char* prefix);

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

// The child's exit: true once it ended, with its exit code (or -1 - signal number when a
// signal killed it). Does not wait.
bool ChildEnded(int pid, int& code);

// Leaves the terminal the process was started from: a session of its own, standard
// input, output and error on /dev/null.
void DetachFromConsole();

// Standard output is a terminal (a display may redraw its lines in place).
bool StdoutIsTerminal();

// The path with every link, "." and ".." resolved, or "" when it names nothing.
std::string CanonicalPath(const std::string& path);

// Makes a folder that only this user may open; false when it cannot be made.
bool MakeDirectory(const std::string& path);

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
