// XML documents through wxWidgets' wxXmlDocument.
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/xml/xml.h>

#include "platform/wx/wx_module.hpp"

namespace {
struct Walker {
    void (*element)(void*, int, const char*, const char*);
    void (*attribute)(void*, const char*, const char*);
    void* context;

    void Walk(const wxXmlNode& node, int depth) const {
        element(context, depth, node.GetName().utf8_str(), node.GetNodeContent().utf8_str());
        for (const wxXmlAttribute* a = node.GetAttributes(); a; a = a->GetNext())
            attribute(context, a->GetName().utf8_str(), a->GetValue().utf8_str());
        for (const wxXmlNode* child = node.GetChildren(); child; child = child->GetNext())
            if (child->GetType() == wxXML_ELEMENT_NODE) Walk(*child, depth + 1);
    }
};
}  // namespace

extern "C" int vorlo_wx_xml_parse(const char* text, size_t size, void (*element)(void*, int, const char*, const char*),
                                  void (*attribute)(void*, const char*, const char*), void* context) {
    wxXmlDocument doc;
    {
        wxLogNull quiet;  // a parse failure only means "not this format"
        wxMemoryInputStream input(text, size);
        if (!doc.Load(input, "UTF-8") || !doc.GetRoot()) return 0;
    }
    Walker{element, attribute, context}.Walk(*doc.GetRoot(), 0);
    return 1;
}

// The notes go to the wxWidgets log as plain lines, without the clock time the default
// log target puts in front.
extern "C" void vorlo_wx_note(const char* text) {
    const wxString stamp = wxLog::GetTimestamp();
    wxLog::DisableTimestamp();
    wxLogMessage("%s", text);
    wxLog::FlushActive();
    wxLog::SetTimestamp(stamp);
}
