#include "ProjectFixtures.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/ProjectContext.h"
#include "core/Scene.h"
#include "core/SceneMotion.h"
#include "render/SceneImage.h"

namespace pm::test {

std::uint32_t pictureColour(int seed, int x, int y) {
    return bgra((x * 7 + seed * 40) & 255, (y * 3 + seed * 11) & 255, ((x ^ y) + seed) & 255);
}

void writePicture(const std::string& path, int width, int height, int seed) {
    writeFile(path, encodePicture(width, height, 32, FIF_PNG,
                                  [seed](int x, int y) { return pictureColour(seed, x, y); }));
}

void writeSound(const std::string& path, double seconds) {
    const std::uint32_t rate = 8000;
    const auto frames = static_cast<std::uint32_t>(seconds * rate);
    std::vector<std::uint8_t> out;
    const auto put = [&out](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    };
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put(36 + frames * 2, 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(16, 4);
    put(1, 2);
    put(1, 2);
    put(rate, 4);
    put(rate * 2, 4);
    put(2, 2);
    put(16, 2);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put(frames * 2, 4);
    for (std::uint32_t f = 0; f < frames; ++f) {
        put(static_cast<std::uint16_t>((f * 97) % 20000), 2);
    }
    writeFile(path, out);
}

std::vector<std::vector<KeyframeDesc>> allKeys(const SceneMotion& scene) {
    std::vector<std::vector<KeyframeDesc>> keys(kParameterCount);
    for (int p = 0; p < kParameterCount; ++p) {
        for (int i = 0; i < scene.keyCount(p); ++i) {
            KeyframeDesc key;
            scene.getKey(p, i, key);
            keys[p].push_back(key);
        }
    }
    return keys;
}

void expectSameKeys(const std::vector<std::vector<KeyframeDesc>>& expected,
                    const std::vector<std::vector<KeyframeDesc>>& actual) {
    ASSERT_EQ(expected.size(), actual.size());
    for (std::size_t p = 0; p < expected.size(); ++p) {
        ASSERT_EQ(expected[p].size(), actual[p].size()) << "parameter " << p;
        for (std::size_t i = 0; i < expected[p].size(); ++i) {
            const KeyframeDesc& a = expected[p][i];
            const KeyframeDesc& b = actual[p][i];
            // Values pass through doubles; logarithmic tracks convert there and back.
            EXPECT_NEAR(a.value, b.value, 1e-5f * std::max(1.0f, std::abs(a.value)))
                << p << "/" << i;
            EXPECT_EQ(a.time, b.time) << p << "/" << i;
            EXPECT_EQ(a.slope, b.slope) << p << "/" << i;
            EXPECT_EQ(a.inLength, b.inLength) << p << "/" << i;
            EXPECT_EQ(a.outLength, b.outLength) << p << "/" << i;
            EXPECT_EQ(a.userDefined, b.userDefined) << p << "/" << i;
            EXPECT_EQ(a.mode, b.mode) << p << "/" << i;
            EXPECT_EQ(b.selected, 0);
        }
    }
}

TestDocument::TestDocument() {
    ProjectFile::Options options = file().options();
    options.freeMegabytes = [this](const std::filesystem::path&) -> std::optional<std::int64_t> {
        return freeMegabytes;
    };
    file().setOptions(options);
}

void TestDocument::setEmbed(bool embed) {
    ProjectFile::Options options = file().options();
    options.embed = embed;
    file().setOptions(options);
}

std::uint32_t pixelOf(Scene& scene, int x, int y) {
    auto* image = dynamic_cast<SceneImage*>(&scene.picture());
    if (image == nullptr) {
        return 0;
    }
    bool locked = false;
    PictureAccess kind = PictureAccess::Full;
    const ImageBuffer level = image->getImage(0, &locked, &kind);
    std::uint32_t value = 0;
    if (kind == PictureAccess::Full && level.pixels != nullptr) {
        std::memcpy(&value, level.row(static_cast<std::uint32_t>(y)) + 4 * x, 4);
    }
    if (locked) {
        image->releaseImage();
    }
    return value;
}

std::int32_t ShellLikeHooks::askForMissingImage(const std::string& shownPath, std::string& path) {
    ++asked;
    shown.push_back(shownPath);
    if (answerFolder.empty()) {
        path.clear();
        return 0;
    }
    const std::string leaf = std::filesystem::path(shownPath).filename().string();
    path = (std::filesystem::path(answerFolder) / leaf).string();
    if (tickSameFolder) {
        m_searchPath = path;
    }
    return 1;
}

std::int32_t ShellLikeHooks::searchForMissingFile(std::string& path) {
    ++searched;
    if (m_searchPath.empty()) {
        return 0;
    }
    const std::string leaf = std::filesystem::path(path).filename().string();
    path = (std::filesystem::path(m_searchPath).parent_path() / leaf).string();
    return 1;
}

void ShellLikeHooks::forgetSearchFolder() {
    ++forgotten;
    m_searchPath.clear();
}

}  // namespace pm::test
