// Arguments become lines of a command file; the command file is run line by line.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Writes the arguments from argv[first] on into the command file, one per line,
// acting at once on the options that decide how the process starts.
void TranslateArguments(int argc, char** argv, int first, FILE* commandFile);

// Runs every line of an open command file, from its start; leaves it at its start.
void CmdFileRun(FILE* stream);

// Runs one line: a framework option, or an application command. False: unknown.
bool CmdFrameworkExec(const char* line);

// The long options the framework takes itself, lower case, each followed by '=' where
// it is written with a value.
std::vector<std::string> FrameworkOptionWords();

// Strips leading and trailing white space; the trailing part is cut in place.
char* TrimSpace(char* line);

// Whether verbose help was asked for (-H, -h?, /?? ...).
bool VerboseHelpRequested();

// Daemon options, taken when the arguments are translated (and handed to the daemon
// process the run starts).
struct DaemonOptions {
    bool persistent = false;  // --persistent: a failed command ends the command, not the daemon
    std::string secretFile;   // --secretfile=FILE: clients must send its secret first
};
const DaemonOptions& DaemonOptionsGiven();
