// Fuzz target: the Intel HEX reader and what follows a successful import.
#include "reader_harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzReader(IntelHexImport, FORMAT_INTELHEX, data, size);
    return 0;
}
