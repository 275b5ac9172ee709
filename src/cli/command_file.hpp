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

// For a command that runs the commands after it itself (a gang of processes): takes the
// lines still to come in the command file being run, which then ends.
std::vector<std::string> CmdFileTakeRest();

// Runs one line: a framework option, or an application command. False: unknown.
bool CmdFrameworkExec(const char* line);

// What the application built on the framework adds: the handler of every line that is
// no framework option (false: no such command), and its drivers' part of the help
// screen. Until it is bound, such lines are unknown arguments.
using AppCommandHandler = bool (*)(const char* line);
void BindApplication(AppCommandHandler commands, const char* driverHelp);

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
