// The one message printer of the program, its levels, the checked file opener and
// the helper that makes device replies printable.
#pragma once

#include <cstdio>

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

// Opens a file or ends the run with "Can't open file %s.". The "t" of Windows text
// modes is accepted and ignored.
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
