#include "image/image_allocator.hpp"

#include <cstdlib>
#include <new>

#include "platform/files.hpp"

namespace {
constexpr size_t kMapThreshold = 4u << 20;
}

void* ImageBlockAlloc(size_t bytes) {
    if (bytes >= kMapThreshold) {
        void* block = MapMemory(bytes);
        if (!block) throw std::bad_alloc();
        return block;
    }
    void* block = std::malloc(bytes ? bytes : 1);
    if (!block) throw std::bad_alloc();
    return block;
}

void ImageBlockFree(void* block, size_t bytes) {
    if (!block) return;
    if (bytes >= kMapThreshold)
        UnmapMemory(block, bytes);
    else
        std::free(block);
}
