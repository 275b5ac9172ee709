// The application command table and its dispatcher.
#pragma once

using CommandHandler = void (*)(const char* value);

// Whether a command is written with a value, --name=VALUE (the completion offers the
// '='); an optional value, as READ's ranges, does not count.
enum CommandValue : bool { NO_VALUE = false, WITH_VALUE = true };

struct CommandEntry {
    const char* name;  // upper case
    CommandHandler handler;
    CommandValue value = NO_VALUE;
};

// Looks the command name up (the line's first two characters are skipped) and runs
// its handler with the value after the first '='. False: no such command.
bool CmdDispatch(const char* line);

// The table, ended by an entry without a name.
extern const CommandEntry g_commandTable[];
