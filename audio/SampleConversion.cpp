#include "audio/SampleConversion.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "audio/detail/PcmAccess.h"

namespace pm {

namespace {

constexpr int kMaxChannels = 16;
// Centre and back channels at -3 dB, low-frequency at -12 dB, normalised to unity total gain.
constexpr double kMinus3dB = 0.707945789;
constexpr double kMinus12dB = 0.251188643;
constexpr double kDownmixNorm = 0.374941852;

// Values are mixed in a 32-bit domain: 8-bit samples are lifted into the top byte so that the
// halving and weighting keep their precision the same way as for wider samples.
std::int32_t loadMixValue(const std::uint8_t* p, int bits) {
    const std::int32_t v = detail::loadSample(p, bits);
    return bits == 8 ? static_cast<std::int32_t>(static_cast<std::uint32_t>(v) << 24) : v;
}

void storeMixValue(std::uint8_t* p, int bits, std::int32_t v) {
    detail::storeSample(p, bits, bits == 8 ? (v >> 24) : v);
}

}  // namespace

bool convertChannels(std::size_t count, const void* source, int sourceChannels, void* destination,
                     int destinationChannels, int bits) {
    if (sourceChannels < 1 || sourceChannels > kMaxChannels || destinationChannels < 1 ||
        destinationChannels > kMaxChannels || !detail::isSupportedWidth(bits)) {
        return false;
    }
    const int bytes = bits / 8;
    const auto* in = static_cast<const std::uint8_t*>(source);
    auto* out = static_cast<std::uint8_t*>(destination);
    std::array<std::int32_t, kMaxChannels> v{};
    std::array<std::int32_t, kMaxChannels> r{};
    for (std::size_t f = 0; f < count; ++f) {
        for (int c = 0; c < sourceChannels; ++c) {
            v[c] = loadMixValue(in + c * bytes, bits);
        }
        if (sourceChannels == 1 && destinationChannels == 2) {
            r[0] = r[1] = v[0];
        } else if (sourceChannels == 2 && destinationChannels == 1) {
            r[0] = v[1] / 2 + v[0] / 2;
        } else if (sourceChannels == 6 && destinationChannels == 2) {
            const double s = kMinus3dB * v[2] + kMinus12dB * v[3];
            r[0] = detail::clampToInt32((v[0] + s + kMinus3dB * v[4]) * kDownmixNorm);
            r[1] = detail::clampToInt32((v[1] + s + kMinus3dB * v[5]) * kDownmixNorm);
        } else {
            for (int c = 0; c < destinationChannels; ++c) {
                r[c] = c < sourceChannels ? v[c] : 0;
            }
        }
        for (int c = 0; c < destinationChannels; ++c) {
            storeMixValue(out + c * bytes, bits, r[c]);
        }
        in += static_cast<std::size_t>(sourceChannels) * bytes;
        out += static_cast<std::size_t>(destinationChannels) * bytes;
    }
    return true;
}

bool convertWidth(std::size_t count, const void* source, int sourceBits, void* destination,
                  int destinationBits, int channels) {
    if (!detail::isSupportedWidth(sourceBits) || !detail::isSupportedWidth(destinationBits) ||
        channels < 1) {
        return false;
    }
    const std::size_t values = count * static_cast<std::size_t>(channels);
    if (sourceBits == destinationBits) {
        std::memmove(destination, source, values * static_cast<std::size_t>(sourceBits / 8));
        return true;
    }
    const auto* in = static_cast<const std::uint8_t*>(source);
    auto* out = static_cast<std::uint8_t*>(destination);
    const int inBytes = sourceBits / 8;
    const int outBytes = destinationBits / 8;
    // Widening shifts the value into the high bits; narrowing keeps the high bits (arithmetic
    // shift), so every conversion is the exact bit-level rescaling between the widths.
    const int shift = destinationBits - sourceBits;
    for (std::size_t i = 0; i < values; ++i) {
        const std::int32_t v = detail::loadSample(in, sourceBits);
        const std::int32_t w =
            shift > 0 ? static_cast<std::int32_t>(static_cast<std::uint32_t>(v) << shift)
                      : (v >> -shift);
        detail::storeSample(out, destinationBits, w);
        in += inBytes;
        out += outBytes;
    }
    return true;
}

}  // namespace pm
