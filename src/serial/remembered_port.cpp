#include "serial/remembered_port.hpp"

#include <algorithm>
#include <string>

#include "platform/config_store.hpp"

namespace {
constexpr const char* kValueName = "AutoPort";
}  // namespace

std::string RememberedPortRead() {
    std::string text = ConfigReadText(kValueName);
    text.resize(std::min<size_t>(text.size(), kRememberedPortChars));
    return text;
}

void RememberedPortWrite(const char* portName) {
    std::string text = portName ? portName : "";
    if (text.size() > kRememberedPortChars) text.resize(kRememberedPortChars);
    ConfigWriteText(kValueName, text);
}
