#include "reader_harness.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/exit.hpp"
#include "image/version_record.hpp"

namespace {
// Export blocks, as EXPORTCODE uses, and a flash-sector-sized block as WRITE uses.
constexpr uint32_t kExportBlock = 32;
constexpr uint32_t kTargetBlock = 4096;
// Flat layouts (binary writer) are written only for images spanning at most this much:
// a record at 0 and one at 0xFFFFFF00 would otherwise write 4 GiB per input.
constexpr uint64_t kFlatLimit = 1 << 20;

[[noreturn]] void Broken(const char* what) {
    fprintf(stderr, "\nfuzz: %s\n", what);
    abort();
}

// An ERROR ends the run through AppExit, which skips libFuzzer's own exit hook; an
// abort in the first exit handler keeps the input that led there.
void AbortOnExit() { Broken("the run was ended (ERROR message)"); }

uint64_t EndOf(const CodeRecord& r) { return uint64_t{r.address} + r.length; }

void CheckImage(const CodeImage& image, uint32_t block = 0, uint32_t maxLength = 0) {
    int64_t sum = 0;
    for (const CodeRecord& r : image.records) {
        if (r.length == 0) Broken("empty record in the image");
        if (EndOf(r) > 0x100000000) Broken("record runs past address FFFFFFFF");
        if (r.offset + r.length > image.store.size()) Broken("record bytes outside the store");
        if (block && r.address % block) Broken("record not on a block boundary");
        if (maxLength && r.length > maxLength) Broken("record longer than a block");
        sum += r.length;
    }
    if (sum != image.numBytes || static_cast<int64_t>(image.records.size()) != image.numRecords)
        Broken("byte or record counter wrong");
}

// After compaction the records are sorted: an overlap is a record starting before its
// predecessor ends. EXPORTCODE, DRIVERBIN and WRITE refuse such images.
bool Overlaps(const CodeImage& image) {
    for (size_t i = 1; i < image.records.size(); ++i)
        if (image.records[i].address < EndOf(image.records[i - 1])) return true;
    return false;
}

bool SameData(CodeImage a, CodeImage b) {
    CodeCompact(a);
    CodeCompact(b);
    if (a.records.size() != b.records.size()) return false;
    for (size_t i = 0; i < a.records.size(); ++i) {
        const CodeRecord& x = a.records[i];
        const CodeRecord& y = b.records[i];
        if (x.address != y.address || x.length != y.length || memcmp(CodeData(a, x), CodeData(b, y), x.length) != 0)
            return false;
    }
    return true;
}

int Read(CodeFormatFunc reader, const void* data, size_t size, CodeImage& image, int format) {
    FILE* in = size ? fmemopen(const_cast<void*>(data), size, "rb") : fopen("/dev/null", "rb");
    if (!in) Broken("cannot open the input stream");
    int status = reader(in, image, format);
    fclose(in);
    return status;
}

std::string Write(CodeFormatFunc writer, CodeImage& image, int format, int& status) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    if (!out) Broken("cannot open the output stream");
    status = writer(out, image, format);
    fclose(out);
    std::string result(text, size);
    free(text);
    return result;
}

// Writes the image and reads the file back: the same records, and for S-records the
// same header text and entry address. A writer may refuse an image it cannot express.
void RoundTrip(const CodeImage& image, CodeFormatFunc writer, CodeFormatFunc reader, int format) {
    CodeImage copy = image;
    int status;
    std::string text = Write(writer, copy, format, status);
    if (status != CODE_OK) return;
    CodeImage back;
    if (Read(reader, text.data(), text.size(), back, format) != CODE_OK) Broken("a written file does not read back");
    CheckImage(back);
    if (!SameData(copy, back)) Broken("a written file reads back other data");
    // An empty header text (S0 data starting with a NUL) is written as no header.
    if (reader == SRecordImport &&
        (back.name.value_or("") != copy.name.value_or("") || back.entryAddress != copy.entryAddress))
        Broken("an S-record file reads back another header or entry address");
}
}  // namespace

void FuzzReader(CodeFormatFunc reader, int format, const uint8_t* data, size_t size, bool roundTrips) {
    static bool registered = false;
    if (!registered) {
        AppAtExit(AbortOnExit);
        registered = true;
    }
    static FILE* sink = fopen("/dev/null", "wb");

    CodeImage image;
    int status = Read(reader, data, size, image, format);
    CheckImage(image);
    // A failed import leaves nothing behind, except Intel HEX's buffer overflow status.
    if (status != CODE_OK) {
        if (status != CODE_ERR_LINE_OVERFLOW && !image.records.empty()) Broken("a failed import left records");
        return;
    }
    CodeList(image, sink);
    CodeDump(image, sink);
    CodeInfoPrint(image, sink);  // compacts the image
    CheckImage(image);
    CodeCompact(image);
    CheckImage(image);
    if (Overlaps(image)) return;

    // EXPORTCODE: 32-byte aligned blocks through every writer.
    CodeImage blocks = image;
    CodeAlignBlocks(blocks, kExportBlock, 0xFF);
    CheckImage(blocks, kExportBlock);
    CodeSplit(blocks, kExportBlock);
    CheckImage(blocks, kExportBlock, kExportBlock);
    if (!roundTrips) return;
    RoundTrip(blocks, IntelHexExport, IntelHexImport, FORMAT_INTELHEX);
    RoundTrip(blocks, SRecordExport, SRecordImport, FORMAT_MOTSREC);
    RoundTrip(blocks, SRecordExport, SRecordImport, FORMAT_MOTSREC24);
    RoundTrip(blocks, SRecordExport, SRecordImport, FORMAT_MOTSREC32);
    RoundTrip(blocks, MotBRecExport, MotBRecImport, FORMAT_MOTBREC);
    if (!image.records.empty() && EndOf(image.records.back()) - image.records.front().address <= kFlatLimit) {
        uint64_t span = EndOf(blocks.records.back()) - blocks.records.front().address;
        std::string flat = Write(BinaryExport, blocks, FORMAT_BINARY, status);
        if (status != CODE_OK || flat.size() != span) Broken("binary file of the wrong size");
        WriteFlatImage(sink, image, 0xFF);  // DRIVERBIN
    }

    // WRITE and TESTFUNC: sector-sized blocks, each padded to whole blocks.
    CodeAlignBlocks(image, kTargetBlock, 0xFF);
    CheckImage(image, kTargetBlock);
    CodeSplit(image, kTargetBlock);
    CheckImage(image, kTargetBlock, kTargetBlock);
    CodeSetRcordLength(image, kTargetBlock, 0xFF);
    CheckImage(image, kTargetBlock, kTargetBlock);
    CodeMoveFirstToEnd(image);
    CheckImage(image);
}
