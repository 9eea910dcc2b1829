#pragma once

#include <cmath>
#include <cstdint>

#include "export/PluginApi.h"

namespace pm {

// A two-second project: a moving gradient and a 440 Hz tone; it can cancel after some frames.
class ToneAndGradient : public plugin::ExportSource {
public:
    virtual ~ToneAndGradient() = default;
    int framesServed = 0;
    int cancelAfter = -1;
    bool withSound = true;

    std::int32_t projectTitle(plugin::TextObject* title) override {
        title->set("Test");
        return 1;
    }
    TickTime* duration(TickTime* out) override {
        *out = 2 * kTicksPerSecond;
        return out;
    }
    std::int32_t audioFormat(plugin::AudioFormatDesc* f) override {
        if (!withSound) {
            *f = {};
            return 0;
        }
        *f = plugin::AudioFormatDesc{24, 1, 2, 44100, 4, 16};
        return 1;
    }
    std::int32_t audio(plugin::AudioBuffer* b) override {
        auto* out = reinterpret_cast<std::int16_t*>(b->data);
        for (std::uint32_t i = 0; i < b->capacity; ++i) {
            const double t = static_cast<double>(b->position + i) / b->format.samplesPerSecond;
            const auto v = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * t));
            for (std::uint32_t c = 0; c < b->format.channels; ++c) {
                out[i * b->format.channels + c] = v;
            }
        }
        return 1;
    }
    std::int32_t videoFrame(plugin::VideoFrame* frame) override {
        if (cancelAfter >= 0 && framesServed >= cancelAfter) {
            return 0;
        }
        ++framesServed;
        const plugin::FrameImage& img = frame->image;
        for (int y = 0; y < img.height; ++y) {
            std::uint8_t* row = img.pixels + static_cast<std::ptrdiff_t>(y) * img.pitch;
            for (int x = 0; x < img.width; ++x) {
                row[x * 4 + 0] = static_cast<std::uint8_t>(x + framesServed);
                row[x * 4 + 1] = static_cast<std::uint8_t>(y);
                row[x * 4 + 2] = 128;
                row[x * 4 + 3] = 255;
            }
        }
        return 1;
    }
    std::int32_t keepAlpha(std::int32_t) override { return 0; }
};

}  // namespace pm
