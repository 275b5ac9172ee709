// XML firmware container: a <Firmware> document whose one code block carries Intel
// HEX text. The document is parsed from memory; no scratch files are written.
#include <cstring>
#include <new>
#include <string>

#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/xml/xml.h>

#include "base/exit.hpp"
#include "image/code_formats.hpp"
#include "image/formats/stream_io.hpp"

namespace {
// The container's notes go to the wxWidgets log as plain lines, without the clock
// time the default log target puts in front.
void LogNote(const char* text) {
    const wxString stamp = wxLog::GetTimestamp();
    wxLog::DisableTimestamp();
    wxLogMessage("%s", text);
    wxLog::FlushActive();
    wxLog::SetTimestamp(stamp);
}

wxXmlNode* FirstChildNamed(wxXmlNode* parent, const char* name) {
    for (wxXmlNode* n = parent->GetChildren(); n; n = n->GetNext())
        if (n->GetType() == wxXML_ELEMENT_NODE && n->GetName() == name) return n;
    return nullptr;
}

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
        LogNote(note);
        AppExit(-1);
    }

    wxXmlDocument doc;
    {
        wxLogNull quiet;  // a parse failure only means "not this format"
        wxMemoryInputStream input(text.data(), text.size());
        if (!doc.Load(input, "UTF-8") || !doc.GetRoot()) return CODE_ERR_UNKNOWN;
    }
    std::string().swap(text);
    wxXmlNode* root = doc.GetRoot();
    if (root->GetName() != "Firmware") return CODE_ERR_FORMAT;
    wxXmlNode* code = FirstChildNamed(root, "Code");
    if (!code) return CODE_ERR_FORMAT;
    int blocks = 0;
    int records = 0;
    for (wxXmlNode* n = code->GetChildren(); n; n = n->GetNext()) {
        if (n->GetType() != wxXML_ELEMENT_NODE) continue;
        if (n->GetName() == "Block") ++blocks;
        if (n->GetName() == "Record") ++records;
    }
    if (blocks != 1 || records != 0) {
        LogNote("Supports only one code 'Block' at the moment.");
        return CODE_ERR_FORMAT;
    }
    wxXmlNode* content = FirstChildNamed(FirstChildNamed(code, "Block"), "Content");
    if (!content) return CODE_ERR_FORMAT;
    wxString type;
    if (!content->GetAttribute("type", &type)) return CODE_OK;
    if (type != "IntelHex") {
        LogNote("Unsupported content type");
        return CODE_ERR_FORMAT;
    }
    const wxString hexText = content->GetNodeContent();
    const wxScopedCharBuffer hex = hexText.utf8_str();
    if (hex.length() == 0) {
        CodeFree(image);
        return CODE_ERR_EOF;  // the HEX reader's answer to an empty text
    }
    FILE* memory = fmemopen(const_cast<char*>(hex.data()), hex.length(), "rb");
    if (!memory) return CODE_ERR_UNKNOWN;
    int status = IntelHexImport(memory, image, FORMAT_INTELHEX);
    fclose(memory);
    return status;
}

int XmlContainerExport(FILE*, CodeImage&, int) {
    LogNote("No write support implemented at the moment.");
    return CODE_ERR_UNKNOWN;
}
