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

[[noreturn]] void RefuseExport(int status) {
    MsgPrint(MSG_PLAIN, "Exporting code.");
    MsgError("%s", CodeStatusText(status));
}

// Records that carry fewer than 32 address bits (S1, S2): refuse what they cannot hold
// rather than write a cut-off address.
void RequireAddressRange(const CodeImage& image, const CodeFileFormat& written) {
    const uint32_t limit = written.addressLimit;
    if (limit == 0xFFFFFFFF) return;
    for (const CodeRecord& r : image.records) {
        uint64_t last = uint64_t{r.address} + r.length - 1;
        if (last > limit)
            MsgError("Address %08X is beyond the range of %s records; use --format=MOTSREC32.",
                     static_cast<uint32_t>(r.address > limit ? r.address : limit + 1), written.records);
    }
    if (image.entryAddress > limit)
        MsgError("Entry address %08X is beyond the range of %s records; use --format=MOTSREC32.",
                 image.entryAddress, written.records);
}
}  // namespace

void CmdFormat(const char* value) {
    std::string keyword = UpperCase(value);
    if (const CodeFileFormat* format = CodeFormatNamed(keyword)) {
        SetCodeFormat(format->code);
        return;
    }
    MsgError("Unsupported file format \"%s\"", keyword.c_str());
}

namespace {
// Reads a code file into the empty `image`: in the format FORMAT set, else in the one
// its contents show. A file that does not read ends the run. Returns the format a
// later export should use, or FORMAT_NONE to keep the one set.
int ReadCodeFile(const char* path, CodeImage& image) {
    FILE* file = FileOpen(path, "rb");
    const int format = CodeFormat();
    const CodeFileRead read = CodeReadFile(file, image, format);
    fclose(file);
    if (read.status == CODE_OK) return read.formatAfter;
    if (format != FORMAT_NONE) {
        if (read.line > 0) MsgPrint(MSG_NOTE, "%s: line %zu.", path, read.line);
        MsgError("%s", CodeStatusText(read.status));
    }
    // Detection failed: the reader the file was meant for says what is wrong with it.
    if (read.format && read.format->detection == DETECT_SIGNATURE)
        MsgPrint(MSG_NOTE, "%s, read as %s: %s", path, read.format->name, CodeStatusText(read.status));
    else if (read.format)
        MsgPrint(MSG_NOTE, "%s, read as %s: line %zu: %s", path, read.format->name, read.line,
                 CodeStatusText(read.status));
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
    const CodeFileFormat& written = CodeFormatOf(format);
    // Checked before the file is created, so a refused export leaves no file behind.
    CodeCompact(image);
    CodeRejectOverlaps(image);
    // A format that is only read must not cost the file of that name its contents.
    if (!written.writer) RefuseExport(CODE_ERR_READ_ONLY);
    RequireAddressRange(image, written);

    FILE* file = FileOpen(value, "wb");
    // A code file's records start on whole blocks, the bytes in front filled with FF, the
    // erased flash. What was read from a target is written as it came: a dump holds no
    // byte the target did not give.
    if (!image.fromTarget) CodeAlignBlocks(image, kExportBlock, 0xFF);
    CodeSplit(image, kExportBlock);
    int status = written.writer(file, image, format);
    if (status != CODE_OK) {
        fclose(file);
        RefuseExport(status);
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
