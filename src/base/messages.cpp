#include "base/messages.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "base/exit.hpp"
#include "base/status_report.hpp"
#include "platform/files.hpp"

namespace {
struct MessageFlags {
    bool debug = false;
    bool verbose = false;
    FILE* debugLog = nullptr;
    std::vector<std::string> explanations;  // printed behind the next ERROR
    MsgErrorHook errorHook = nullptr;
};
MessageFlags g_msg;  // set by the framework options, read by every message

constexpr size_t kMessageBuffer = 120;

const char* PrefixOf(unsigned level) {
    switch (level) {
    case MSG_NOTE: return "NOTE: ";
    case MSG_WARNING: return "WARNING: ";
    case MSG_ERROR: return "ERROR: ";
    case MSG_FATAL: return "FATAL ERROR: ";
    case MSG_DEBUG: return "  ";
    case MSG_VERBOSE: return "    ";
    default: return "";
    }
}

void Emit(unsigned level, const char* text) {
    const char* prefix = PrefixOf(level);
    switch (level) {
    case MSG_ERROR:
    case MSG_FATAL: {
        fprintf(stderr, "\n%s%s", prefix, text);
        if (g_msg.debugLog) fprintf(g_msg.debugLog, "\n%s%s", prefix, text);
        std::vector<std::string> notes;
        notes.swap(g_msg.explanations);
        for (const std::string& note : notes) {
            fprintf(stdout, "\nNOTE: %s", note.c_str());
            if (g_msg.debugLog) fprintf(g_msg.debugLog, "\nNOTE: %s", note.c_str());
        }
        fflush(stderr);
        fflush(stdout);
        if (g_msg.debugLog) fflush(g_msg.debugLog);
        StatusNoteError(text);
        if (g_msg.errorHook) g_msg.errorHook(text);
        AppExit(70);
    }
    case MSG_DEBUG:
    case MSG_VERBOSE:
        if (g_msg.debugLog) fprintf(g_msg.debugLog, "\n%s%s", prefix, text);
        if (level == MSG_DEBUG ? g_msg.debug : g_msg.verbose) fprintf(stdout, "\n%s%s", prefix, text);
        break;
    case MSG_RAW:
        // Written as it stands: a percent sign in a device reply prints as itself.
        fputs(text, stdout);
        break;
    case MSG_WARNING:
        fprintf(stdout, "\n%s%s", prefix, text);
        if (g_msg.debugLog) fprintf(g_msg.debugLog, "\n%s%s", prefix, text);
        break;
    default:
        fprintf(stdout, "\n%s%s", prefix, text);
        break;
    }
    fflush(stdout);
    if (g_msg.debugLog) fflush(g_msg.debugLog);
}

void Print(unsigned level, const char* format, va_list args) {
    char text[kMessageBuffer];
    // vsnprintf cuts to the buffer size minus the terminator: 119 characters.
    vsnprintf(text, sizeof text, format, args);
    Emit(level, text);
}
}  // namespace

void MsgPrint(unsigned level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Print(level, format, args);
    va_end(args);
}

void MsgError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Print(MSG_ERROR, format, args);
    va_end(args);
    AppExit(70);  // not reached: Print ends the process
}

FILE* FileOpen(const char* path, const char* mode) {
    // Every file is read and written byte for byte, with the line ends its writer puts
    // in: a "t" (text mode, where the C runtime has one) would double the CR of CR LF.
    std::string posixMode;
    for (const char* m = mode; *m; ++m)
        if (*m != 't') posixMode += *m;
    if (posixMode.find('b') == std::string::npos) posixMode += 'b';
    FILE* file = fopen(path, posixMode.c_str());
    // A directory opens for reading on Linux but yields no data, only read errors: it is
    // no file, as it is not for the Windows runtime.
    if (file && IsDirectory(file)) {
        fclose(file);
        file = nullptr;
        errno = EISDIR;
    }
    if (!file) {
        int err = errno;
        MsgPrint(MSG_NOTE, "%s: %s", path, strerror(err));
        MsgError("Can't open file %s.", path);
    }
    return file;
}

char* MakePrintable(char* text) {
    for (char* p = text; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c > 0x7E) *p = '.';
    }
    return text;
}

namespace {
void Explain(bool first, const char* format, va_list args) {
    char text[kMessageBuffer * 2];
    vsnprintf(text, sizeof text, format, args);
    g_msg.explanations.insert(first ? g_msg.explanations.begin() : g_msg.explanations.end(), text);
}
}  // namespace

void MsgExplain(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Explain(false, format, args);
    va_end(args);
}

void MsgExplainFirst(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Explain(true, format, args);
    va_end(args);
}

void MsgForgetExplanations() { g_msg.explanations.clear(); }

void MsgSetErrorHook(MsgErrorHook hook) { g_msg.errorHook = hook; }

void MsgSetDebug(bool on) { g_msg.debug = on; }
void MsgSetVerbose(bool on) { g_msg.verbose = on; }
bool MsgDebug() { return g_msg.debug; }
bool MsgVerbose() { return g_msg.verbose; }
void MsgSetDebugLog(FILE* log) { g_msg.debugLog = log; }
FILE* MsgDebugLog() { return g_msg.debugLog; }
