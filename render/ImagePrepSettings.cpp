#include "render/ImagePrepSettings.h"

namespace pm {

namespace {
// Auto levels ignores bins holding less than this share of the fullest bin.
constexpr double kAutoLevelsThreshold = 0.015;

LevelsTable composeCurve(const ImagePrepSettings& settings,
                         const LevelsTable::Histogram* histogram) {
    LevelsTable table;
    if (histogram != nullptr) {
        table.autoLevels(*histogram, kAutoLevelsThreshold);
    }
    // The curve at gamma 1 is meant to be the identity, but its floating-point evaluation would
    // darken two dozen input values by one.
    if (settings.gamma() != 1.0f) {
        table.levels(settings.gamma(), 0, 255, 0, 255);
    }
    table.contrast(settings.contrast());
    table.brightness(settings.brightness());
    return table;
}

}  // namespace

void ImagePrepSettings::setGamma(float gamma) {
    if (gamma != m_gamma) {
        m_gamma = gamma;
        ++m_changeCount;
    }
}

void ImagePrepSettings::setBrightness(float percent) {
    if (percent != m_brightness) {
        m_brightness = percent;
        ++m_changeCount;
    }
}

void ImagePrepSettings::setContrast(float percent) {
    if (percent != m_contrast) {
        m_contrast = percent;
        ++m_changeCount;
    }
}

void ImagePrepSettings::setAutoLevels(bool on) {
    if (on != m_autoLevels) {
        m_autoLevels = on;
        ++m_changeCount;
    }
}

bool ImagePrepSettings::isActive() const {
    return m_gamma != 1.0f || m_brightness != 0.0f || m_contrast != 0.0f || m_autoLevels;
}

bool ImagePrepSettings::sameValues(const ImagePrepSettings& other) const {
    return m_gamma == other.m_gamma && m_brightness == other.m_brightness &&
           m_contrast == other.m_contrast && m_autoLevels == other.m_autoLevels;
}

LevelsTable ImagePrepSettings::levelsFor(const ImageBuffer& source) const {
    LevelsTable::Histogram histogram{};
    // A source the histogram cannot read gets the curve without its auto-levels step.
    const bool measured =
        m_autoLevels && LevelsTable::histogramOf(source, &histogram) == PixelStatus::Ok;
    return composeCurve(*this, measured ? &histogram : nullptr);
}

LevelsTable ImagePrepSettings::levelsFor(const LevelsTable::Histogram& histogram) const {
    return composeCurve(*this, m_autoLevels ? &histogram : nullptr);
}

PixelStatus ImagePrepSettings::prepare(const ImageBuffer& destination,
                                       const ImageBuffer& source) const {
    return levelsFor(source).apply(destination, source);
}

}  // namespace pm
