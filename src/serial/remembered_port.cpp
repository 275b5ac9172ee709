#include "serial/remembered_port.hpp"

#include <algorithm>
#include <string>

#include "platform/config_store.hpp"

namespace {
constexpr const char* kValueName = "AutoPort";
char g_port[kRememberedPortChars + 1];
}  // namespace

const char* RememberedPortRead() {
    std::string text = ConfigReadText(kValueName);
    text.resize(std::min<size_t>(text.size(), kRememberedPortChars));
    text.copy(g_port, text.size());
    g_port[text.size()] = '\0';
    return g_port;
}

void RememberedPortWrite(const char* portName) {
    std::string text = portName ? portName : "";
    if (text.size() > kRememberedPortChars) text.resize(kRememberedPortChars);
    ConfigWriteText(kValueName, text);
}
