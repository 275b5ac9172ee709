// The program's version block: the texts and numbers that the help screen, the
// version banner and the dispatcher's start-up line show.
#pragma once

#include <cstdio>

#include "platform/version_resource.hpp"

const VersionInfo& ProgramVersion();

// "%i.%i", then ".%i.%i" only when build or revision is not 0.
void FormatVersionNumber(const VersionInfo& info, char* out, unsigned size);

// "--version": internal name, blank, number, blank; no line feed.
void PrintVersionBanner();

// The revision history, written unchanged.
void PrintHistory();
const char* HistoryText();
