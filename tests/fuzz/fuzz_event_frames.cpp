// libFuzzer entry: the event-frame assembler and decoder.
#include "fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzz::EventFrames(data, size); }
