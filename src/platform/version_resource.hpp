// The program's own version block: on Windows its VERSIONINFO resource, elsewhere the
// values the build compiled in.
#pragma once

struct VersionInfo {
    const char* company;
    const char* copyright;
    const char* description;
    const char* author;
    const char* internalName;
    const char* state;
    int major, minor, build, revision;
};

const VersionInfo& OwnVersionResource();
