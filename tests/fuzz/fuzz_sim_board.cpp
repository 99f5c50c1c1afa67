// libFuzzer entry: the simulated board's command-frame parser.
#include "fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzz::SimBoardFrames(data, size); }
