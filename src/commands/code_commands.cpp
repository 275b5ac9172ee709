// The code file commands: load, convert, list and inspect the program's code image.
#include <string>

#include "base/messages.hpp"
#include "base/text.hpp"
#include "commands/handlers.hpp"
#include "context/run_context.hpp"
#include "image/code_formats.hpp"
#include "image/code_image.hpp"
#include "image/version_record.hpp"

namespace {
// Blocks of this size suit every code file format: each line or record carries at
// most one aligned block.
constexpr uint32_t kExportBlock = 32;

// A full disk or a failing device must not pass for a complete code file.
void CloseWritten(FILE* file, const char* path) {
    bool failed = fflush(file) != 0 || ferror(file);
    if (fclose(file) != 0) failed = true;
    if (failed) MsgError("Can't write file %s.", path);
}

// Every format but these three, the unset one included, is written as S-records.
bool WritesSRecords(int format) {
    return format != FORMAT_INTELHEX && format != FORMAT_MOTBREC && format != FORMAT_BINARY;
}

// S1 and S2 records carry 16 and 24 address bits: refuse what they cannot hold
// rather than write a cut-off address.
void RequireSRecordRange(const CodeImage& image, int format) {
    uint32_t limit = SRecordAddressLimit(format);
    if (limit == 0xFFFFFFFF) return;
    const char* type = limit == 0xFFFF ? "S1" : "S2";
    for (const CodeRecord& r : image.records) {
        uint64_t last = uint64_t{r.address} + r.length - 1;
        if (last > limit)
            MsgError("Address %08X is beyond the range of %s records; use --format=MOTSREC32.",
                     static_cast<uint32_t>(r.address > limit ? r.address : limit + 1), type);
    }
    if (image.entryAddress > limit)
        MsgError("Entry address %08X is beyond the range of %s records; use --format=MOTSREC32.",
                 image.entryAddress, type);
}
}  // namespace

void CmdFormat(const char* value) {
    std::string keyword = UpperCase(value);
    static const struct {
        const char* keyword;
        int format;
    } kKeywords[] = {
        {"MOTSREC", FORMAT_MOTSREC}, {"MOTSREC24", FORMAT_MOTSREC24}, {"MOTSREC32", FORMAT_MOTSREC32},
        {"MOTBREC", FORMAT_MOTBREC}, {"INTELHEX", FORMAT_INTELHEX},   {"BINARY", FORMAT_BINARY},
        {"ELF", FORMAT_ELF},
    };
    for (const auto& k : kKeywords) {
        if (keyword == k.keyword) {
            SetCodeFormat(k.format);
            return;
        }
    }
    MsgError("Unsupported file format \"%s\"", keyword.c_str());
}

namespace {
// Reads a code file into the empty `image`: in the format FORMAT set, else in the one
// its contents show. A file that does not read ends the run. Returns the format a
// later export should use, or FORMAT_NONE to keep the one set.
int ReadCodeFile(const char* path, CodeImage& image) {
    FILE* file = FileOpen(path, "rb");
    int format = CodeFormat();
    if (format != FORMAT_NONE) {
        CodeSetImportLine(0);
        int status = CodeImporterFor(format)(file, image, format);
        if (status != CODE_OK) {
            fclose(file);
            if (CodeImportLine() > 0) MsgPrint(MSG_NOTE, "%s: line %zu.", path, CodeImportLine());
            MsgError("%s", CodeStatusText(status));
        }
        fclose(file);
        return FORMAT_NONE;
    }
    // Detection: the container first (it says so in its first byte), then S-records,
    // then Intel HEX. Binary and MOTBREC have no signature.
    static const struct {
        int slot;
        int formatAfter;
    } kTries[] = {
        {SLOT_XML_IMPORT, FORMAT_MOTSREC32},
        {SLOT_SRECORD_IMPORT, FORMAT_NONE},
        {SLOT_INTELHEX_IMPORT, FORMAT_INTELHEX},
    };
    int statusOf[SLOT_COUNT] = {};
    size_t lineOf[SLOT_COUNT] = {};
    // An ELF file says so in its first four bytes: only the ELF reader looks at it.
    uint8_t magic[4] = {};
    if (fread(magic, 1, sizeof magic, file) == sizeof magic && IsElf(magic, sizeof magic)) {
        rewind(file);
        statusOf[SLOT_ELF_IMPORT] = ElfImport(file, image, FORMAT_NONE);
        fclose(file);
        if (statusOf[SLOT_ELF_IMPORT] != CODE_OK) {
            CodeFree(image);
            MsgPrint(MSG_NOTE, "%s, read as ELF: %s", path, CodeStatusText(statusOf[SLOT_ELF_IMPORT]));
            MsgError("Unknown file format or damaged file.");
        }
        // Written as S3 records unless another format is chosen: ELF addresses are 32-bit.
        return FORMAT_MOTSREC32;
    }
    for (const auto& t : kTries) {
        rewind(file);
        CodeSetImportLine(0);
        statusOf[t.slot] = kCodeFormatTable[t.slot](file, image, FORMAT_NONE);
        lineOf[t.slot] = CodeImportLine();
        if (statusOf[t.slot] == CODE_OK) {
            fclose(file);
            return t.formatAfter;
        }
        CodeFree(image);
    }
    // The first byte tells which reader the file was meant for: its finding is what
    // went wrong.
    rewind(file);
    int first = fgetc(file);
    fclose(file);
    int slot = first == ':' ? SLOT_INTELHEX_IMPORT : first == 'S' ? SLOT_SRECORD_IMPORT : -1;
    if (slot >= 0)
        MsgPrint(MSG_NOTE, "%s, read as %s: line %zu: %s", path, slot == SLOT_INTELHEX_IMPORT ? "Intel HEX" : "S-records",
                 lineOf[slot], CodeStatusText(statusOf[slot]));
    MsgError("Unknown file format or damaged file.");
}
}  // namespace

void CmdImportCode(const char* value) {
    CodeImage& image = ProgramCode();
    CodeFree(image);
    // Until the import succeeded there is no code: a failed one must not leave a WRITE
    // behind it an empty image to program.
    SetProgramCodeLoaded(false);
    const bool detected = CodeFormat() == FORMAT_NONE;
    const int formatAfter = ReadCodeFile(value, image);
    if (detected) SetCodeFormat(formatAfter);
    SetProgramCodeLoaded(true);
}

void CmdBslPassword(const char* value) {
    constexpr uint32_t kVectors = 0xFFE0;  // the MSP430's interrupt vectors: its BSL password
    constexpr uint32_t kPasswordBytes = 32;
    RunContext& run = Run();
    run.bslPassword.assign(kPasswordBytes, 0xFF);
    if (UpperCase(value) == "ERASED") {
        run.bslPasswordSource = "the default (32 bytes FF, an erased part)";
        return;
    }
    CodeImage image;
    ReadCodeFile(value, image);
    const uint32_t held = CodeCopyOut(image, kVectors, kPasswordBytes, run.bslPassword.data(), 0xFF);
    CodeFree(image);
    if (held == 0) {
        run.bslPassword.clear();
        MsgError("%s holds nothing at FFE0-FFFF, the interrupt vectors that are the BSL password.", value);
    }
    run.bslPasswordSource = std::string("the vectors FFE0-FFFF of ") + value;
}

void CmdExportCode(const char* value) {
    CodeImage& image = ProgramCode();
    int format = CodeFormat();
    // Checked before the file is created, so a refused export leaves no file behind.
    CodeCompact(image);
    CodeRejectOverlaps(image);
    if (WritesSRecords(format)) RequireSRecordRange(image, format);

    FILE* file = FileOpen(value, "wb");
    // A code file's records start on whole blocks, the bytes in front filled with FF, the
    // erased flash. What was read from a target is written as it came: a dump holds no
    // byte the target did not give.
    if (!image.fromTarget) CodeAlignBlocks(image, kExportBlock, 0xFF);
    CodeSplit(image, kExportBlock);
    int status = CodeExporterFor(format)(file, image, format);
    if (status != CODE_OK && WritesSRecords(format)) {
        fclose(file);
        MsgPrint(MSG_PLAIN, "Exporting code.");
        MsgError("%s", CodeStatusText(status));
    }
    CloseWritten(file, value);
}

void CmdListCode(const char*) { CodeList(ProgramCode(), stdout); }

void CmdListData(const char*) { CodeDump(ProgramCode(), stdout); }

void CmdCompactCode(const char*) { CodeCompact(ProgramCode()); }

void CmdGetEntryAddr(const char*) { MsgPrint(MSG_PLAIN, "%.8X", ProgramCode().entryAddress); }

void CmdDriverBin(const char* value) {
    CodeImage& image = ProgramCode();
    CodeCompact(image);
    CodeRejectOverlaps(image);
    FILE* file = FileOpen(value, "wb");
    WriteFlatImage(file, image, 0xFF);
    CloseWritten(file, value);
}

void CmdTestFunc(const char*) {
    CodeImage& image = ProgramCode();
    CodeAlignBlocks(image, 4096, 0xFF);
    CodeSplit(image, 4096);
    CodeList(image, stdout);
    CodeSetRcordLength(image, 4096, 0xFF);
    CodeList(image, stdout);
}

void CmdCodeInfo(const char*) { CodeInfoPrint(ProgramCode(), stdout); }

void ReleaseProgramCode() { CodeFree(ProgramCode()); }
