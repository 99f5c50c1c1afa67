// libFuzzer entry: the INI reader and writer.
#include "fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzz::Ini(data, size); }
