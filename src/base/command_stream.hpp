// The command file being run, for a command that runs the commands after it itself (a
// gang of processes): it takes the lines still to come, and the file then ends.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Set by the run loop around each file it runs (null: none).
void SetRunningCommandFile(FILE* stream);
FILE* RunningCommandFile();

// The lines still to come in the running file, trimmed, without comments and empty
// lines; the file is at its end afterwards.
std::vector<std::string> TakeRestOfCommandFile();
