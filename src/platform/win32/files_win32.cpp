#include "platform/files.hpp"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <string>

bool IsDirectory(FILE* stream) {
    struct _stat64 info {};
    return _fstat64(_fileno(stream), &info) == 0 && (info.st_mode & _S_IFDIR);
}

bool RegularFileSize(FILE* stream, uint64_t& size) {
    struct _stat64 info {};
    if (_fstat64(_fileno(stream), &info) != 0 || !(info.st_mode & _S_IFREG)) return false;
    size = static_cast<uint64_t>(info.st_size);
    return true;
}

bool TruncateFile(FILE* stream) { return _chsize_s(_fileno(stream), 0) == 0; }

const char* NullDevicePath() { return "NUL"; }

bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string CanonicalPath(const std::string& path) {
    // Devices first: "COM3" and "\\.\COM3" name the same port.
    char full[MAX_PATH * 4];
    DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full) return "";
    std::string result(full, n);
    if (result.rfind("\\\\.\\", 0) == 0) return result;
    // A file or folder: every link resolved, as the system finally opens it.
    HANDLE h = CreateFileA(result.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "";
    n = GetFinalPathNameByHandleA(h, full, sizeof full, FILE_NAME_NORMALIZED);
    CloseHandle(h);
    if (n == 0 || n >= sizeof full) return result;
    result.assign(full, n);
    if (result.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + result.substr(8);
    if (result.rfind("\\\\?\\", 0) == 0) return result.substr(4);
    return result;
}

bool MakeDirectory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

FILE* OpenMemoryStream(const void* bytes, size_t size) {
    // The C runtime has no stream over memory: a temporary file that the system deletes
    // when the stream closes, and mostly keeps in its cache.
    char folder[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    if (!GetTempPathA(sizeof folder, folder) || !GetTempFileNameA(folder, "HCP", 0, name)) return nullptr;
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DeleteFileA(name);
        return nullptr;
    }
    const char* p = static_cast<const char*>(bytes);
    for (size_t done = 0; done < size;) {
        DWORD written = 0;
        DWORD chunk = size - done > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size - done);
        if (!WriteFile(h, p + done, chunk, &written, nullptr) || written == 0) {
            CloseHandle(h);
            return nullptr;
        }
        done += written;
    }
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    FILE* stream = _fdopen(fd, "rb");
    if (!stream) _close(fd);
    return stream;
}

void* MapMemory(size_t bytes) { return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }

void UnmapMemory(void* block, size_t) {
    if (block) VirtualFree(block, 0, MEM_RELEASE);
}
