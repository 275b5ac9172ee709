// Fuzz target: the XML container reader and what follows a successful import.
#include <wx/log.h>

#include "reader_harness.hpp"

// The container's notes ("Unsupported content type", ...) go to the wxWidgets log;
// they would flood the fuzzer's output.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    wxLog::EnableLogging(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzReader(XmlContainerImport, FORMAT_NONE, data, size);
    return 0;
}
