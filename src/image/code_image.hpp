// The in-memory code image: an ordered list of records, each one contiguous run of
// bytes at a 32-bit target address, with an optional header text and an entry address.
//
// Representation: the records are a vector in list order; their bytes live in one
// byte store owned by the image and are referred to by offset, so that splitting and
// merging neighbours that already lie back to back in the store copies nothing. Use
// CodeData() to get a pointer to a record's bytes; the pointer stays valid until the
// next operation that adds bytes to the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "image/image_allocator.hpp"

struct CodeRecord {
    uint32_t address = 0;  // target address of the first data byte
    uint32_t length = 0;   // number of data bytes; never 0 inside an image
    size_t offset = 0;     // position of the first byte in the image's byte store
};

using CodeRecordList = std::vector<CodeRecord, ImageAllocator<CodeRecord>>;
using CodeByteStore = std::vector<uint8_t, ImageAllocator<uint8_t>>;

struct CodeImage {
    std::optional<std::string> name;  // header text (S0 record), none when absent
    uint32_t entryAddress = 0;
    int32_t numBytes = 0;
    int32_t numRecords = 0;
    CodeRecordList records;  // list order
    CodeByteStore store;     // bytes of all records (and released leftovers)
    bool fromTarget = false; // read from a target: every byte is one the target gave
};

inline uint8_t* CodeData(CodeImage& image, const CodeRecord& record) {
    return image.store.data() + record.offset;
}
inline const uint8_t* CodeData(const CodeImage& image, const CodeRecord& record) {
    return image.store.data() + record.offset;
}

// Creates a record holding a copy of the bytes in the image's store, not yet linked
// into the list (hand it to CodeAppend or CodeInsertSorted). `source` may point into
// the image's own store. A null source gives `length` bytes of `fill`.
CodeRecord CodeNewRecord(CodeImage& image, uint32_t address, uint32_t length, const uint8_t* source,
                         uint8_t fill = 0xFF);

// Appends the record as the new last one; a zero-length record is dropped.
void CodeAppend(CodeImage& image, const CodeRecord& record);
// Appends a new record with a copy of the bytes; length 0 does nothing.
void CodeAddData(CodeImage& image, uint32_t address, uint32_t length, const uint8_t* source);
// Copies the image's bytes at `address`..`address + length - 1` into `out`, with `fill`
// where the image holds nothing (a later record wins where records overlap). Returns
// how many of the bytes the image holds.
uint32_t CodeCopyOut(const CodeImage& image, uint32_t address, uint32_t length, uint8_t* out, uint8_t fill);
// Inserts at the sorted place (address ascending, equal addresses longest first,
// equal keys in insertion order). Counts the record but not its bytes.
void CodeInsertSorted(CodeImage& image, const CodeRecord& record);
// Sorts the list by that order; counters unchanged.
void CodeSort(CodeImage& image);
// Sets numRecords to the number of records (numBytes untouched).
void CodeRecount(CodeImage& image);
// Removes the record at `index` from the list and returns it; its bytes stay in the
// store until the next compaction, so append it again before reshaping the image.
CodeRecord CodeUnlink(CodeImage& image, size_t index);
// Moves the first record to the end of the list (CodeUnlink + CodeAppend).
void CodeMoveFirstToEnd(CodeImage& image);
// Consistency check of the counters (warnings only); returns the summed length.
int32_t CompCodeSize(const CodeImage& image);
// Releases all records and the name; the entry address stays.
void CodeFree(CodeImage& image);
// Sorts and merges records that continue each other.
void CodeCompact(CodeImage& image);
// Makes every record start on a multiple of `blockSize`, filling holes inside a block.
void CodeAlignBlocks(CodeImage& image, uint32_t blockSize, uint8_t fill);
// Cuts every record into pieces of at most `pieceSize` bytes.
void CodeSplit(CodeImage& image, uint32_t pieceSize);
// Pads every record to a multiple of `unit` bytes with `fill`.
void CodeSetRcordLength(CodeImage& image, uint32_t unit, uint8_t fill);
// Ends the run with an ERROR when a record starts before its predecessor in list
// order ends (overlapping data cannot be laid out flat or in blocks).
void CodeRejectOverlaps(const CodeImage& image);
// LISTCODE and LISTDATA output.
void CodeList(const CodeImage& image, FILE* out);
void CodeDump(const CodeImage& image, FILE* out);

// The program's one image and its state.
CodeImage& ProgramCode();
bool ProgramCodeLoaded();
void SetProgramCodeLoaded(bool loaded);

// Current code format: 0 not set, 1 BINARY, 2 INTELHEX, 3 MOTSREC, 4 MOTBREC,
// 5 MOTSREC24, 6 MOTSREC32, 7 ELF.
enum CodeFormatCode : int {
    FORMAT_NONE = 0,
    FORMAT_BINARY = 1,
    FORMAT_INTELHEX = 2,
    FORMAT_MOTSREC = 3,
    FORMAT_MOTBREC = 4,
    FORMAT_MOTSREC24 = 5,
    FORMAT_MOTSREC32 = 6,
    FORMAT_ELF = 7,  // read only
};
int CodeFormat();
void SetCodeFormat(int format);
