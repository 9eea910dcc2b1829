#pragma once

#include <cstdint>

#include "render/ImageBuffer.h"
#include "render/LevelsTable.h"

namespace pm {

// A scene's tone corrections: auto levels, gamma, contrast and brightness. Each setter that
// changes a value counts a change, so a holder that sees the counter move knows the picture must
// be prepared again.
class ImagePrepSettings {
public:
    float gamma() const { return m_gamma; }
    float brightness() const { return m_brightness; }
    float contrast() const { return m_contrast; }
    bool autoLevels() const { return m_autoLevels; }
    std::uint32_t changeCount() const { return m_changeCount; }

    void setGamma(float gamma);
    void setBrightness(float percent);
    void setContrast(float percent);
    void setAutoLevels(bool on);

    // True when any setting differs from its default.
    bool isActive() const;
    // The composed curve for `source` (auto levels reads its histogram).
    LevelsTable levelsFor(const ImageBuffer& source) const;
    // The same from the histogram of the source (LevelsTable::histogramOf), already gathered.
    LevelsTable levelsFor(const LevelsTable::Histogram& histogram) const;
    // Applies the curve found in `source` to B, G and R; destination may be the source.
    PixelStatus prepare(const ImageBuffer& destination, const ImageBuffer& source) const;

    bool sameValues(const ImagePrepSettings& other) const;

private:
    float m_gamma = 1.0f;
    float m_brightness = 0.0f;
    float m_contrast = 0.0f;
    bool m_autoLevels = false;
    std::uint32_t m_changeCount = 0;
};

}  // namespace pm
