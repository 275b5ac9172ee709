// Fuzz target: the ELF reader and what follows a successful import.
#include "reader_harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzReader(ElfImport, FORMAT_ELF, data, size, false);
    return 0;
}
