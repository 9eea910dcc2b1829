#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "FrozenProject.h"
#include "ProjectFixtures.h"
#include "core/ProjectContext.h"
#include "core/Scene.h"
#include "core/SceneMotion.h"
#include "render/ImageDecoder.h"
#include "render/RenderRequest.h"
#include "render/SceneImage.h"

// A project saved by an earlier build, with the frames it showed then. Every later build must read
// it the same way: the readers and writers of the file could drift together and still agree with
// each other, but not with this.
namespace pm {
namespace {

const std::string kData = PICTOMOVE_DOCUMENT_TEST_DATA;

struct ExpectedKey {
    int parameter;
    float time;
    float value;
};

struct ExpectedScene {
    double start;
    double length;
    std::vector<ExpectedKey> keys;
};

const std::vector<ExpectedScene> kScenes = {
    {0.0, 3.0, {{PosX, 0, 0.45f}, {PosX, 1, 0.55f}, {Scale, 0, 1.0f}, {Scale, 1, 1.1f}}},
    {2.0, 3.0, {{Angle, 0, 0.0f}, {Angle, 1, 0.5f}, {Blur, 0, 0.0f}, {Blur, 1, 4.0f}}},
    {4.0, 3.0, {{CamAngleA, 0, 0.0f}, {CamAngleA, 1, 0.6f}, {CamAngleB, 0, 0.2f}, {OffX, 0, 0.1f}}},
};

class FrozenProjectTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(document.open(kData + "/frozen.mzp")) << errors(); }
    std::string errors() { return document.context().errors().text(); }
    Project& project() { return document.context().project(); }
    test::TestDocument document;
};

TEST_F(FrozenProjectTest, OpensWithItsScenesAndSettings) {
    EXPECT_EQ(project().assumedWidth(), frozen::kWidth);
    EXPECT_DOUBLE_EQ(project().vAspRatio(), 16.0 / 9.0);
    ASSERT_EQ(project().sceneCount(), 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("scene " + std::to_string(i));
        const ExpectedScene& expected = kScenes[static_cast<std::size_t>(i)];
        Scene& scene = *project().sceneAt(i);
        EXPECT_EQ(project().table()[static_cast<std::size_t>(i)].start,
                  secondsToTicks(expected.start));
        EXPECT_EQ(project().lengthOf(scene.id()), secondsToTicks(expected.length));
        auto* picture = dynamic_cast<SceneImage*>(&scene.picture());
        ASSERT_NE(picture, nullptr);
        // Embedded, with no file of its own any more: the name shows in brackets.
        EXPECT_EQ(picture->displayName(), "[picture-" + std::to_string(i) + ".png]");
        EXPECT_EQ(picture->width(), 480);
        EXPECT_EQ(picture->height(), 320);
        EXPECT_FALSE(picture->isDefault());

        int keyed = 0;
        for (int parameter = 0; parameter < kParameterCount; ++parameter) {
            keyed += scene.keyCount(parameter);
        }
        EXPECT_EQ(keyed, static_cast<int>(expected.keys.size()));
        for (const ExpectedKey& key : expected.keys) {
            bool found = false;
            for (int k = 0; k < scene.keyCount(key.parameter); ++k) {
                KeyframeDesc d;
                ASSERT_TRUE(scene.getKey(key.parameter, k, d));
                if (d.time == key.time) {
                    found = true;
                    EXPECT_FLOAT_EQ(d.value, key.value) << "parameter " << key.parameter;
                    EXPECT_EQ(d.mode, InterpolationMode::Linear);
                }
            }
            EXPECT_TRUE(found) << "parameter " << key.parameter << " at " << key.time;
        }
    }
}

// Channel by channel within a small tolerance: later renderers may sample a little differently
// (blending levels, mapping tilted pictures exactly), but a frame that moved, turned, lost its
// blur or its transition fails.
TEST_F(FrozenProjectTest, ShowsTheFramesItShowedWhenFrozen) {
    for (const double seconds : frozen::kFrameTimes) {
        SCOPED_TRACE("at " + std::to_string(seconds) + " s");
        ImageBuffer expected;
        ASSERT_TRUE(
            ImageDecoder::decodeFile(kData + "/" + frozen::frameName(seconds), &expected).ok());
        ASSERT_EQ(expected.width, static_cast<std::uint32_t>(frozen::kWidth));
        ASSERT_EQ(expected.height, static_cast<std::uint32_t>(frozen::kHeight));
        const frozen::Frame frame = frozen::render(document.context(), seconds);
        EXPECT_EQ(frame.quality, RenderQuality::Full);
        ASSERT_FALSE(frame.pixels.empty());
        long total = 0;
        int far = 0;
        const int channels = frozen::kWidth * frozen::kHeight * 3;
        for (int y = 0; y < frozen::kHeight; ++y) {
            const auto* row =
                reinterpret_cast<const std::uint32_t*>(expected.row(static_cast<std::uint32_t>(y)));
            for (int x = 0; x < frozen::kWidth; ++x) {
                for (int shift = 0; shift < 24; shift += 8) {
                    const int a = static_cast<int>((row[x] >> shift) & 255);
                    const int b = static_cast<int>((frame.at(x, y) >> shift) & 255);
                    total += std::abs(a - b);
                    far += std::abs(a - b) > 8 ? 1 : 0;
                }
            }
        }
        EXPECT_LT(static_cast<double>(total) / channels, 1.0);
        EXPECT_LT(far, channels / 200);
    }
}

}  // namespace
}  // namespace pm
