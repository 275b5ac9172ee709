// XML documents through wxWidgets' wxXmlDocument.
#include "platform/xml_document.hpp"

#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/xml/xml.h>

namespace {
void Convert(const wxXmlNode& node, XmlElement& element) {
    element.name = node.GetName().utf8_string();
    for (const wxXmlAttribute* a = node.GetAttributes(); a; a = a->GetNext())
        element.attributes.emplace_back(a->GetName().utf8_string(), a->GetValue().utf8_string());
    element.text = node.GetNodeContent().utf8_string();
    for (const wxXmlNode* child = node.GetChildren(); child; child = child->GetNext()) {
        if (child->GetType() != wxXML_ELEMENT_NODE) continue;
        element.children.emplace_back();
        Convert(*child, element.children.back());
    }
}
}  // namespace

bool XmlParse(const std::string& text, XmlElement& root) {
    wxXmlDocument doc;
    {
        wxLogNull quiet;  // a parse failure only means "not this format"
        wxMemoryInputStream input(text.data(), text.size());
        if (!doc.Load(input, "UTF-8") || !doc.GetRoot()) return false;
    }
    root = XmlElement{};
    Convert(*doc.GetRoot(), root);
    return true;
}

// The notes go to the wxWidgets log as plain lines, without the clock time the default
// log target puts in front.
void XmlNote(const char* text) {
    const wxString stamp = wxLog::GetTimestamp();
    wxLog::DisableTimestamp();
    wxLogMessage("%s", text);
    wxLog::FlushActive();
    wxLog::SetTimestamp(stamp);
}
