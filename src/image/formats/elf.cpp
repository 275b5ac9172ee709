// ELF reader (read only), with no library: the bytes a program's loader puts into memory. Every PT_LOAD
// segment with bytes in the file goes to its physical (load) address: initialised data
// that the start-up code copies from flash into RAM is in the flash at its load
// address, not at the RAM address it runs at. ELF32 and ELF64, either byte order.
#include <algorithm>
#include <cstring>
#include <vector>

#include "image/code_formats.hpp"
#include "image/formats/stream_io.hpp"

namespace {
struct Segment {
    uint64_t address;
    uint64_t offset;
    uint64_t size;
};

// The whole stream: ELF is read from memory (program headers point anywhere in it).
bool ReadAll(FILE* stream, std::vector<uint8_t>& bytes) {
    size_t hint = codeio::RemainingSize(stream);
    bytes.reserve(hint);
    uint8_t chunk[65536];
    for (;;) {
        size_t n = fread(chunk, 1, sizeof chunk, stream);
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (n < sizeof chunk) return !ferror(stream);
    }
}

// The identification bytes and the header fields the reader needs.
constexpr size_t kIdent = 16;
constexpr uint8_t kClass32 = 1, kClass64 = 2;
constexpr uint8_t kLittleEndian = 1, kBigEndian = 2;
constexpr uint32_t kLoadSegment = 1;         // PT_LOAD
constexpr uint32_t kExtendedCount = 0xFFFF;  // PN_XNUM: the count is in section 0

// Reads fields of the file's width and byte order; every read is checked against the
// file's end, so a damaged file can point anywhere.
class Fields {
public:
    Fields(const std::vector<uint8_t>& file, bool wide, bool big) : file_(file), wide_(wide), big_(big) {}
    bool Get(uint64_t at, unsigned bytes, uint64_t& value) const {
        if (at > file_.size() || bytes > file_.size() - at) return false;
        value = 0;
        for (unsigned i = 0; i < bytes; ++i) {
            unsigned byte = big_ ? i : bytes - 1 - i;
            value = value << 8 | file_[at + byte];
        }
        return true;
    }
    // An address-sized field: 4 bytes in ELF32, 8 in ELF64.
    bool Word(uint64_t at, uint64_t& value) const { return Get(at, wide_ ? 8 : 4, value); }
    bool wide() const { return wide_; }

private:
    const std::vector<uint8_t>& file_;
    bool wide_;
    bool big_;
};

struct Header {
    uint64_t entry = 0;
    uint64_t tableOffset = 0;  // e_phoff
    uint64_t entrySize = 0;    // e_phentsize
    uint64_t count = 0;        // program headers, the extended count resolved
};

bool ReadHeader(const Fields& f, Header& h) {
    const bool w = f.wide();
    uint64_t sectionTable = 0, count = 0;
    if (!f.Word(24, h.entry) || !f.Word(w ? 32 : 28, h.tableOffset) || !f.Word(w ? 40 : 32, sectionTable) ||
        !f.Get(w ? 54 : 42, 2, h.entrySize) || !f.Get(w ? 56 : 44, 2, count))
        return false;
    if (count == kExtendedCount) {
        // sh_info of section 0 holds the real count.
        if (sectionTable == 0 || !f.Get(sectionTable + (w ? 44 : 28), 4, count)) return false;
    }
    h.count = count;
    return count == 0 || h.entrySize >= (w ? 56u : 32u);
}
}  // namespace

bool IsElf(const uint8_t* bytes, size_t size) { return size >= 4 && memcmp(bytes, "\x7F" "ELF", 4) == 0; }

int ElfImport(FILE* stream, CodeImage& image, int format) {
    if (format != FORMAT_NONE && format != FORMAT_ELF) return CODE_ERR_FORMAT;
    std::vector<uint8_t> file;
    if (!ReadAll(stream, file)) return CODE_ERR_EOF;
    if (!IsElf(file.data(), file.size())) return CODE_ERR_ELF_DAMAGED;
    // Identification: a known width, byte order and version, and a whole header.
    if (file.size() < kIdent) return CODE_ERR_ELF_DAMAGED;
    const uint8_t width = file[4], order = file[5], version = file[6];
    if ((width != kClass32 && width != kClass64) || (order != kLittleEndian && order != kBigEndian) || version != 1)
        return CODE_ERR_ELF_DAMAGED;
    const Fields f(file, width == kClass64, order == kBigEndian);
    if (file.size() < (f.wide() ? 64u : 52u)) return CODE_ERR_ELF_DAMAGED;
    Header header;
    if (!ReadHeader(f, header)) return CODE_ERR_ELF_DAMAGED;

    std::vector<Segment> segments;
    for (uint64_t i = 0; i < header.count; ++i) {
        const uint64_t at = header.tableOffset + i * header.entrySize;
        const bool w = f.wide();
        uint64_t type = 0, offset = 0, physical = 0, size = 0;
        // The whole entry lies inside the file (checked without overflow).
        if (header.tableOffset > file.size() || i * header.entrySize > file.size() ||
            header.entrySize > file.size() - std::min<uint64_t>(file.size(), at) || !f.Get(at, 4, type) ||
            !f.Word(at + (w ? 8 : 4), offset) || !f.Word(at + (w ? 24 : 12), physical) || !f.Word(at + (w ? 32 : 16), size))
            return CODE_ERR_ELF_DAMAGED;
        if (type != kLoadSegment || size == 0) continue;
        if (offset > file.size() || size > file.size() - offset) return CODE_ERR_ELF_OUTSIDE;
        if (physical > 0xFFFFFFFFull || size > 0xFFFFFFFFull || size - 1 > 0xFFFFFFFFull - physical)
            return CODE_ERR_ELF_ADDRESS;
        segments.push_back({physical, offset, size});
    }
    // Two segments loaded over each other: which one the target holds depends on the
    // order they are written in, so neither is trusted.
    std::sort(segments.begin(), segments.end(), [](const Segment& a, const Segment& b) { return a.address < b.address; });
    for (size_t i = 1; i < segments.size(); ++i)
        if (segments[i].address < segments[i - 1].address + segments[i - 1].size) return CODE_ERR_ELF_OVERLAP;
    if (header.entry > 0xFFFFFFFFull) return CODE_ERR_ELF_ADDRESS;

    uint64_t total = 0;
    for (const Segment& s : segments) total += s.size;
    image.store.reserve(image.store.size() + total);
    for (const Segment& s : segments)
        CodeAddData(image, static_cast<uint32_t>(s.address), static_cast<uint32_t>(s.size), file.data() + s.offset);
    image.entryAddress = static_cast<uint32_t>(header.entry);
    return CODE_OK;
}
