// The sensitivity value the automatic procedure proposes for a set of touched
// difference samples. One home for the rule: the automatic sensitivity dialog
// and the signal-to-noise test's recommendation both call it.
#pragma once

#include <cstdint>

constexpr uint8_t kAutoSenMax = 0x3F;

// The proposal for sum/count samples and a margin: the float32 mean times the
// margin, truncated toward zero and capped at 0x3F. A non-positive or
// non-numeric product gives 0. *computed (optional) receives the value before
// the cap, limited to the int32 range.
uint8_t AutoSen_Evaluate(float sum, int32_t count, float margin, int32_t* computed = nullptr);
