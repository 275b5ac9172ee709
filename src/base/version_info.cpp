#include "base/version_info.hpp"

#include <cstdio>

const VersionInfo& ProgramVersion() { return OwnVersionResource(); }

void FormatVersionNumber(const VersionInfo& info, char* out, unsigned size) {
    int n = snprintf(out, size, "%i.%i", info.major, info.minor);
    if ((info.build != 0 || info.revision != 0) && n >= 0 && static_cast<unsigned>(n) < size)
        snprintf(out + n, size - n, ".%i.%i", info.build, info.revision);
}

void PrintVersionBanner() {
    const VersionInfo& info = ProgramVersion();
    char number[64];
    FormatVersionNumber(info, number, sizeof number);
    printf("%s %s %s", info.internalName, number, "");
    fflush(stdout);
}
