// libFuzzer entry: the reply collector, fed through the receive ring.
#include "fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzz::ReplyCollector(data, size); }
