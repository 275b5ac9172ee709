// XML documents through Windows' own parser, XmlLite, loaded at run time from
// "xmllite.dll" (MinGW has its header but no import library).
#include "platform/xml_document.hpp"

#include <windows.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <cstdio>

#include "platform/win32/win32_text.hpp"

namespace {
// IID_IXmlReader, which MinGW declares but no library of it defines.
const IID kXmlReaderInterface = {0x7279FC81, 0x709D, 0x4095, {0xB6, 0x3D, 0x69, 0xFE, 0x4B, 0x0D, 0x90, 0x30}};

using CreateReaderFunction = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

CreateReaderFunction CreateReader() {
    static CreateReaderFunction create = [] {
        HMODULE library = LoadLibraryExA("xmllite.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return library ? win32::LibraryFunction<CreateReaderFunction>(library, "CreateXmlReader") : nullptr;
    }();
    return create;
}

// Releases a COM object at the end of the scope.
template <typename T>
struct Owned {
    T* p = nullptr;
    ~Owned() {
        if (p) p->Release();
    }
};

std::string Text(IXmlReader* reader, HRESULT (STDMETHODCALLTYPE IXmlReader::*get)(LPCWSTR*, UINT*)) {
    LPCWSTR text = nullptr;
    UINT length = 0;
    if (FAILED((reader->*get)(&text, &length)) || !text) return "";
    return win32::Utf8(text, static_cast<int>(length));
}

// Reads the whole document into the tree. As wxWidgets' reader does, white space between
// elements makes no text, and an element's text is its first text or CDATA child.
bool Build(IXmlReader* reader, XmlElement& root) {
    std::vector<XmlElement*> open;  // the elements whose end has not come yet
    std::vector<bool> hasText;
    bool haveRoot = false;
    XmlNodeType type;
    HRESULT result;
    while ((result = reader->Read(&type)) == S_OK) {
        switch (type) {
        case XmlNodeType_Element: {
            XmlElement* element;
            if (open.empty()) {
                if (haveRoot) return false;
                haveRoot = true;
                element = &root;
            } else {
                open.back()->children.emplace_back();
                element = &open.back()->children.back();
            }
            element->name = Text(reader, &IXmlReader::GetQualifiedName);
            const bool empty = reader->IsEmptyElement();
            for (HRESULT a = reader->MoveToFirstAttribute(); a == S_OK; a = reader->MoveToNextAttribute())
                element->attributes.emplace_back(Text(reader, &IXmlReader::GetQualifiedName),
                                                 Text(reader, &IXmlReader::GetValue));
            if (!empty) {
                open.push_back(element);
                hasText.push_back(false);
            }
            break;
        }
        case XmlNodeType_EndElement:
            if (open.empty()) return false;
            open.pop_back();
            hasText.pop_back();
            break;
        case XmlNodeType_Text:
        case XmlNodeType_CDATA:
            if (!open.empty() && !hasText.back()) {
                open.back()->text = Text(reader, &IXmlReader::GetValue);
                hasText.back() = true;
            }
            break;
        default: break;  // white space, comments, processing instructions, the declaration
        }
    }
    return result == S_FALSE && haveRoot && open.empty();
}
}  // namespace

bool XmlParse(const std::string& text, XmlElement& root) {
    CreateReaderFunction create = CreateReader();
    if (!create) return false;
    Owned<IStream> stream;
    stream.p = SHCreateMemStream(reinterpret_cast<const BYTE*>(text.data()), static_cast<UINT>(text.size()));
    Owned<IXmlReader> reader;
    if (!stream.p || FAILED(create(kXmlReaderInterface, reinterpret_cast<void**>(&reader.p), nullptr))) return false;
    // A document type declaration is read as expat reads it; the parser's own limit on
    // entity expansion stays in force.
    reader.p->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Parse);
    if (FAILED(reader.p->SetInput(stream.p))) return false;
    XmlElement tree;
    if (!Build(reader.p, tree)) return false;
    root = std::move(tree);
    return true;
}

// The notes go to standard error as plain lines, as the wxWidgets log does in a console
// program.
void XmlNote(const char* text) {
    fprintf(stderr, "%s\n", text);
    fflush(stderr);
}
