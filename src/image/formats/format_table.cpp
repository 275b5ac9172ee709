// The code format table, the detection of a file's format and the import/export status
// texts. A format is its reader and writer (a file of this folder) and its row here.
#include <cstring>
#include <iterator>

#include "image/code_formats.hpp"

namespace {
const CodeFileFormat kFormats[] = {
    // A container says so in its first byte, and may carry any text: it goes first. Its
    // code is written back as S3 records.
    {.reader = XmlContainerImport, .writer = XmlContainerExport, .detection = DETECT_TRIED,
     .detectedAs = FORMAT_MOTSREC32, .name = "XML container"},
    // A detected S-record file leaves the format unset: it is written back as S1 records.
    {.keyword = "MOTSREC", .code = FORMAT_MOTSREC, .reader = SRecordImport, .writer = SRecordExport,
     .detection = DETECT_TRIED, .name = "S-records", .firstChar = 'S', .addressLimit = 0xFFFF, .records = "S1"},
    {.keyword = "MOTSREC24", .code = FORMAT_MOTSREC24, .reader = SRecordImport, .writer = SRecordExport,
     .addressLimit = 0xFFFFFF, .records = "S2"},
    {.keyword = "MOTSREC32", .code = FORMAT_MOTSREC32, .reader = SRecordImport, .writer = SRecordExport},
    {.keyword = "INTELHEX", .code = FORMAT_INTELHEX, .reader = IntelHexImport, .writer = IntelHexExport,
     .detection = DETECT_TRIED, .detectedAs = FORMAT_INTELHEX, .name = "Intel HEX", .firstChar = ':'},
    // Binary and MOTBREC files carry no sign of their format.
    {.keyword = "MOTBREC", .code = FORMAT_MOTBREC, .reader = MotBRecImport, .writer = MotBRecExport},
    {.keyword = "BINARY", .code = FORMAT_BINARY, .reader = BinaryImport, .writer = BinaryExport},
    // ELF addresses are 32-bit: a detected ELF file is written back as S3 records.
    {.keyword = "ELF", .code = FORMAT_ELF, .reader = ElfImport, .detection = DETECT_SIGNATURE, .signature = "\x7F" "ELF",
     .detectedAs = FORMAT_MOTSREC32, .name = "ELF"},
};
constexpr size_t kFormatCount = std::size(kFormats);

bool BeginsWith(FILE* stream, const char* signature) {
    char head[16] = {};
    size_t size = strlen(signature);
    rewind(stream);
    return size <= sizeof head && fread(head, 1, size, stream) == size && memcmp(head, signature, size) == 0;
}

CodeFileRead Detect(FILE* stream, CodeImage& image) {
    CodeFileRead read;
    // A file with a format's signature is that format's alone.
    for (const CodeFileFormat& f : kFormats) {
        if (f.detection != DETECT_SIGNATURE || !BeginsWith(stream, f.signature)) continue;
        rewind(stream);
        read.status = f.reader(stream, image, FORMAT_NONE);
        if (read.status == CODE_OK) {
            read.formatAfter = f.detectedAs;
        } else {
            CodeFree(image);
            read.format = &f;
        }
        return read;
    }
    int statusOf[kFormatCount] = {};
    size_t lineOf[kFormatCount] = {};
    for (size_t i = 0; i < kFormatCount; ++i) {
        const CodeFileFormat& f = kFormats[i];
        if (f.detection != DETECT_TRIED) continue;
        rewind(stream);
        CodeSetImportLine(0);
        statusOf[i] = f.reader(stream, image, FORMAT_NONE);
        lineOf[i] = CodeImportLine();
        if (statusOf[i] == CODE_OK) {
            read.formatAfter = f.detectedAs;
            return read;
        }
        CodeFree(image);
    }
    // The first byte tells which reader the file was meant for: its finding is what
    // went wrong.
    rewind(stream);
    const int first = fgetc(stream);
    read.status = CODE_ERR_UNKNOWN;
    for (size_t i = 0; i < kFormatCount; ++i) {
        const char sign = kFormats[i].firstChar;
        if (kFormats[i].detection != DETECT_TRIED || sign == 0 || first != static_cast<unsigned char>(sign)) continue;
        read.format = &kFormats[i];
        read.status = statusOf[i];
        read.line = lineOf[i];
    }
    return read;
}
}  // namespace

const char* CodeStatusText(int status) {
    static const char* const kTexts[] = {
        "",
        "Unknown error.",
        "Unknown import/export error.",
        "Unexpected EOF.",
        "Line too length. Buffer overflow.",
        "Unknown record type.",
        "Invalid record length",
        "Invalid line length.",
        "Invalid data.",
        "Checksum mismatch.",
    };
    static const char* const kElfTexts[] = {
        "Damaged or truncated ELF file.",
        "ELF segment outside the file.",
        "ELF segments overlap.",
        "ELF address past 0xFFFFFFFF.",
        "ELF files are read, not written: choose another format.",
    };
    if (status >= 1 && status <= 9) return kTexts[status];
    if (status >= CODE_ERR_ELF_DAMAGED && status <= CODE_ERR_READ_ONLY) return kElfTexts[status - CODE_ERR_ELF_DAMAGED];
    return "Unknown import/export error.";
}

std::span<const CodeFileFormat> CodeFileFormats() { return kFormats; }

const CodeFileFormat* CodeFormatNamed(const std::string& keyword) {
    for (const CodeFileFormat& f : kFormats)
        if (f.keyword && keyword == f.keyword) return &f;
    return nullptr;
}

const CodeFileFormat& CodeFormatOf(int code) {
    for (const CodeFileFormat& f : kFormats)
        if (f.keyword && code == f.code) return f;
    return *CodeFormatNamed("MOTSREC");  // the format not set
}

CodeFileRead CodeReadFile(FILE* stream, CodeImage& image, int code) {
    if (code == FORMAT_NONE) return Detect(stream, image);
    CodeFileRead read;
    read.format = &CodeFormatOf(code);
    CodeSetImportLine(0);
    read.status = read.format->reader(stream, image, code);
    read.line = CodeImportLine();
    return read;
}

namespace {
size_t g_importLine = 0;  // the import's position, for the message about a damaged file
}  // namespace

size_t CodeImportLine() { return g_importLine; }
void CodeSetImportLine(size_t line) { g_importLine = line; }
