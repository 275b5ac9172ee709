#include "win32/posix_shims.hpp"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <map>
#include <utility>

#include "platform/files.hpp"

#undef fclose

namespace {
// The open_memstream streams and where their bytes go.
std::map<FILE*, std::pair<char**, size_t*>> g_memoryStreams;

FILE* ScratchStream() {
    char folder[MAX_PATH + 1], name[MAX_PATH + 1];
    if (!GetTempPathA(sizeof folder, folder) || !GetTempFileNameA(folder, "tst", 0, name)) return nullptr;
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    return fd < 0 ? nullptr : _fdopen(fd, "w+b");
}
}  // namespace

FILE* fmemopen(void* bytes, size_t size, const char*) { return OpenMemoryStream(bytes, size); }

FILE* open_memstream(char** data, size_t* size) {
    FILE* stream = ScratchStream();
    if (stream) g_memoryStreams[stream] = {data, size};
    return stream;
}

int ShimClose(FILE* stream) {
    auto found = g_memoryStreams.find(stream);
    if (found != g_memoryStreams.end()) {
        fflush(stream);
        long size = ftell(stream);
        char* data = static_cast<char*>(malloc(static_cast<size_t>(size) + 1));
        rewind(stream);
        size_t got = fread(data, 1, static_cast<size_t>(size), stream);
        data[got] = '\0';
        *found->second.first = data;
        *found->second.second = got;
        g_memoryStreams.erase(found);
    }
    return fclose(stream);
}
