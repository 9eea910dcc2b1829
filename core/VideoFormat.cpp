#include "core/VideoFormat.h"

#include <cmath>
#include <iterator>

namespace pm {

namespace {

constexpr FrameSizePreset kFrameSizes[] = {
    {"NTSC", 720, 480},
    {"PAL", 720, 576},
    {"VCD NTSC", 352, 240},
    {"VCD PAL", 352, 288},
    {"DVD NTSC", 720, 480},
    {"DVD PAL", 720, 576},
    {"SVCD NTSC", 480, 480},
    {"SVCD PAL", 480, 576},
    {"HD 720", 1280, 720},
    {"HD 1080", 1920, 1080},
    // Today's screens and feeds.
    {"UHD 2160", 3840, 2160},
    {"Square 1080", 1080, 1080},
    {"Vertical 1080", 1080, 1920},
};

constexpr PixelAspectPreset kPixelAspects[] = {
    {"Square Pixel", 1.0f},        {"D1/DV NTSC 4:3", 0.9f},       {"DV NTSC 16:9", 1.4222222f},
    {"D1 NTSC 16:9", 1.2f},        {"D1/DV PAL 4:3", 1.0666667f},  {"D1/DV PAL 16:9", 1.1851852f},
    {"SVCD NTSC 4:3", 1.3333334f}, {"SVCD NTSC 16:9", 1.7777778f}, {"SVCD PAL 4:3", 1.6f},
    {"SVCD PAL 16:9", 2.1333334f}, {"VCD NTSC 4:3", 0.90909094f},  {"VCD NTSC 16:9", 1.2121212f},
    {"VCD PAL 4:3", 1.0909091f},   {"VCD PAL 16:9", 1.4545455f},   {"Anamorphic 2:1", 2.0f},
};

constexpr FrameRatePreset kFrameRates[] = {
    {"NTSC", 900'900},
    {"PAL", 1'080'000},
    {"30", 900'000},
    {"60", 450'000},
};

constexpr FieldOrderChoice kFieldOrders[] = {
    {6306, kUpperFieldFirst},
    {6305, kLowerFieldFirst},
    {6307, kFullFrame},
};

}  // namespace

std::span<const FrameSizePreset> frameSizePresets() {
    return kFrameSizes;
}
std::span<const PixelAspectPreset> pixelAspectPresets() {
    return kPixelAspects;
}
std::span<const FrameRatePreset> frameRatePresets() {
    return kFrameRates;
}
std::span<const FieldOrderChoice> fieldOrderChoices() {
    return kFieldOrders;
}

int matchFrameSize(int width, int height) {
    for (std::size_t i = 0; i < std::size(kFrameSizes); ++i) {
        if (kFrameSizes[i].width == width && kFrameSizes[i].height == height) {
            return static_cast<int>(i);
        }
    }
    return static_cast<int>(std::size(kFrameSizes));
}

int matchPixelAspect(float pixelAspect) {
    for (std::size_t i = 0; i < std::size(kPixelAspects); ++i) {
        if (kPixelAspects[i].pixelAspect == pixelAspect) {
            return static_cast<int>(i);
        }
    }
    return static_cast<int>(std::size(kPixelAspects));
}

int matchFrameRate(TickTime frameDuration) {
    for (std::size_t i = 0; i < std::size(kFrameRates); ++i) {
        if (kFrameRates[i].frameDuration == frameDuration) {
            return static_cast<int>(i);
        }
    }
    return static_cast<int>(std::size(kFrameRates));
}

std::int32_t normalizedFieldOrder(std::int32_t code) {
    for (const FieldOrderChoice& c : kFieldOrders) {
        if (c.code == code) {
            return code;
        }
    }
    return kUpperFieldFirst;
}

TickTime frameDurationForRate(double framesPerSecond) {
    if (!(framesPerSecond > 0.0)) {
        return 0;
    }
    return static_cast<TickTime>(std::trunc(2.7e7 / framesPerSecond + 0.5));
}

}  // namespace pm
