#pragma once

#include "render/ImageBuffer.h"
#include "render/SceneImage.h"

namespace pm {

// One level of a scene's picture for as long as the object lives: getImage() on construction
// and the matching releaseImage() at the end, whatever way the reader leaves. `kind` as
// getImage takes it; kind() tells what was handed out.
class LevelAccess {
public:
    LevelAccess(SceneImage& picture, int level, int kind) : m_picture(picture), m_kind(kind) {
        m_image = picture.getImage(level, &m_locked, &m_kind);
    }
    ~LevelAccess() {
        if (m_locked) {
            m_picture.releaseImage();
        }
    }
    LevelAccess(const LevelAccess&) = delete;
    LevelAccess& operator=(const LevelAccess&) = delete;

    const ImageBuffer& image() const { return m_image; }
    int kind() const { return m_kind; }

private:
    SceneImage& m_picture;
    ImageBuffer m_image;
    bool m_locked = false;
    int m_kind = 0;
};

}  // namespace pm
