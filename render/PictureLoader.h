#pragma once

namespace pm {

class SceneImage;

// Decides when full-size pictures are in memory (the picture cache). A picture that must have its
// pixels now asks it, and it loads them on the calling thread, making room first if it wants.
class PictureLoader {
public:
    virtual ~PictureLoader() = default;
    virtual bool loadNow(SceneImage& image) = 0;
};

}  // namespace pm
