// Readers and writers of the code file formats, the format table and the status codes.
// Every function takes an open byte stream (files opened in binary mode), the image
// and the current format code, and returns a status code; 0 is success.
#pragma once

#include <cstdio>

#include "image/code_image.hpp"

enum CodeStatus : int {
    CODE_OK = 0,
    CODE_ERR_UNKNOWN = 1,         // "Unknown error."
    CODE_ERR_IMPEXP = 2,          // "Unknown import/export error."
    CODE_ERR_EOF = 3,             // "Unexpected EOF."
    CODE_ERR_LINE_OVERFLOW = 4,   // "Line too length. Buffer overflow."
    CODE_ERR_RECORD_TYPE = 5,     // "Unknown record type."
    CODE_ERR_RECORD_LENGTH = 6,   // "Invalid record length"
    CODE_ERR_LINE_LENGTH = 7,     // "Invalid line length."
    CODE_ERR_DATA = 8,            // "Invalid data."
    CODE_ERR_CHECKSUM = 9,        // "Checksum mismatch."
    CODE_ERR_FORMAT = 10,         // format code not served by the function
    // ELF, beside the original formats.
    CODE_ERR_ELF_DAMAGED = 11,    // "Damaged or truncated ELF file."
    CODE_ERR_ELF_OUTSIDE = 12,    // "ELF segment outside the file."
    CODE_ERR_ELF_OVERLAP = 13,    // "ELF segments overlap."
    CODE_ERR_ELF_ADDRESS = 14,    // "ELF address past 0xFFFFFFFF."
    CODE_ERR_READ_ONLY = 15,      // "ELF files are read, not written: choose another format."
};

// Text of a status code; "Unknown import/export error." for anything but 1 to 9 and 11
// to 15.
const char* CodeStatusText(int status);

using CodeFormatFunc = int (*)(FILE* stream, CodeImage& image, int format);

int BinaryImport(FILE* stream, CodeImage& image, int format);
int BinaryExport(FILE* stream, CodeImage& image, int format);
int IntelHexImport(FILE* stream, CodeImage& image, int format);
int IntelHexExport(FILE* stream, CodeImage& image, int format);
int MotBRecImport(FILE* stream, CodeImage& image, int format);
int MotBRecExport(FILE* stream, CodeImage& image, int format);
int SRecordImport(FILE* stream, CodeImage& image, int format);
int SRecordExport(FILE* stream, CodeImage& image, int format);
int XmlContainerImport(FILE* stream, CodeImage& image, int format);
int XmlContainerExport(FILE* stream, CodeImage& image, int format);
int ElfImport(FILE* stream, CodeImage& image, int format);
int ElfExport(FILE* stream, CodeImage& image, int format);  // refuses: ELF is read only
// Whether the bytes start with the ELF magic (7F 'E' 'L' 'F').
bool IsElf(const uint8_t* bytes, size_t size);

// The format table: one import/export pair per format family.
enum CodeFormatSlot {
    SLOT_BINARY_IMPORT = 0,
    SLOT_BINARY_EXPORT,
    SLOT_INTELHEX_IMPORT,
    SLOT_INTELHEX_EXPORT,
    SLOT_MOTBREC_IMPORT,
    SLOT_MOTBREC_EXPORT,
    SLOT_SRECORD_IMPORT,
    SLOT_SRECORD_EXPORT,
    SLOT_XML_IMPORT,
    SLOT_XML_EXPORT,
    SLOT_ELF_IMPORT,
    SLOT_ELF_EXPORT,
    SLOT_COUNT
};
extern const CodeFormatFunc kCodeFormatTable[SLOT_COUNT];

// Import and export slot for a format code 1..7 (0 gives the S-record pair).
CodeFormatFunc CodeImporterFor(int format);
CodeFormatFunc CodeExporterFor(int format);

// The image's bytes laid out flat from the first record's first byte, gaps filled
// with `fill` (the binary writer uses 0x00, DRIVERBIN 0xFF). Ends the run with an
// ERROR when a record starts before its predecessor ends.
void WriteFlatImage(FILE* stream, const CodeImage& image, uint8_t fill);

// Highest address a record type can carry: 0xFFFF for S1, 0xFFFFFF for S2, else 0xFFFFFFFF.
uint32_t SRecordAddressLimit(int format);

// The line a text reader (Intel HEX, S-records, MOTBREC) was on when it stopped: where a
// damaged file went wrong. Counted from 1 in each import.
size_t CodeImportLine();
void CodeSetImportLine(size_t line);
