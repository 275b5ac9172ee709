// Readers and writers of the code file formats, the format table and the status codes.
// Every function takes an open byte stream (files opened in binary mode), the image
// and the current format code, and returns a status code; 0 is success.
#pragma once

#include <cstdio>
#include <span>
#include <string>

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
// Whether the bytes start with the ELF magic (7F 'E' 'L' 'F').
bool IsElf(const uint8_t* bytes, size_t size);

// How IMPORTCODE recognises a file of a format when FORMAT named none.
enum CodeDetection {
    DETECT_NEVER,      // nothing in the file tells: FORMAT must name the format
    DETECT_TRIED,      // the reader is tried, in table order, until one takes the file
    DETECT_SIGNATURE,  // a file beginning with the signature is this format's alone
};

// One code file format: a row of the format table (format_table.cpp).
struct CodeFileFormat {
    const char* keyword = nullptr;  // FORMAT's keyword; none: only detection reaches it
    int code = FORMAT_NONE;         // the format code FORMAT sets
    CodeFormatFunc reader = nullptr;
    CodeFormatFunc writer = nullptr;  // none: the format is read, not written
    CodeDetection detection = DETECT_NEVER;
    const char* signature = "";    // DETECT_SIGNATURE: the bytes every file begins with
    int detectedAs = FORMAT_NONE;  // the format code a detected file leaves for a later export
    const char* name = "";         // the format as the note about a damaged file names it
    // DETECT_TRIED: the character every file of the format begins with. When no reader
    // takes a file, the one its first character points to tells what is wrong with it.
    char firstChar = 0;
    // The highest address the writer's records carry, and the name of those records.
    uint32_t addressLimit = 0xFFFFFFFF;
    const char* records = "";
};

// Every format, in detection order.
std::span<const CodeFileFormat> CodeFileFormats();
// The row whose keyword is `keyword` (whole, upper case), or null.
const CodeFileFormat* CodeFormatNamed(const std::string& keyword);
// The row of a format code. Code 0, the format not set, is written as MOTSREC writes.
const CodeFileFormat& CodeFormatOf(int code);

// What reading a code file came to.
struct CodeFileRead {
    int status = CODE_OK;
    // Success: the format code the file leaves for a later export (the one detected), or
    // FORMAT_NONE to keep the one set.
    int formatAfter = FORMAT_NONE;
    // Failure: the format whose reader tells what is wrong with the file (null: none
    // claims it) and the line where that reader stopped (0: none).
    const CodeFileFormat* format = nullptr;
    size_t line = 0;
};
// Reads the stream into the empty image: in the format of `code`, or, for code 0, in the
// one the file shows (signatures first, then the readers tried in table order). A failed
// detection leaves the image empty.
CodeFileRead CodeReadFile(FILE* stream, CodeImage& image, int code);

// The image's bytes laid out flat from the first record's first byte, gaps filled
// with `fill` (the binary writer uses 0x00, DRIVERBIN 0xFF). Ends the run with an
// ERROR when a record starts before its predecessor ends.
void WriteFlatImage(FILE* stream, const CodeImage& image, uint8_t fill);

// The line a text reader (Intel HEX, S-records, MOTBREC) was on when it stopped: where a
// damaged file went wrong. Counted from 1 in each import.
size_t CodeImportLine();
void CodeSetImportLine(size_t line);
