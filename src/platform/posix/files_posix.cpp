#include "platform/files.hpp"

#include <climits>
#include <cstdlib>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

bool IsDirectory(FILE* stream) {
    struct stat info {};
    return fstat(fileno(stream), &info) == 0 && S_ISDIR(info.st_mode);
}

bool RegularFileSize(FILE* stream, uint64_t& size) {
    struct stat info {};
    if (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    size = static_cast<uint64_t>(info.st_size);
    return true;
}

bool TruncateFile(FILE* stream) { return ftruncate(fileno(stream), 0) == 0; }

const char* NullDevicePath() { return "/dev/null"; }

bool PathExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

std::string CanonicalPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

bool MakeDirectory(const std::string& path) { return mkdir(path.c_str(), 0700) == 0; }

FILE* OpenMemoryStream(const void* bytes, size_t size) { return fmemopen(const_cast<void*>(bytes), size, "rb"); }

void* MapMemory(size_t bytes) {
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
    madvise(block, bytes, MADV_HUGEPAGE);
    return block;
}

void UnmapMemory(void* block, size_t bytes) { munmap(block, bytes); }
