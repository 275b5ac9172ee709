// The program's version block: the texts and numbers that the help screen, the
// version banner and the dispatcher's start-up line show.
#pragma once

#include <cstdio>

struct VersionInfo {
    const char* company;
    const char* copyright;
    const char* description;
    const char* author;
    const char* internalName;
    const char* state;
    int major, minor, build, revision;
};

const VersionInfo& ProgramVersion();

// "%i.%i", then ".%i.%i" only when build or revision is not 0.
void FormatVersionNumber(const VersionInfo& info, char* out, unsigned size);

// "--version": internal name, blank, number, blank; no line feed.
void PrintVersionBanner();

// The revision history, written unchanged.
void PrintHistory();
const char* HistoryText();
