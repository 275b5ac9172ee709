// ELF reader (read only): the bytes a program's loader puts into memory. Every PT_LOAD
// segment with bytes in the file goes to its physical (load) address: initialised data
// that the start-up code copies from flash into RAM is in the flash at its load
// address, not at the RAM address it runs at. ELF32 and ELF64, either byte order.
#include <algorithm>
#include <cstring>
#include <vector>

#include <gelf.h>
#include <libelf.h>

#include "image/code_formats.hpp"
#include "image/formats/stream_io.hpp"

namespace {
struct Segment {
    uint64_t address;
    uint64_t offset;
    uint64_t size;
};

// The whole stream: ELF is read from memory (program headers point anywhere in it).
bool ReadAll(FILE* stream, std::vector<char>& bytes) {
    size_t hint = codeio::RemainingSize(stream);
    bytes.reserve(hint);
    char chunk[65536];
    for (;;) {
        size_t n = fread(chunk, 1, sizeof chunk, stream);
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (n < sizeof chunk) return !ferror(stream);
    }
}

struct ElfHandle {
    Elf* elf = nullptr;
    ~ElfHandle() {
        if (elf) elf_end(elf);
    }
};
}  // namespace

bool IsElf(const uint8_t* bytes, size_t size) { return size >= 4 && memcmp(bytes, ELFMAG, SELFMAG) == 0; }

int ElfImport(FILE* stream, CodeImage& image, int format) {
    if (format != FORMAT_NONE && format != FORMAT_ELF) return CODE_ERR_FORMAT;
    std::vector<char> file;
    if (!ReadAll(stream, file)) return CODE_ERR_EOF;
    if (!IsElf(reinterpret_cast<const uint8_t*>(file.data()), file.size())) return CODE_ERR_ELF_DAMAGED;
    if (elf_version(EV_CURRENT) == EV_NONE) return CODE_ERR_IMPEXP;

    ElfHandle handle;
    handle.elf = elf_memory(file.data(), file.size());
    GElf_Ehdr header;
    size_t count = 0;
    if (!handle.elf || elf_kind(handle.elf) != ELF_K_ELF || !gelf_getehdr(handle.elf, &header) ||
        elf_getphdrnum(handle.elf, &count) != 0)
        return CODE_ERR_ELF_DAMAGED;

    std::vector<Segment> segments;
    for (size_t i = 0; i < count; ++i) {
        GElf_Phdr p;
        if (!gelf_getphdr(handle.elf, static_cast<int>(i), &p)) return CODE_ERR_ELF_DAMAGED;
        if (p.p_type != PT_LOAD || p.p_filesz == 0) continue;
        if (p.p_offset > file.size() || p.p_filesz > file.size() - p.p_offset) return CODE_ERR_ELF_OUTSIDE;
        if (p.p_paddr > 0xFFFFFFFFull || p.p_filesz > 0xFFFFFFFFull || p.p_filesz - 1 > 0xFFFFFFFFull - p.p_paddr)
            return CODE_ERR_ELF_ADDRESS;
        segments.push_back({p.p_paddr, p.p_offset, p.p_filesz});
    }
    // Two segments loaded over each other: which one the target holds depends on the
    // order they are written in, so neither is trusted.
    std::sort(segments.begin(), segments.end(), [](const Segment& a, const Segment& b) { return a.address < b.address; });
    for (size_t i = 1; i < segments.size(); ++i)
        if (segments[i].address < segments[i - 1].address + segments[i - 1].size) return CODE_ERR_ELF_OVERLAP;
    if (header.e_entry > 0xFFFFFFFFull) return CODE_ERR_ELF_ADDRESS;

    uint64_t total = 0;
    for (const Segment& s : segments) total += s.size;
    image.store.reserve(image.store.size() + total);
    for (const Segment& s : segments)
        CodeAddData(image, static_cast<uint32_t>(s.address), static_cast<uint32_t>(s.size),
                    reinterpret_cast<const uint8_t*>(file.data() + s.offset));
    image.entryAddress = static_cast<uint32_t>(header.e_entry);
    return CODE_OK;
}
