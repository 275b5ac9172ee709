// The program's own VERSIONINFO resource (cmake/vorlo.rc.in), read from its file.
#include "platform/version_resource.hpp"

#include <windows.h>

#include <string>
#include <vector>

namespace {
struct VersionTexts {
    std::string company, copyright, description, author, internalName, state;
};

std::string Query(std::vector<char>& block, const char* name) {
    std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return "";
    return value;  // the resource's texts end with their terminator
}
}  // namespace

const VersionInfo& OwnVersionResource() {
    static VersionTexts texts;
    static VersionInfo info = [] {
        VersionInfo v{"", "", "", "", "", "", 0, 0, 0, 0};
        char path[MAX_PATH];
        DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
        if (n == 0 || n >= sizeof path) return v;
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(path, &ignored);
        if (size == 0) return v;  // no resource: empty texts, version 0.0
        std::vector<char> block(size);
        if (!GetFileVersionInfoA(path, 0, size, block.data())) return v;
        texts = {Query(block, "CompanyName"),  Query(block, "LegalCopyright"), Query(block, "FileDescription"),
                 Query(block, "OriginalAuthor"), Query(block, "InternalName"), Query(block, "State")};
        v.company = texts.company.c_str();
        v.copyright = texts.copyright.c_str();
        v.description = texts.description.c_str();
        v.author = texts.author.c_str();
        v.internalName = texts.internalName.c_str();
        v.state = texts.state.c_str();
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        if (VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
            length >= sizeof *fixed) {
            v.major = HIWORD(fixed->dwFileVersionMS);
            v.minor = LOWORD(fixed->dwFileVersionMS);
            v.build = HIWORD(fixed->dwFileVersionLS);
            v.revision = LOWORD(fixed->dwFileVersionLS);
        }
        return v;
    }();
    return info;
}
