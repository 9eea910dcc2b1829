#pragma once

#include <cstdint>

#include "core/ChangeHub.h"

namespace pm {

// A view that follows the project. Answering non-zero stops the broadcast at this listener.
class ChangeListener {
public:
    virtual ~ChangeListener() = default;
    virtual std::int32_t onChange(std::uint32_t code, ChangeArgument argument) = 0;
};

}  // namespace pm
