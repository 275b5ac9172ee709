// --help=TOPIC: one section of the manual page, which is compiled in, so the page and
// the help on a topic never tell different stories.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct VersionInfo;

// The help screen; verbose help does not stop at $VERBOSEHELP$. `drivers` is the list
// of drivers, shown under the heading "Drivers".
void PrintHelp(bool verbose, const char* drivers);
// Expands the help template for the given version block (the testable core).
void WriteHelp(FILE* out, const VersionInfo& info, bool verbose, const char* drivers = "");

// The roff source of vorlo(1) (docs/man/vorlo.1, embedded by the build).
const char* ManualPageSource();

// The topics: the page's sections and subsections ("DRIVERS", "LPC2000_ISP", ...).
std::vector<std::string> HelpTopics();
// The topics as a user types them after --help=: the sections about one part of the
// program by their short names ("formats", "exit-codes"), then each driver's subsection.
std::vector<std::string> HelpTopicWords();

// Writes the section or subsection the topic names (letter case, blanks, '-' and '_'
// do not matter; "formats" and "exit codes" name CODE FORMATS and EXIT STATUS) as plain
// text. False when no section has that name.
bool WriteHelpTopic(FILE* out, const std::string& topic);

// Plain text of roff lines as the page uses them (exposed for the tests).
std::string RoffToText(const std::string& roff);
