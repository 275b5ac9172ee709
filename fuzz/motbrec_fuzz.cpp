// Fuzz target: the MOTBREC reader and what follows a successful import.
#include "reader_harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzReader(MotBRecImport, FORMAT_MOTBREC, data, size);
    return 0;
}
