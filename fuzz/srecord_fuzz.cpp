// Fuzz target: the S-record reader and what follows a successful import.
#include "reader_harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzReader(SRecordImport, FORMAT_MOTSREC32, data, size);
    return 0;
}
