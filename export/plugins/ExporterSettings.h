#pragma once

// Settings every exporter module of ours keeps in its preset "Data" key. Shared by the modules;
// compiled into each.

#include <algorithm>
#include <cstdint>
#include <string>

#include "core/TickTime.h"
#include "store/StoreKey.h"

namespace pm::exporters {

struct VideoSettings {
    int width = 1920;
    int height = 1080;
    TickTime frameDuration = 900'000;  // 30 frames per second
    int quality = 20;                  // constant rate factor: lower is better
    std::string speed = "veryfast";    // encoder speed preset
    int audioBitrate = 192;            // kbit/s
    int sampleRate = 48'000;
    int channels = 2;
    bool audio = true;  // write the project's sound when it has one
    // Width of a pixel over its height, written into the file for players: frames of a standard
    // size whose pixels are not square (720 x 576 holding a 16:9 picture) show undistorted.
    double pixelAspect = 1.0;

    static constexpr int kMinSide = 16;
    static constexpr int kMaxSide = 8192;

    // Encoders of 4:2:0 video want even sides; every value is kept in a range that works.
    void normalize() {
        width = std::clamp(width, kMinSide, kMaxSide) & ~1;
        height = std::clamp(height, kMinSide, kMaxSide) & ~1;
        // 1 to 240 frames per second.
        frameDuration = std::clamp<TickTime>(frameDuration, kTicksPerSecond / 240, kTicksPerSecond);
        quality = std::clamp(quality, 0, 63);
        audioBitrate = std::clamp(audioBitrate, 32, 512);
        sampleRate = std::clamp(sampleRate, 8'000, 96'000);
        channels = std::clamp(channels, 1, 2);
        pixelAspect = pixelAspect >= 0.25 && pixelAspect <= 4.0 ? pixelAspect : 1.0;
    }

    bool load(StoreKey& key) {
        width = key.getInt("Width", width);
        height = key.getInt("Height", height);
        frameDuration = key.getInt64("FrameDuration", frameDuration);
        quality = key.getInt("Quality", quality);
        char text[64];
        // Through the store's own slot, so modules need not link the store library.
        const std::int64_t got = key.getString("Speed", text, sizeof text, nullptr);
        if (got > 0 && got <= static_cast<std::int64_t>(sizeof text)) {
            text[sizeof text - 1] = '\0';
            speed = text;
        }
        audioBitrate = key.getInt("AudioBitrate", audioBitrate);
        sampleRate = key.getInt("SampleRate", sampleRate);
        channels = key.getInt("Channels", channels);
        audio = key.getInt("Audio", audio ? 1 : 0) != 0;
        pixelAspect = key.getDouble("PixelAspect", pixelAspect);
        normalize();
        return true;
    }

    bool save(StoreKey& key) const {
        return key.setInt("Width", width) && key.setInt("Height", height) &&
               key.setInt64("FrameDuration", frameDuration) && key.setInt("Quality", quality) &&
               key.setString("Speed", speed) && key.setInt("AudioBitrate", audioBitrate) &&
               key.setInt("SampleRate", sampleRate) && key.setInt("Channels", channels) &&
               key.setInt("Audio", audio ? 1 : 0) && key.setDouble("PixelAspect", pixelAspect);
    }
};

}  // namespace pm::exporters
