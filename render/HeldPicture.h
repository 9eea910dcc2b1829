#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace pm {

// A picture kept somewhere other than its own file, such as the copy embedded in a project file.
// Its encoded bytes are fetched each time the picture is decoded, so they need not stay in memory
// while the picture is unloaded. Holders compare these objects by identity.
class HeldPicture {
public:
    virtual ~HeldPicture() = default;
    // The encoded picture file, or null when it cannot be read (or the picture is held only as
    // decoded pixels).
    virtual std::shared_ptr<const std::vector<std::uint8_t>> bytes() const = 0;
};

}  // namespace pm
