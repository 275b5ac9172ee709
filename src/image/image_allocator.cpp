#include "image/image_allocator.hpp"

#include <sys/mman.h>

namespace {
constexpr size_t kMapThreshold = 4u << 20;
}

void* ImageBlockAlloc(size_t bytes) {
    if (bytes >= kMapThreshold) {
        void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) throw std::bad_alloc();
        madvise(block, bytes, MADV_HUGEPAGE);
        return block;
    }
    void* block = std::malloc(bytes ? bytes : 1);
    if (!block) throw std::bad_alloc();
    return block;
}

void ImageBlockFree(void* block, size_t bytes) {
    if (!block) return;
    if (bytes >= kMapThreshold)
        munmap(block, bytes);
    else
        std::free(block);
}
