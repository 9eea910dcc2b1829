#pragma once

#include "render/ImageBuffer.h"
#include "render/SceneImage.h"

namespace pm {

// One level of a scene's picture for as long as the object lives: getImage() on construction
// and the matching releaseImage() at the end, whatever way the reader leaves. `access` as
// getImage takes it; given() tells what was handed out.
class LevelAccess {
public:
    LevelAccess(SceneImage& picture, int level, PictureAccess access)
        : m_picture(picture), m_given(access) {
        m_image = picture.getImage(level, &m_locked, &m_given);
    }
    ~LevelAccess() {
        if (m_locked) {
            m_picture.releaseImage();
        }
    }
    LevelAccess(const LevelAccess&) = delete;
    LevelAccess& operator=(const LevelAccess&) = delete;

    const ImageBuffer& image() const { return m_image; }
    PictureAccess given() const { return m_given; }

private:
    SceneImage& m_picture;
    ImageBuffer m_image;
    bool m_locked = false;
    PictureAccess m_given;
};

}  // namespace pm
