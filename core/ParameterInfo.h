#pragma once

#include <string>

namespace pm {

// Range, default and smoothing of one motion parameter. Minimum, maximum and default are user
// values even for the logarithmic scale parameter.
struct ParameterInfo {
    std::string storeKey;
    std::string displayName;
    int kind = 2;
    float minimum = 0.0f;
    float maximum = 1.0f;
    float defaultValue = 0.0f;
    float smoothing = 60.0f;
    bool logarithmic = false;
};

}  // namespace pm
