// libFuzzer entry: the hint.txt reader.
#include "fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzz::HintFile(data, size); }
