// The one message printer of the program, its levels, the checked file opener and
// the helper that makes device replies printable.
#pragma once

#include <cstdio>
#include <string>

enum MessageLevel : unsigned {
    MSG_PLAIN = 0,
    MSG_NOTE = 1,
    MSG_WARNING = 2,
    MSG_ERROR = 3,    // ends the process, exit code 70
    MSG_FATAL = 4,    // ends the process, exit code 70
    MSG_DEBUG = 5,    // console only in debug mode, always into the debug log
    MSG_VERBOSE = 6,  // console only in verbose mode, always into the debug log
    MSG_RAW = 7,      // no prefix, no line feed: lines rewritten in place
};

// Formats into a 120-character buffer (longer text is cut to 119 characters) and
// prints by level. Levels 3 and 4 do not return.
void MsgPrint(unsigned level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Same as MsgPrint(MSG_ERROR, ...), declared so the compiler knows it does not return.
[[noreturn]] void MsgError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Notes that explain a failure the caller may go on to report: they are printed at
// level NOTE right after the next ERROR or FATAL ERROR (before the run ends) and go into
// the debug log as well. A caller forgets them when it starts over or succeeded.
void MsgExplain(const char* format, ...) __attribute__((format(printf, 1, 2)));
void MsgForgetExplanations();
// An explanation that goes before those given so far (what the others are about).
void MsgExplainFirst(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Called with the text of every ERROR or FATAL ERROR once it is printed, on the thread
// that printed it; when it returns, the process ends with exit code 70. A daemon that
// keeps serving after a failed command unwinds the command from here.
using MsgErrorHook = void (*)(const char* text);
void MsgSetErrorHook(MsgErrorHook hook);

// Opens a file or ends the run with "Can't open file %s." (after a NOTE with the
// system's reason). The "t" of Windows text modes is accepted and ignored.
FILE* FileOpen(const char* path, const char* mode);

// Replaces every character that is not printable ASCII by '.', in place.
char* MakePrintable(char* text);

// Message flags and the debug log (set by the framework options).
void MsgSetDebug(bool on);
void MsgSetVerbose(bool on);
bool MsgDebug();
bool MsgVerbose();
void MsgSetDebugLog(FILE* log);
FILE* MsgDebugLog();
