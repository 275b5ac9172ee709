// The word lists the bash completion (scripts/completion/vorlo.bash) asks the program
// for, so that a new command, driver, format or help topic needs no edit there. Asked
// as "vorlo --complete=WHAT", an option users are not told about.
#pragma once

#include <cstdio>
#include <string>

// Writes the words of one list, one a line: "commands" (--name, with '=' where a value
// follows), "drivers" (lower case, with ',' where options follow), "formats" (FORMAT's
// keywords) or "topics" (--help's). False for any other list.
bool WriteCompletionWords(FILE* out, const std::string& what);
