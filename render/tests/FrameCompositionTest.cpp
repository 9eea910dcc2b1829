#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/ProjectContext.h"
#include "render/CameraGeometry.h"
#include "render/EdgeSmoother.h"
#include "render/PerfKit.h"
#include "render/ProjectRenderer.h"
#include "render/SceneImage.h"
#include "render/ScenePictureFactory.h"
#include "render/SceneRenderer.h"
#include "render/TemplateIcon.h"
#include "render/tests/PictureFiles.h"

namespace pm {
namespace {

constexpr TickTime kSecond = kTicksPerSecond;

struct Frame {
    ImageBuffer image;
    Frame(int w, int h, PixelFormat format = PixelFormat::Bgra32) {
        EXPECT_EQ(PerfKit::allocate(&image, format, w, h), PixelStatus::Ok);
    }
    ~Frame() { PerfKit::free(&image); }
    Frame(const Frame&) = delete;
    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> out;
        const std::size_t row = image.width * (image.bitsPerPixel / 8);
        for (std::uint32_t y = 0; y < image.height; ++y) {
            out.insert(out.end(), image.row(y), image.row(y) + row);
        }
        return out;
    }
    const std::uint8_t* at(int x, int y) const { return image.row(y) + x * 4; }
};

class FrameCompositionTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    ProjectContext context;
    std::string first;
    std::string second;

    void SetUp() override {
        ASSERT_TRUE(context.initialise(false));
        installScenePictures(context);
        context.project().setVAspRatio(4.0 / 3.0);
        first = folder.file("first.png");
        second = folder.file("second.png");
        test::writeFile(first, test::encodePicture(400, 300, 24, FIF_PNG, test::gradient));
        test::writeFile(second, test::encodePicture(400, 300, 24, FIF_PNG, [](int x, int y) {
                            return test::bgra(200, (x * 7) & 255, (y * 2) & 255);
                        }));
    }

    Scene& add(const std::string& path, double start, double length) {
        const int id =
            context.project().addScene(path, secondsToTicks(start), secondsToTicks(length));
        EXPECT_GE(id, 0) << context.errors().text();
        return *context.project().sceneById(id);
    }

    static void key(Scene& scene, int parameter, float time, float value) {
        KeyframeDesc d;
        d.value = value;
        d.time = time;
        d.mask = KF_VALUE | KF_TIME;
        ASSERT_NE(scene.setKeyAtTime(parameter, time, d), 0);
    }
};

TEST_F(FrameCompositionTest, AGapShowsTheBackgroundOnly) {
    add(first, 0, 2);
    add(second, 3, 2);
    context.project().setBackgroundColour({10, 20, 30, 255}, 1);
    ProjectRenderer renderer(context);
    Frame frame(64, 48);
    EXPECT_EQ(
        renderer.renderFrame(2.5 / 5.0, frame.image, FieldMode::Frame, 1.0f, PictureAccess::Full),
        RenderQuality::Full);
    for (int y = 0; y < 48; y += 7) {
        for (int x = 0; x < 64; x += 5) {
            const std::uint8_t* p = frame.at(x, y);
            EXPECT_EQ(p[0], 30);  // B
            EXPECT_EQ(p[1], 20);
            EXPECT_EQ(p[2], 10);
        }
    }
}

TEST_F(FrameCompositionTest, TransitionsMixByTheNextScenesWeight) {
    Scene& a = add(first, 0, 4);
    Scene& b = add(second, 3, 4);  // overlap [3 s, 4 s)
    ProjectRenderer project(context);
    const double length = 7.0;

    // At the overlap's first instant only the current scene shows.
    Frame start(80, 60);
    Frame alone(80, 60);
    ASSERT_NE(
        project.renderFrame(3.0 / length, start.image, FieldMode::Frame, 1.0f, PictureAccess::Full),
        RenderQuality::Failed);
    SceneRenderer(a).renderFrame(3.0 / 4.0, alone.image, FieldMode::Frame, 1.0f,
                                 PictureAccess::Full);
    EXPECT_EQ(start.bytes(), alone.bytes());

    // Half way through, every byte is (2048 next + 2048 current) >> 12.
    Frame mixed(80, 60);
    Frame current(80, 60);
    Frame next(80, 60);
    ASSERT_NE(
        project.renderFrame(3.5 / length, mixed.image, FieldMode::Frame, 1.0f, PictureAccess::Full),
        RenderQuality::Failed);
    SceneRenderer(a).renderFrame(3.5 / 4.0, current.image, FieldMode::Frame, 1.0f,
                                 PictureAccess::Full);
    SceneRenderer(b).renderFrame(0.5 / 4.0, next.image, FieldMode::Frame, 1.0f,
                                 PictureAccess::Full);
    const auto m = mixed.bytes();
    const auto c = current.bytes();
    const auto n = next.bytes();
    ASSERT_EQ(m.size(), c.size());
    for (std::size_t i = 0; i < m.size(); ++i) {
        ASSERT_EQ(m[i], (2048 * n[i] + 2048 * c[i]) >> 12) << "byte " << i;
    }
}

TEST_F(FrameCompositionTest, APictureNotLoadedDrawsFromItsProxy) {
    Scene& scene = add(first, 0, 5);
    SceneImage* image = SceneRenderer(scene).picture();
    ASSERT_NE(image, nullptr);
    image->unload();
    Frame frame(64, 48);
    EXPECT_EQ(SceneRenderer(scene).renderFrame(0.5, frame.image, FieldMode::Frame, 1.0f,
                                               PictureAccess::AsLoaded),
              RenderQuality::Proxy);
    EXPECT_EQ(SceneRenderer(scene).renderFrame(0.5, frame.image, FieldMode::Frame, 1.0f,
                                               PictureAccess::Full),
              RenderQuality::Full);
}

TEST_F(FrameCompositionTest, BandsDoNotChangeASingleByte) {
    Scene& scene = add(first, 0, 5);
    key(scene, CamAngleA, 0.0f, 0.35f);  // tilted: a dense mesh
    key(scene, Angle, 0.0f, 0.3f);
    key(scene, Scale, 0.0f, 0.6f);
    key(scene, Blur, 0.0f, 3.0f);
    std::vector<std::uint8_t> reference;
    for (int bands : {1, 2, 3, 7}) {
        Frame frame(161, 97);  // odd sizes
        SceneRenderer renderer(scene);
        renderer.setBands(bands);
        ASSERT_NE(
            renderer.renderFrame(0.4, frame.image, FieldMode::Frame, 1.0f, PictureAccess::Full),
            RenderQuality::Failed);
        if (reference.empty()) {
            reference = frame.bytes();
        } else {
            EXPECT_EQ(frame.bytes(), reference) << bands << " bands";
        }
    }
}

// A picture that is not tilted is drawn as one piece however far it is zoomed in (the grid over
// it grows with the zoom); the picture shows where a picture tilted by a hair, drawn cell by cell
// through its perspective, shows it.
TEST_F(FrameCompositionTest, AFlatPictureIsDrawnWhereAnAlmostFlatOneIs) {
    Scene& scene = add(first, 0, 5);
    key(scene, Scale, 0.0f, 3.3f);  // a grid of 8 x 8 points when flat
    key(scene, Angle, 0.0f, 12.0f);
    key(scene, PosX, 0.0f, 0.45f);
    std::vector<std::uint8_t> flat;
    for (const float tilt : {0.0f, 0.001f}) {
        key(scene, CamAngleA, 0.0f, tilt);
        Frame frame(160, 120);
        SceneRenderer renderer(scene);
        ASSERT_NE(
            renderer.renderFrame(0.5, frame.image, FieldMode::Frame, 1.0f, PictureAccess::Full),
            RenderQuality::Failed);
        if (tilt == 0.0f) {
            flat = frame.bytes();
            continue;
        }
        const std::vector<std::uint8_t> tilted = frame.bytes();
        ASSERT_EQ(tilted.size(), flat.size());
        double difference = 0.0;
        int largest = 0;
        for (std::size_t i = 0; i < flat.size(); ++i) {
            const int d = std::abs(flat[i] - tilted[i]);
            difference += d;
            largest = std::max(largest, d);
        }
        EXPECT_LT(difference / static_cast<double>(flat.size()), 0.5);
        EXPECT_LE(largest, 4);
    }
}

// Pixels the picture covers whole are not cleared before it is drawn over them: whatever the
// target held must still never show, whether the picture fills the frame, sits inside it, or
// leaves the frame across one side, upright or turned.
TEST_F(FrameCompositionTest, FramesDoNotDependOnWhatTheTargetHeld) {
    struct Case {
        const char* name;
        float scale;
        float posX;
        float angle;
    };
    const Case cases[] = {{"fills", 1.8f, 0.5f, 0.0f},
                          {"inside", 0.6f, 0.5f, 0.0f},
                          {"across", 1.3f, 0.9f, 0.0f},
                          {"turned, fills", 1.9f, 0.5f, 0.05f},
                          {"turned, inside", 0.6f, 0.4f, 0.6f}};
    double start = 0.0;
    for (const Case& c : cases) {
        Scene& scene = add(first, start, 5);
        start += 5.0;
        key(scene, Scale, 0.0f, c.scale);
        key(scene, PosX, 0.0f, c.posX);
        key(scene, Angle, 0.0f, c.angle);
        std::vector<std::uint8_t> reference;
        for (const int dirt : {0x00, 0xAB, 0xFF}) {
            for (const int bands : {1, 3}) {
                Frame frame(161, 121);
                std::memset(frame.image.pixels, dirt,
                            static_cast<std::size_t>(frame.image.pitch) * 121);
                SceneRenderer renderer(scene);
                renderer.setBands(bands);
                ASSERT_NE(renderer.renderFrame(0.5, frame.image, FieldMode::Frame, 1.0f,
                                               PictureAccess::Full),
                          RenderQuality::Failed);
                if (reference.empty()) {
                    reference = frame.bytes();
                } else {
                    EXPECT_EQ(frame.bytes(), reference)
                        << c.name << " dirt " << dirt << " bands " << bands;
                }
            }
        }
    }
}

TEST_F(FrameCompositionTest, TheSecondFieldIsTheFramesOddRows) {
    Scene& scene = add(first, 0, 5);
    key(scene, Scale, 0.0f, 2.0f);  // the picture covers the whole frame: no outline inside
    Frame whole(64, 48);
    ASSERT_NE(SceneRenderer(scene).renderFrame(0.3, whole.image, FieldMode::Frame, 1.0f,
                                               PictureAccess::Full),
              RenderQuality::Failed);
    Frame field(64, 48);
    std::memset(field.image.pixels, 0x55, static_cast<std::size_t>(field.image.pitch) * 48);
    ASSERT_NE(SceneRenderer(scene).renderFrame(0.3, field.image, FieldMode::Second, 1.0f,
                                               PictureAccess::Full),
              RenderQuality::Failed);
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            if (y % 2 == 0) {
                ASSERT_EQ(field.at(x, y)[1], 0x55) << x << "," << y;  // the other field
            } else {
                ASSERT_EQ(std::memcmp(field.at(x, y), whole.at(x, y), 4), 0) << x << "," << y;
            }
        }
    }
    // The same through a field description: rows two lines apart, starting one line down.
    Frame again(64, 48);
    std::memset(again.image.pixels, 0x55, static_cast<std::size_t>(again.image.pitch) * 48);
    ImageBuffer odd = again.image;
    odd.pixels += odd.pitch;
    odd.pitch *= 2;
    odd.height /= 2;
    ASSERT_NE(SceneRenderer(scene).renderField(0.3, odd, false, 1.0f, PictureAccess::Full),
              RenderQuality::Failed);
    EXPECT_EQ(again.bytes(), field.bytes());
}

TEST_F(FrameCompositionTest, BlurRadiusGrowsWithTheFrame) {
    EXPECT_DOUBLE_EQ(SceneRenderer::blurRadius(720, 1.0f), 0.36);
    EXPECT_DOUBLE_EQ(SceneRenderer::blurRadius(720, 100.0f), 36.0);
}

TEST_F(FrameCompositionTest, OnlyOpaquePicturesGetTheirOutlineSmoothed) {
    const std::string clear = folder.file("clear.png");
    test::writeFile(clear, test::encodePicture(400, 300, 32, FIF_PNG, [](int x, int y) {
                        return test::bgra((x * 3) & 255, (y * 5) & 255, 90, 200);
                    }));
    // Smoothing a drawn frame again changes nothing where the renderer already smoothed (along
    // straight rows and columns each crossed pixel is mixed from pixels off the outline).
    const auto changedBySmoothing = [&](const std::string& picture) {
        Scene& scene = add(picture, 0, 5);
        key(scene, Scale, 0.0f, 0.5f);
        key(scene, PosX, 0.0f, 0.47f);  // the outline at fractions of pixels
        Frame frame(120, 90);
        EXPECT_NE(SceneRenderer(scene).renderFrame(0.5, frame.image, FieldMode::Frame, 1.0f,
                                                   PictureAccess::Full),
                  RenderQuality::Failed);
        const auto before = frame.bytes();
        Mesh mesh;
        CameraValues values = CameraValues::fromParameters(scene.evaluateAll(0.5f));
        const double aspect = context.project().vAspRatio();
        placeMesh(mesh, values, scene.picture().width(), scene.picture().height(), {2, 2},
                  {120, 90, aspect, 1.0});
        EdgeSmoother::smooth(frame.image, mesh, 120, {});
        const auto after = frame.bytes();
        int changed = 0;
        for (std::size_t i = 0; i < before.size(); ++i) {
            changed += before[i] != after[i];
        }
        context.project().deleteScene(0, false);
        return changed;
    };
    EXPECT_EQ(changedBySmoothing(first), 0);
    EXPECT_GT(changedBySmoothing(clear), 20);
}

TEST_F(FrameCompositionTest, BlurFollowsTheFrameWidth) {
    Scene& scene = add(first, 0, 5);
    key(scene, Scale, 0.0f, 2.0f);
    Frame sharp(72, 54);
    Frame soft(72, 54);
    SceneRenderer(scene).renderFrame(0.5, sharp.image, FieldMode::Frame, 1.0f, PictureAccess::Full);
    key(scene, Blur, 0.0f, 100.0f);  // radius 72 x 100 x 0.0005 = 3.6 pixels
    SceneRenderer(scene).renderFrame(0.5, soft.image, FieldMode::Frame, 1.0f, PictureAccess::Full);
    EXPECT_NE(sharp.bytes(), soft.bytes());
    // The gradient's blue channel wraps from 255 to 0: a cliff that the blur spreads out.
    int sharpCliff = 0;
    int softCliff = 0;
    for (int y = 10; y < 44; ++y) {
        for (int x = 10; x < 62; ++x) {
            sharpCliff = std::max(sharpCliff, std::abs(sharp.at(x, y)[0] - sharp.at(x - 1, y)[0]));
            softCliff = std::max(softCliff, std::abs(soft.at(x, y)[0] - soft.at(x - 1, y)[0]));
        }
    }
    EXPECT_GT(sharpCliff, 120);
    EXPECT_GT(sharpCliff, 2 * softCliff) << softCliff;
}

// A slow tilt moves what the picture shows smoothly: a bright dot's centre goes along a smooth
// path, with no jitter from frame to frame (the shared edges of cells drawn one by one each
// added part of a pixel, and moved with the tilt).
TEST_F(FrameCompositionTest, ASlowTiltMovesABrightDotSmoothly) {
    const std::string dot = folder.file("dot.png");
    test::writeFile(dot, test::encodePicture(400, 300, 24, FIF_PNG, [](int x, int y) {
                        const bool lit = x >= 296 && x < 302 && y >= 96 && y < 102;
                        return lit ? test::bgra(255, 255, 255) : test::bgra(0, 0, 0);
                    }));
    Scene& scene = add(dot, 0, 10);
    for (const auto& [time, tilt] : {std::pair{0.0f, 0.30f}, std::pair{1.0f, 0.36f}}) {
        KeyframeDesc d;
        d.value = tilt;
        d.time = time;
        d.mode = InterpolationMode::Linear;
        d.mask = KF_VALUE | KF_TIME | KF_MODE;
        ASSERT_NE(scene.setKeyAtTime(CamAngleA, time, d), 0);
    }
    key(scene, CamAngleB, 0.0f, -0.2f);
    constexpr int kFrames = 40;
    std::vector<double> xs;
    std::vector<double> ys;
    for (int n = 0; n < kFrames; ++n) {
        Frame frame(320, 240);
        ASSERT_NE(SceneRenderer(scene).renderFrame(static_cast<double>(n) / kFrames, frame.image,
                                                   FieldMode::Frame, 1.0f, PictureAccess::Full),
                  RenderQuality::Failed);
        double sum = 0.0, sx = 0.0, sy = 0.0;
        for (int y = 0; y < 240; ++y) {
            for (int x = 0; x < 320; ++x) {
                const double g = frame.at(x, y)[1];
                sum += g;
                sx += g * x;
                sy += g * y;
            }
        }
        ASSERT_GT(sum, 0.0);
        xs.push_back(sx / sum);
        ys.push_back(sy / sum);
    }
    // The path bends with the ease of the keys: what a parabola through each seven frames
    // leaves at the middle one is the jitter.
    const auto worstJitter = [](const std::vector<double>& p) {
        double worst = 0.0;
        for (std::size_t i = 3; i + 3 < p.size(); ++i) {
            // Least squares over t = -3..3: c0 = (7 sum(y) - sum(t^2 y)) / 21 at the middle.
            double sum = 0.0;
            double sumT2 = 0.0;
            for (int t = -3; t <= 3; ++t) {
                sum += p[i + t];
                sumT2 += t * t * p[i + t];
            }
            const double middle = (7.0 * sum - sumT2) / 21.0;
            worst = std::max(worst, std::abs(p[i] - middle));
        }
        return worst;
    };
    std::printf("jitter %.4f %.4f\n", worstJitter(xs), worstJitter(ys));
    EXPECT_GT(std::abs(ys.back() - ys.front()) + std::abs(xs.back() - xs.front()), 2.0);
    EXPECT_LT(worstJitter(xs), 0.05);
    EXPECT_LT(worstJitter(ys), 0.05);
}

TEST_F(FrameCompositionTest, KeptBuffersDrawLikeFreshOnes) {
    Scene& scene = add(first, 0, 5);
    key(scene, Angle, 0.0f, 0.2f);
    ProjectRenderer kept(context);
    kept.setBands(2);
    for (const auto& [w, h] : {std::pair{96, 54}, std::pair{64, 48}, std::pair{96, 54}}) {
        Frame reused(w, h);
        Frame fresh(w, h);
        ASSERT_NE(kept.renderFrame(0.3, reused.image, FieldMode::Frame, 1.0f, PictureAccess::Full),
                  RenderQuality::Failed);
        ProjectRenderer once(context);
        once.setBands(2);
        ASSERT_NE(once.renderFrame(0.3, fresh.image, FieldMode::Frame, 1.0f, PictureAccess::Full),
                  RenderQuality::Failed);
        EXPECT_EQ(reused.bytes(), fresh.bytes()) << w << " x " << h;
    }
}

TEST_F(FrameCompositionTest, TemplateIconsShowTheFramesOnThePicture) {
    Scene& scene = add(first, 0, 5);  // 400 x 300
    key(scene, Scale, 0.0f, 2.0f);
    key(scene, PosX, 0.0f, 0.3f);
    key(scene, PosX, 1.0f, 0.7f);
    const auto covered = [](const ImageBuffer& icon) {
        int n = 0;
        for (std::uint32_t y = 0; y < icon.height; ++y) {
            for (std::uint32_t x = 0; x < icon.width; ++x) {
                n += icon.row(y)[x * 4 + 3] != 0;
            }
        }
        return n;
    };
    ImageBuffer single;
    ImageBuffer trail;
    ASSERT_TRUE(drawTemplateIcon(scene, {0.0f}, false, 0.0, single));
    ASSERT_TRUE(drawTemplateIcon(scene, {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}, true, 0.0, trail));
    EXPECT_EQ(single.width, 200u);
    EXPECT_EQ(single.height, 150u);
    // At zoom 2 a frame covers 0.375 x 0.375 of the picture; the path covers more.
    EXPECT_NEAR(covered(single), 200 * 150 * 0.375 * 0.375, 300);
    EXPECT_LT(covered(single), 200 * 150 / 2);
    EXPECT_GT(covered(trail), covered(single) * 3 / 2);
    // The left of the picture is inside the first frame (PosX 0.3), the right outside it.
    EXPECT_NE(single.row(75)[60 * 4 + 3], 0);
    EXPECT_EQ(single.row(75)[190 * 4 + 3], 0);
    PerfKit::free(&single);
    PerfKit::free(&trail);
}

TEST_F(FrameCompositionTest, OtherFormatsAreDrawnThroughBgra) {
    Scene& scene = add(first, 0, 5);
    Frame bgra(64, 48);
    Frame yuy2(64, 48, PixelFormat::Yuy2);
    Frame converted(64, 48, PixelFormat::Yuy2);
    ASSERT_NE(SceneRenderer(scene).renderFrame(0.5, bgra.image, FieldMode::Frame, 1.0f,
                                               PictureAccess::Full),
              RenderQuality::Failed);
    ASSERT_NE(SceneRenderer(scene).renderFrame(0.5, yuy2.image, FieldMode::Frame, 1.0f,
                                               PictureAccess::Full),
              RenderQuality::Failed);
    ASSERT_EQ(PerfKit::copy(converted.image, bgra.image), PixelStatus::Ok);
    EXPECT_EQ(yuy2.bytes(), converted.bytes());
}

}  // namespace
}  // namespace pm
