// The configuration store and the XML parser of the Linux build: wxWidgets, in the
// module vorlo-wx.so, loaded on first use (platform/wx/wx_module.hpp says why).
#include <cstdio>
#include <string>
#include <vector>

#include "platform/config_store.hpp"
#include "platform/posix/run_time_library.hpp"
#include "platform/process.hpp"
#include "platform/wx/wx_module.hpp"
#include "platform/xml_document.hpp"

namespace {
struct Module {
    decltype(&vorlo_wx_config_read) configRead;
    decltype(&vorlo_wx_config_write) configWrite;
    decltype(&vorlo_wx_xml_parse) xmlParse;
    decltype(&vorlo_wx_note) note;
    bool ok = false;
};

// Beside the program (a build tree), where the install puts it, where the build put it.
std::vector<std::string> ModulePaths() {
    std::string self = SelfExecutablePath();
    std::string dir = self.substr(0, self.rfind('/') + 1);
    return {dir + "vorlo-wx.so", dir + VORLO_MODULE_FROM_BIN "/vorlo-wx.so", VORLO_MODULE_BUILD_DIR "/vorlo-wx.so"};
}

const Module& Wx() {
    static Module m;
    static const bool bound = [] {
        const std::vector<std::string> paths = ModulePaths();
        static RunTimeLibrary library({paths[0].c_str(), paths[1].c_str(), paths[2].c_str()});
        bool ok = library.Bind(m.configRead, "vorlo_wx_config_read") &&
                  library.Bind(m.configWrite, "vorlo_wx_config_write") &&
                  library.Bind(m.xmlParse, "vorlo_wx_xml_parse") && library.Bind(m.note, "vorlo_wx_note");
        if (!ok) {
            fprintf(stderr, "vorlo-wx.so: %s\n", library.Error().c_str());
            fflush(stderr);
        }
        return ok;
    }();
    m.ok = bound;
    return m;
}

// Builds the element tree from the module's walk, which comes in document order.
struct TreeBuilder {
    XmlElement& root;
    std::vector<XmlElement*> path;  // the open element at each depth

    static void Element(void* context, int depth, const char* name, const char* text) {
        TreeBuilder& b = *static_cast<TreeBuilder*>(context);
        b.path.resize(static_cast<size_t>(depth));
        XmlElement* element = &b.root;
        if (depth > 0) {
            b.path.back()->children.emplace_back();
            element = &b.path.back()->children.back();
        }
        element->name = name;
        element->text = text;
        b.path.push_back(element);
    }
    static void Attribute(void* context, const char* name, const char* value) {
        static_cast<TreeBuilder*>(context)->path.back()->attributes.emplace_back(name, value);
    }
};
}  // namespace

std::string ConfigReadText(const char* name) {
    std::string value;
    if (Wx().ok)
        Wx().configRead(name, [](void* context, const char* text) { *static_cast<std::string*>(context) = text; }, &value);
    return value;
}

bool ConfigWriteText(const char* name, const std::string& value) {
    return Wx().ok && Wx().configWrite(name, value.c_str()) == 1;
}

bool XmlParse(const std::string& text, XmlElement& root) {
    root = XmlElement{};
    if (!Wx().ok) return false;
    TreeBuilder builder{root, {}};
    if (Wx().xmlParse(text.data(), text.size(), TreeBuilder::Element, TreeBuilder::Attribute, &builder) == 1) return true;
    root = XmlElement{};
    return false;
}

void XmlNote(const char* text) {
    if (Wx().ok) {
        Wx().note(text);
    } else {
        fprintf(stderr, "%s\n", text);
        fflush(stderr);
    }
}
