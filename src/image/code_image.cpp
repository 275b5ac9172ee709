#include "image/code_image.hpp"

#include <algorithm>
#include <cstring>

#include "base/messages.hpp"

namespace {
struct ProgramCodeState {
    CodeImage image;
    bool loaded = false;
    int format = FORMAT_NONE;
};
ProgramCodeState g_program;  // the program's one code image

// List order used by the sorted operations: address ascending, and among equal
// addresses the longer record first, so that a block that covers another is seen first.
bool SortsBefore(const CodeRecord& a, const CodeRecord& b) {
    return a.address < b.address || (a.address == b.address && a.length > b.length);
}

uint64_t EndOf(const CodeRecord& r) { return uint64_t{r.address} + r.length; }

// Reserves room at the end of the store and returns its offset. The store grows
// geometrically, so appending record by record stays linear.
size_t StoreGrow(CodeImage& image, size_t count) {
    size_t at = image.store.size();
    image.store.resize(at + count);
    return at;
}

// Makes the record's bytes the last ones in the store, copying them there unless they
// already are, so that the record can grow by appending to the store.
void MoveToStoreEnd(CodeImage& image, CodeRecord& r) {
    if (r.offset + r.length == image.store.size()) return;
    size_t at = StoreGrow(image, r.length);
    memcpy(image.store.data() + at, image.store.data() + r.offset, r.length);
    r.offset = at;
}

// Bytes of released or moved records stay in the store until it is rebuilt. Rebuild
// it in list order when the leftovers outweigh the live data, which bounds memory at
// about twice the image size after any sequence of operations.
void StoreRepackIfWasteful(CodeImage& image) {
    size_t live = 0;
    for (const CodeRecord& r : image.records) live += r.length;
    if (image.store.size() <= 2 * live + (1u << 20)) return;
    CodeByteStore packed;
    packed.reserve(live);
    for (CodeRecord& r : image.records) {
        size_t at = packed.size();
        packed.insert(packed.end(), image.store.begin() + r.offset, image.store.begin() + r.offset + r.length);
        r.offset = at;
    }
    image.store.swap(packed);
}

void RecordsShrinkIfWasteful(CodeImage& image) {
    if (image.records.capacity() > 2 * image.records.size() + 4096) image.records.shrink_to_fit();
}

// Merges every record with the ones that continue it (next address == end).
void MergeNeighbours(CodeImage& image) {
    CodeRecordList& recs = image.records;
    size_t kept = 0;
    for (size_t i = 0; i < recs.size(); ++i) {
        const CodeRecord s = recs[i];
        if (kept > 0) {
            CodeRecord& r = recs[kept - 1];
            if (static_cast<uint32_t>(r.address + r.length) == s.address && s.address > r.address) {
                if (r.offset + r.length != s.offset) {
                    // Not back to back in the store: gather the merged bytes at its end.
                    MoveToStoreEnd(image, r);
                    size_t at = StoreGrow(image, s.length);
                    memcpy(image.store.data() + at, image.store.data() + s.offset, s.length);
                }
                r.length += s.length;
                continue;
            }
        }
        recs[kept++] = s;
    }
    recs.resize(kept);
}

// Address range of a record for messages, last byte inclusive.
uint32_t LastOf(const CodeRecord& r) { return r.address + r.length - 1; }
}  // namespace

CodeRecord CodeNewRecord(CodeImage& image, uint32_t address, uint32_t length, const uint8_t* source,
                         uint8_t fill) {
    CodeRecord record;
    record.address = address;
    record.length = length;
    if (length == 0) return record;
    // The source may lie inside the store, which growing can move.
    const uint8_t* base = image.store.data();
    bool inside = source && !image.store.empty() && source >= base && source < base + image.store.size();
    size_t sourceOffset = inside ? static_cast<size_t>(source - base) : 0;
    record.offset = StoreGrow(image, length);
    uint8_t* dest = image.store.data() + record.offset;
    if (!source)
        memset(dest, fill, length);
    else if (inside)
        memcpy(dest, image.store.data() + sourceOffset, length);
    else
        memcpy(dest, source, length);
    return record;
}

void CodeAppend(CodeImage& image, const CodeRecord& record) {
    if (record.length == 0) return;
    image.records.push_back(record);
    image.numBytes += static_cast<int32_t>(record.length);
    image.numRecords += 1;
}

void CodeAddData(CodeImage& image, uint32_t address, uint32_t length, const uint8_t* source) {
    if (length == 0) return;
    CodeAppend(image, CodeNewRecord(image, address, length, source));
}

uint32_t CodeCopyOut(const CodeImage& image, uint32_t address, uint32_t length, uint8_t* out, uint8_t fill) {
    std::vector<bool> held(length, false);
    std::fill(out, out + length, fill);
    const uint64_t end = uint64_t{address} + length;
    for (const CodeRecord& r : image.records) {
        const uint64_t first = std::max<uint64_t>(r.address, address);
        const uint64_t last = std::min<uint64_t>(uint64_t{r.address} + r.length, end);
        for (uint64_t a = first; a < last; ++a) {
            out[a - address] = CodeData(image, r)[a - r.address];
            held[a - address] = true;
        }
    }
    return static_cast<uint32_t>(std::count(held.begin(), held.end(), true));
}

void CodeInsertSorted(CodeImage& image, const CodeRecord& record) {
    // The walk passes lower addresses and, at the same address, records at least as
    // long; it stops in front of the first record that does not.
    auto at = std::find_if(image.records.begin(), image.records.end(), [&](const CodeRecord& r) {
        return r.address > record.address || (r.address == record.address && r.length < record.length);
    });
    image.records.insert(at, record);
    image.numRecords += 1;
}

void CodeSort(CodeImage& image) {
    if (std::is_sorted(image.records.begin(), image.records.end(), SortsBefore)) return;
    std::stable_sort(image.records.begin(), image.records.end(), SortsBefore);
}

void CodeRecount(CodeImage& image) { image.numRecords = static_cast<int32_t>(image.records.size()); }

CodeRecord CodeUnlink(CodeImage& image, size_t index) {
    CodeRecord record = image.records.at(index);
    image.records.erase(image.records.begin() + static_cast<ptrdiff_t>(index));
    image.numBytes -= static_cast<int32_t>(record.length);
    CodeRecount(image);
    return record;
}

void CodeMoveFirstToEnd(CodeImage& image) {
    if (image.records.empty()) return;
    CodeAppend(image, CodeUnlink(image, 0));
}

int32_t CompCodeSize(const CodeImage& image) {
    int64_t sum = 0;
    for (const CodeRecord& r : image.records) sum += r.length;
    int32_t count = static_cast<int32_t>(image.records.size());
    if (static_cast<int32_t>(sum) != image.numBytes)
        MsgPrint(MSG_WARNING, "Internal: CompCodeSize: Code size mismatch. %i != %i", static_cast<int32_t>(sum),
                 image.numBytes);
    if (count != image.numRecords)
        MsgPrint(MSG_WARNING, "Internal: CompCodeSize: Record count mismatch. %i != %i", count, image.numRecords);
    return static_cast<int32_t>(sum);
}

void CodeFree(CodeImage& image) {
    // The header text goes with the records it described, also when there were none:
    // a later import must not inherit the previous file's S0 name.
    image.name.reset();
    image.fromTarget = false;
    if (image.records.empty()) {
        CodeByteStore().swap(image.store);
        return;
    }
    for (const CodeRecord& r : image.records) {
        image.numBytes -= static_cast<int32_t>(r.length);
        image.numRecords -= 1;
    }
    CodeRecordList().swap(image.records);
    CodeByteStore().swap(image.store);
    if (image.numRecords != 0 || image.numBytes != 0) {
        MsgPrint(MSG_WARNING, "CodeFree(): numRecords %i, should be 0", image.numRecords);
        MsgPrint(MSG_WARNING, "CodeFree(): numBytes %i, should be 0", image.numBytes);
        image.numRecords = 0;
        image.numBytes = 0;
    }
}

void CodeCompact(CodeImage& image) {
    CodeSort(image);
    MergeNeighbours(image);
    CodeRecount(image);
    RecordsShrinkIfWasteful(image);
    StoreRepackIfWasteful(image);
}

void CodeRejectOverlaps(const CodeImage& image) {
    for (size_t i = 1; i < image.records.size(); ++i) {
        const CodeRecord& p = image.records[i - 1];
        const CodeRecord& s = image.records[i];
        if (s.address < EndOf(p))
            MsgError("Code records overlap: %08X-%08X and %08X-%08X.", p.address, LastOf(p), s.address, LastOf(s));
    }
}

void CodeAlignBlocks(CodeImage& image, uint32_t blockSize, uint8_t fill) {
    if (blockSize == 0) blockSize = 1;
    CodeCompact(image);
    // Gaps and pads are computed between neighbours; overlapping records would turn
    // them into wrapped, gigantic lengths.
    CodeRejectOverlaps(image);

    // Holes that lie inside one block are filled, so the block is written whole.
    CodeRecordList filled;
    filled.reserve(image.records.size());
    for (size_t i = 0; i < image.records.size(); ++i) {
        const CodeRecord r = image.records[i];
        filled.push_back(r);
        if (i + 1 == image.records.size()) break;
        const CodeRecord& s = image.records[i + 1];
        uint32_t gap = s.address - (r.address + r.length);
        if (r.address / blockSize == s.address / blockSize && gap != 0) {
            filled.push_back(CodeNewRecord(image, r.address + r.length, gap, nullptr, fill));
            image.numBytes += static_cast<int32_t>(gap);
        }
    }
    image.records.swap(filled);
    CodeRecordList().swap(filled);
    CodeCompact(image);

    // Front padding: every record is extended down to its block boundary, or down to
    // the end of its predecessor when that one ends inside the same block.
    CodeRecordList padded;
    padded.reserve(image.records.size());
    for (size_t i = 0; i < image.records.size(); ++i) {
        const CodeRecord s = image.records[i];
        uint32_t r = s.address % blockSize;
        uint32_t pad = r;
        if (i > 0) {
            uint64_t prevEnd = EndOf(image.records[i - 1]);
            if (prevEnd >= s.address - r) pad = static_cast<uint32_t>(s.address - prevEnd);
        }
        if (pad != 0) {
            padded.push_back(CodeNewRecord(image, s.address - pad, pad, nullptr, fill));
            image.numBytes += static_cast<int32_t>(pad);
        }
        padded.push_back(s);
    }
    image.records.swap(padded);
    CodeRecordList().swap(padded);
    CodeCompact(image);
    CompCodeSize(image);
}

void CodeSplit(CodeImage& image, uint32_t pieceSize) {
    if (pieceSize == 0) return;
    size_t pieces = 0;
    for (const CodeRecord& r : image.records) pieces += (uint64_t{r.length} + pieceSize - 1) / pieceSize;
    // Pieces refer to slices of the same stored bytes: nothing is copied.
    CodeRecordList split;
    split.reserve(pieces);
    for (const CodeRecord& r : image.records) {
        for (uint32_t done = 0; done < r.length;) {
            uint32_t n = std::min(pieceSize, r.length - done);
            split.push_back(CodeRecord{r.address + done, n, r.offset + done});
            done += n;
        }
    }
    image.records.swap(split);
    CodeRecount(image);
}

void CodeSetRcordLength(CodeImage& image, uint32_t unit, uint8_t fill) {
    if (unit > 1) {
        for (CodeRecord& r : image.records) {
            uint64_t newLength;
            if (r.length < unit)
                newLength = unit;
            else if (r.length % unit == 0)
                continue;
            else
                newLength = uint64_t{unit} * (r.length / unit + 1);
            if (newLength > UINT32_MAX) MsgError("CodeSetRcordLength() realloc failure.");
            uint32_t added = static_cast<uint32_t>(newLength - r.length);
            MoveToStoreEnd(image, r);
            size_t at = StoreGrow(image, added);
            memset(image.store.data() + at, fill, added);
            r.length = static_cast<uint32_t>(newLength);
            image.numBytes += static_cast<int32_t>(added);
        }
        StoreRepackIfWasteful(image);
    }
    CodeRecount(image);
    CompCodeSize(image);
}

void CodeList(const CodeImage& image, FILE* out) {
    if (image.name) fprintf(out, "\n\r%s", image.name->c_str());
    for (const CodeRecord& r : image.records)
        fprintf(out, "\n\r%08X-%08X: Size %i", r.address, LastOf(r), static_cast<int>(r.length));
    fflush(out);
}

void CodeDump(const CodeImage& image, FILE* out) {
    static const char kHex[] = "0123456789ABCDEF";
    std::vector<char> line;
    for (const CodeRecord& r : image.records) {
        line.resize(2 + 2 * size_t{r.length});
        line[0] = '\n';
        line[1] = '\r';
        const uint8_t* data = CodeData(image, r);
        for (uint32_t i = 0; i < r.length; ++i) {
            line[2 + 2 * i] = kHex[data[i] >> 4];
            line[3 + 2 * i] = kHex[data[i] & 15];
        }
        fwrite(line.data(), 1, line.size(), out);
    }
    fflush(out);
}

CodeImage& ProgramCode() { return g_program.image; }
bool ProgramCodeLoaded() { return g_program.loaded; }
void SetProgramCodeLoaded(bool loaded) { g_program.loaded = loaded; }
int CodeFormat() { return g_program.format; }
void SetCodeFormat(int format) { g_program.format = format; }
