#include "frontend/command_file.hpp"

#include <cctype>
#include <cstring>
#include <string>

#include "base/command_stream.hpp"
#include "base/exit.hpp"
#include "base/messages.hpp"
#include "base/progress.hpp"
#include "base/run_flags.hpp"
#include "base/status_report.hpp"
#include "base/text.hpp"
#include "base/version_info.hpp"
#include "commands/dispatcher.hpp"
#include "drivers/registry.hpp"
#include "frontend/completion.hpp"
#include "frontend/help_topics.hpp"
#include "platform/files.hpp"

namespace {
constexpr size_t kLineBuffer = 256;      // lines of at most 255 characters
constexpr size_t kLongOptionChars = 128; // characters looked at after "--"
constexpr int kMaxCommandFileDepth = 16; // command files naming command files

struct CommandFileState {
    bool verboseHelp = false;
    int depth = 0;  // command files being run, one inside the other
    DaemonOptions daemon;
};
CommandFileState g_cmdFile;  // the framework's own settings of the run

bool AppCommand(const char* line) { return CmdDispatch(line); }

bool IsOptionPrefix(char c) { return c == '-' || c == '/'; }

bool EqualsNoCase(const char* text, const char* upperName) { return UpperCase(text) == upperName; }

[[noreturn]] void ShowHelpAndExit() {
    PrintHelp(g_cmdFile.verboseHelp, DriverHelpText().c_str());
    AppExit(0);
}

// --help=TOPIC: one section of the manual page. A topic the page does not have gets the
// help screen, as --help does, and the list of topics.
[[noreturn]] void ShowHelpTopicAndExit(const std::string& topic) {
    if (!WriteHelpTopic(stdout, topic)) {
        PrintHelp(g_cmdFile.verboseHelp, DriverHelpText().c_str());
        MsgPrint(MSG_NOTE, "No help topic '%.60s'. Topics:", topic.c_str());
        for (const std::string& t : HelpTopics())
            if (t != "NAME" && t != "SYNOPSIS" && t != "SEE ALSO") printf("\n  %s", LowerCase(t).c_str());
        fflush(stdout);
    }
    AppExit(0);
}

void SwitchDebugOn() {
    MsgSetDebug(true);
    MsgPrint(MSG_DEBUG, "Debug mode on.");
}

bool RedirectStdout(const char* path, const char* mode) {
    if (!freopen(path, mode, stdout)) MsgError("Redirecting stdout failed.");
    return true;
}

// A file-name option needs a file name: say so instead of opening "".
void RequireFileName(const char* value, const char* option) {
    if (!*value) MsgError("Missing file name for '--%s'.", option);
}

void RunNestedCommandFile(const char* path) {
    if (g_cmdFile.depth >= kMaxCommandFileDepth)
        MsgError("Command files nested deeper than %i levels at '%s'.", kMaxCommandFileDepth, path);
    // Closed and counted out on every way back, also when a daemon that outlives a failed
    // command unwinds it.
    struct Nested {
        FILE* file;
        explicit Nested(FILE* f) : file(f) { ++g_cmdFile.depth; }
        ~Nested() {
            --g_cmdFile.depth;
            fclose(file);
        }
    } nested(FileOpen(path, "rt"));
    CmdFileRun(nested.file);
}

bool RunLongOption(const char* line) {
    std::string option(line + 2, strnlen(line + 2, kLongOptionChars));
    size_t equals = option.find('=');
    std::string name = UpperCase(option.substr(0, equals));
    std::string value = equals == std::string::npos ? std::string() : option.substr(equals + 1);

    if (name == "VERSION") {
        PrintVersionBanner();
        return true;
    }
    if (name == "HELP") {
        if (value.empty()) ShowHelpAndExit();
        ShowHelpTopicAndExit(value);
    }
    if (name == "DEBUG") {
        MsgSetDebug(true);
        if (value.empty()) return true;
        if (UpperCase(value) != "VERBOSE") return false;
        MsgSetVerbose(true);
        return true;
    }
    if (name == "REDIROUT") {
        RequireFileName(value.c_str(), "redirout");
        return RedirectStdout(value.c_str(), "w+");
    }
    if (name == "DEBUGLOG") {
        RequireFileName(value.c_str(), "debuglog");
        MsgSetDebugLog(FileOpen(value.c_str(), "w+t"));
        return true;
    }
    if (name == "SILENT") return RedirectStdout(NullDevicePath(), "w");
    if (name == "CMDFILE") {
        RequireFileName(value.c_str(), "cmdfile");
        RunNestedCommandFile(value.c_str());
        return true;
    }
    // These act when the arguments are translated.
    if (name == "LOCALHOSTONLY" || name == "PERSISTENT" || name == "SECRETFILE") return true;
    // Not for users: the word lists of the bash completion (scripts/completion/vorlo.bash).
    if (name == "COMPLETE" && WriteCompletionWords(stdout, value)) AppExit(0);
    if (name == "PROGRESS") {
        std::string kind = UpperCase(value);
        if (kind != "PLAIN" && kind != "BAR") MsgError("Unknown progress display '%s': plain or bar.", value.c_str());
        ProgressSetPlain(kind == "PLAIN");
        return true;
    }
    return AppCommand(line);
}
}  // namespace

std::vector<std::string> FrameworkOptionWords() {
    // RunLongOption's options, and those TranslateArguments takes (--daemon).
    return {"version", "help", "redirout=", "cmdfile=", "silent", "debug", "debuglog=",
            "daemon", "localhostonly", "persistent", "secretfile=", "progress="};
}

bool VerboseHelpRequested() { return g_cmdFile.verboseHelp; }
const DaemonOptions& DaemonOptionsGiven() { return g_cmdFile.daemon; }

char* TrimSpace(char* line) {
    while (*line && isspace(static_cast<unsigned char>(*line))) ++line;
    size_t length = strlen(line);
    while (length > 0 && isspace(static_cast<unsigned char>(line[length - 1]))) line[--length] = '\0';
    return line;
}

void TranslateArguments(int argc, char** argv, int first, FILE* commandFile) {
    for (int i = first; i < argc; ++i) {
        const char* arg = argv[i];
        if (IsOptionPrefix(arg[0]) && arg[1] == 'D') {
            g_flags.daemonRequested = true;
            MsgPrint(MSG_DEBUG, "Daemon mode on.");
            continue;
        }
        if (IsOptionPrefix(arg[0]) && arg[1] == 'd') SwitchDebugOn();
        if (arg[0] == '-' && arg[1] == '-') {
            if (EqualsNoCase(arg + 2, "DAEMON")) {
                g_flags.daemonRequested = true;
                continue;
            }
            if (EqualsNoCase(arg + 2, "LOCALHOSTONLY")) {
                g_flags.serverBindAddress = 0x7F000001u;
                continue;
            }
            if (EqualsNoCase(arg + 2, "PERSISTENT")) {
                g_cmdFile.daemon.persistent = true;
                continue;
            }
            if (UpperCase(std::string(arg + 2).substr(0, 11)) == "SECRETFILE=") {
                g_cmdFile.daemon.secretFile = arg + 13;
                continue;
            }
            // The gang's child reports to its supervisor. Taken from the command line
            // only: a command file or a daemon's client cannot point it elsewhere.
            if (UpperCase(std::string(arg + 2).substr(0, 14)) == "STATUSCHANNEL=") {
                if (!StatusReportTo(arg + 16)) MsgError("No status channel '%s'.", arg + 16);
                continue;
            }
        }
        fprintf(commandFile, "%s\n", arg);
    }
    fflush(commandFile);
}

void CmdFileRun(FILE* stream) {
    fseek(stream, 0, SEEK_SET);
    // The file being run, for a command that takes the lines after it; restored on the
    // way back from a nested file, also when that way is an unwinding error.
    struct Running {
        FILE* outer = RunningCommandFile();
        explicit Running(FILE* s) { SetRunningCommandFile(s); }
        ~Running() { SetRunningCommandFile(outer); }
    } running(stream);
    char buffer[kLineBuffer];
    while (!feof(stream)) {
        if (!fgets(buffer, sizeof buffer, stream)) {
            // A read error does not go away by trying again: the rest is unreadable.
            if (ferror(stream)) break;
            continue;
        }
        char* line = TrimSpace(buffer);
        // Empty lines carry no command and are skipped, like comments.
        if (line[0] == '#' || line[0] == '\0') continue;
        if (!CmdFrameworkExec(line)) MsgError("Unknown argument '%s'.", line);
    }
    clearerr(stream);
    fseek(stream, 0, SEEK_SET);
}

bool CmdFrameworkExec(const char* line) {
    if (!IsOptionPrefix(line[0])) return AppCommand(line);
    switch (line[1]) {
    case 'H':
        g_cmdFile.verboseHelp = true;
        ShowHelpAndExit();
    case 'h':
    case '?':
        if (line[2] == '?') g_cmdFile.verboseHelp = true;
        ShowHelpAndExit();
    case 'd':
        MsgSetDebug(true);
        return true;
    case '-':
        return RunLongOption(line);
    default:
        return AppCommand(line);
    }
}
