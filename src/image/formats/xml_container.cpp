// XML firmware container: a <Firmware> document whose one code block carries Intel
// HEX text. The document is parsed from memory; no scratch files are written.
#include <cstring>
#include <new>
#include <string>

#include "base/exit.hpp"
#include "image/code_formats.hpp"
#include "image/formats/stream_io.hpp"
#include "platform/files.hpp"
#include "platform/xml_document.hpp"

namespace {
// An XML document begins with '<' after an optional byte order mark and blanks.
// Checking that first spares reading a large HEX or S-record file into memory just
// to see the parser fail on it.
bool MayBeXml(FILE* stream) {
    codeio::ByteSource source(stream);
    int c = source.Get();
    if (c == 0xEF) {
        if (source.Get() != 0xBB || source.Get() != 0xBF) return false;
        c = source.Get();
    } else if (c == 0xFE || c == 0xFF) {
        return true;  // UTF-16: left to the parser
    }
    while (c == ' ' || c == '\t' || c == '\r' || c == '\n') c = source.Get();
    return c == '<';
}

bool ReadWhole(FILE* stream, std::string& text) {
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, stream)) > 0) text.append(chunk, got);
    return !ferror(stream);
}
}  // namespace

int XmlContainerImport(FILE* stream, CodeImage& image, int format) {
    if (format >= FORMAT_BINARY && format <= FORMAT_MOTSREC32) return CODE_ERR_FORMAT;
    long start = ftell(stream);
    if (!MayBeXml(stream)) return CODE_ERR_UNKNOWN;
    if (start >= 0) fseek(stream, start, SEEK_SET);

    std::string text;
    try {
        text.reserve(codeio::RemainingSize(stream));
        if (!ReadWhole(stream, text)) return CODE_ERR_UNKNOWN;
    } catch (const std::bad_alloc&) {
        char note[120];
        snprintf(note, sizeof note, "Out of memory (%li bytes) in %s line %i",
                 static_cast<long>(codeio::RemainingSize(stream)), "src/image/formats/xml_container.cpp", __LINE__);
        XmlNote(note);
        AppExit(-1);
    }

    XmlElement root;
    if (!XmlParse(text, root)) return CODE_ERR_UNKNOWN;
    std::string().swap(text);
    if (root.name != "Firmware") return CODE_ERR_FORMAT;
    const XmlElement* code = root.FirstChild("Code");
    if (!code) return CODE_ERR_FORMAT;
    int blocks = 0;
    int records = 0;
    for (const XmlElement& n : code->children) {
        if (n.name == "Block") ++blocks;
        if (n.name == "Record") ++records;
    }
    if (blocks != 1 || records != 0) {
        XmlNote("Supports only one code 'Block' at the moment.");
        return CODE_ERR_FORMAT;
    }
    const XmlElement* content = code->FirstChild("Block")->FirstChild("Content");
    if (!content) return CODE_ERR_FORMAT;
    const std::string* type = content->Attribute("type");
    if (!type) return CODE_OK;
    if (*type != "IntelHex") {
        XmlNote("Unsupported content type");
        return CODE_ERR_FORMAT;
    }
    const std::string& hex = content->text;
    if (hex.empty()) {
        CodeFree(image);
        return CODE_ERR_EOF;  // the HEX reader's answer to an empty text
    }
    FILE* memory = OpenMemoryStream(hex.data(), hex.size());
    if (!memory) return CODE_ERR_UNKNOWN;
    int status = IntelHexImport(memory, image, FORMAT_INTELHEX);
    fclose(memory);
    return status;
}

int XmlContainerExport(FILE*, CodeImage&, int) {
    XmlNote("No write support implemented at the moment.");
    return CODE_ERR_UNKNOWN;
}
