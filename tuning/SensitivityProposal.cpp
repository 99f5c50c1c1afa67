#include "tuning/SensitivityProposal.h"

#include <limits>

uint8_t AutoSen_Evaluate(float sum, int32_t count, float margin, int32_t* computed) {
    int32_t value = 0;
    if (count > 0) {
        const float product = (sum / static_cast<float>(count)) * margin;
        // A float-to-int conversion out of range is undefined, and a negative
        // product would wrap into a large register value; neither may reach
        // the chip. NaN fails both comparisons and stays 0.
        if (product >= 2147483520.0f)  // largest float below 2^31
            value = std::numeric_limits<int32_t>::max();
        else if (product > 0.0f)
            value = static_cast<int32_t>(product);
    }
    if (computed != nullptr) *computed = value;
    return value > kAutoSenMax ? kAutoSenMax : static_cast<uint8_t>(value);
}
