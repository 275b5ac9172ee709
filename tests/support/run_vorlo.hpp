// Runs a program of the build as a user would and collects what it printed.
#pragma once

#include <map>
#include <string>
#include <vector>

struct RunResult {
    int exitCode = -1;   // the process's exit status (0..255), or -1 when it was killed
    std::string out;     // standard output
    std::string err;     // standard error
};

struct RunOptions {
    std::map<std::string, std::string> env;  // added to (or replacing in) the environment
    std::string workDir;                     // empty: the current directory
    std::string input;                       // standard input
    int timeoutMs = 60000;                   // killed after this
};

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const RunOptions& options = {});

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The vorlo binary of this build.
RunResult RunVorlo(const std::vector<std::string>& args, const RunOptions& options = {});

// A fresh, empty directory under the test temporary directory, removed at exit.
std::string MakeTempDir();
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// The files in a directory (names only).
std::vector<std::string> ListDir(const std::string& dir);
