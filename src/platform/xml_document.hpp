// The host's XML parser: a document read whole into its elements, with their
// attributes and text, for the XML firmware container.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct XmlElement {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    // The content of the element's first text or CDATA child, in UTF-8 ("" when none).
    std::string text;
    std::vector<XmlElement> children;  // its child elements, in document order

    const XmlElement* FirstChild(const char* childName) const {
        for (const XmlElement& child : children)
            if (child.name == childName) return &child;
        return nullptr;
    }
    const std::string* Attribute(const char* attributeName) const {
        for (const auto& [key, value] : attributes)
            if (key == attributeName) return &value;
        return nullptr;
    }
};

// Parses a document (UTF-8, or the encoding it declares). False when the text is no
// well-formed document; the parser says nothing about it.
bool XmlParse(const std::string& text, XmlElement& root);

// A note of the container reader for its user, a line on standard error, as the parser
// library's own messages go.
void XmlNote(const char* text);
