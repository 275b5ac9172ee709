// Text helpers shared by the command parsers.
#pragma once

#include <cctype>
#include <string>

// Commands, switches and keywords are matched without regard to case: they are
// compared in upper case.
inline std::string UpperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}
