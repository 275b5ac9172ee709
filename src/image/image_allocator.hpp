// Allocator of the code image's record list and byte store. Large images are
// converted in one pass over many megabytes: big blocks are mapped with transparent
// huge pages where the kernel offers them (a few faults instead of thousands), and
// growing the byte store does not clear memory that is overwritten at once.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

void* ImageBlockAlloc(size_t bytes);
void ImageBlockFree(void* block, size_t bytes);

template <typename T>
struct ImageAllocator {
    using value_type = T;
    ImageAllocator() = default;
    template <typename U>
    ImageAllocator(const ImageAllocator<U>&) {}
    T* allocate(size_t n) { return static_cast<T*>(ImageBlockAlloc(n * sizeof(T))); }
    void deallocate(T* p, size_t n) { ImageBlockFree(p, n * sizeof(T)); }
    // Value-initialisation only when asked for a value: resize() leaves bytes as they are.
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <typename U>
    bool operator==(const ImageAllocator<U>&) const { return true; }
};
