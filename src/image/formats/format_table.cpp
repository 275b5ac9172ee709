// The code format table and the import/export status texts.
#include "image/code_formats.hpp"

const CodeFormatFunc kCodeFormatTable[SLOT_COUNT] = {
    BinaryImport,  BinaryExport,  IntelHexImport,     IntelHexExport,     MotBRecImport,
    MotBRecExport, SRecordImport, SRecordExport,      XmlContainerImport, XmlContainerExport,
    ElfImport,     ElfExport,
};

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

namespace {
int FamilySlot(int format) {
    switch (format) {
    case FORMAT_BINARY: return SLOT_BINARY_IMPORT;
    case FORMAT_INTELHEX: return SLOT_INTELHEX_IMPORT;
    case FORMAT_MOTBREC: return SLOT_MOTBREC_IMPORT;
    case FORMAT_ELF: return SLOT_ELF_IMPORT;
    default: return SLOT_SRECORD_IMPORT;  // 0 (S1 output), MOTSREC, MOTSREC24, MOTSREC32
    }
}
}  // namespace

CodeFormatFunc CodeImporterFor(int format) { return kCodeFormatTable[FamilySlot(format)]; }
CodeFormatFunc CodeExporterFor(int format) { return kCodeFormatTable[FamilySlot(format) + 1]; }

namespace {
size_t g_importLine = 0;  // the import's position, for the message about a damaged file
}  // namespace

size_t CodeImportLine() { return g_importLine; }
void CodeSetImportLine(size_t line) { g_importLine = line; }
