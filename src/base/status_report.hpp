// The child side of a gang: a process started by a supervisor tells it where it stands
// over the status channel named on its command line (--statuschannel=NAME), one event
// per line, a word and its values, so that the supervisor never reads the text meant
// for people:
//   phase NAME           connecting (an attempt had no answer yet), erasing, writing,
//                        reading or verifying
//   connected TEXT       the target answered; TEXT: the part it named (may be empty)
//   progress DONE TOTAL  bytes of the running write, read or verify, at each percent
//   result CODE TEXT     the process ends with exit code CODE; TEXT: its last ERROR
// Without a channel every function here does nothing.
#pragma once

constexpr const char* kStatusPhase = "phase";
constexpr const char* kStatusConnected = "connected";
constexpr const char* kStatusProgress = "progress";
constexpr const char* kStatusResult = "result";

// Reports to the channel of that name from now on; false when it names none.
bool StatusReportTo(const char* channel);

void StatusReportPhase(const char* phase);
// The target's reply to the connect: its first line names the part.
void StatusReportConnected(const char* reply);
// Called with every step of the progress display (phase and value as ProgressHook).
void StatusReportProgress(int phase, long value);
// Keeps the text of an ERROR or FATAL ERROR for the result.
void StatusNoteError(const char* text);
// The last event, sent as the process ends with `code`.
void StatusReportEnd(int code);
