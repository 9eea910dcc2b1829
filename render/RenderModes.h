#pragma once

namespace pm {

// Which rows of the target a render draws.
enum class FieldMode : int {
    Frame = 0,   // every row
    First = 1,   // the first field: the even rows
    Second = 2,  // the second field: the odd rows
};

// How a render takes a scene's picture (SceneImage::getImage), and what it was given.
enum class PictureAccess : int {
    // Asked: whatever is in memory, the proxy while the full picture is not (the preview, which
    // must never wait for a decode).
    AsLoaded = 1,
    // Given: the 200-pixel proxy.
    Proxy = 2,
    // Asked: a missing picture is loaded first (exports). Given: the wanted level.
    Full = 3,
};

// What a render reports. Lower is worse: a frame mixed from two scenes reports the lower.
enum class RenderQuality : int {
    Failed = 0,
    Proxy = 2,  // drawn from a scene's small proxy
    Full = 3,   // drawn from the wanted levels, or the background alone
};

inline RenderQuality qualityOf(PictureAccess given) {
    return given == PictureAccess::Full ? RenderQuality::Full : RenderQuality::Proxy;
}

}  // namespace pm
