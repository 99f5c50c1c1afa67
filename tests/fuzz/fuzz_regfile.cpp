// libFuzzer entry: the register-file reader and the atomic writer.
#include "fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzz::RegFile(data, size); }
