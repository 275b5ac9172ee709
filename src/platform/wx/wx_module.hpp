// The wxWidgets services of the Linux build (the configuration store, the XML parser) in
// a module of their own, vorlo-wx.so, which the program loads only when one of them is
// first needed: loading and linking the wxWidgets libraries would otherwise cost every
// run, a one-line conversion as much as a whole programming job. The module's entry
// points take and give C types only, so no C++ object crosses between the program and
// the module (each may bring its own C++ runtime).
#pragma once

#include <cstddef>

extern "C" {
// The stored text of `name`: found(context, text) when there is one. Returns 1 when
// found, else 0.
int vorlo_wx_config_read(const char* name, void (*found)(void* context, const char* text), void* context);
// Stores the text; 1 when the store was written.
int vorlo_wx_config_write(const char* name, const char* text);

// Parses the document. For every element in document order: element(context, depth,
// name, text of its first text or CDATA child), then attribute(context, name, value)
// for each of its attributes. Returns 1 for a well-formed document, else 0 (and calls
// nothing).
int vorlo_wx_xml_parse(const char* text, size_t size,
                       void (*element)(void* context, int depth, const char* name, const char* text),
                       void (*attribute)(void* context, const char* name, const char* value), void* context);
// A note of the container reader, on the library's log (standard error).
void vorlo_wx_note(const char* text);
}
