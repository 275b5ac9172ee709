// printf-style text for the simulator's notes and for answers made of text.
#pragma once

#include <string>

// The whole text, however long: a note is never cut short.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
