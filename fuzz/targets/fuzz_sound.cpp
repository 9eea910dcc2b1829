// Decodes arbitrary bytes as a project's sound, reading, seeking and reading again.
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/AudioDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(data, data + size);
    pm::AudioDecoder decoder;
    if (!decoder.openMemory(bytes, "sound").ok()) {
        return 0;
    }
    const pm::AudioFormat format = decoder.format();
    if (format.bytesPerFrame() <= 0 || format.bytesPerFrame() > 64) {
        return 0;
    }
    std::vector<std::uint8_t> block(4096 * static_cast<std::size_t>(format.bytesPerFrame()));
    decoder.read(block.data(), 4096);
    decoder.seek(format.rate / 2);
    decoder.read(block.data(), 4096);
    decoder.seek(0);
    decoder.read(block.data(), 1024);
    return 0;
}
