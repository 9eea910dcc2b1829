#include <gtest/gtest.h>

#include <numbers>

#include "core/ProjectContext.h"
#include "render/CameraGeometry.h"

namespace pm {
namespace {

// An 800 x 600 picture seen at 4:3, centred, zoom 1, no tilt, perspective 0.
CameraValues centred() {
    std::array<float, kParameterCount> v{};
    v[PosX] = 0.5f;
    v[PosY] = 0.5f;
    v[Scale] = 1.0f;
    v[CamDist] = 0.0f;
    return CameraValues::fromParameters(v);
}

TEST(CameraGeometry, FrameCornersOnThePicture) {
    struct Case {
        const char* what;
        float px, py, s, offX, angle;
        FrameCorners expected;
    };
    const float half = static_cast<float>(std::numbers::pi / 2);
    const Case cases[] = {
        {"whole frame",
         0.5f,
         0.5f,
         1.0f,
         0.0f,
         0.0f,
         {0.125f, 0.125f, 0.875f, 0.125f, 0.125f, 0.875f, 0.875f, 0.875f}},
        {"zoom 2",
         0.5f,
         0.5f,
         2.0f,
         0.0f,
         0.0f,
         {0.3125f, 0.3125f, 0.6875f, 0.3125f, 0.3125f, 0.6875f, 0.6875f, 0.6875f}},
        {"off centre",
         0.3f,
         0.6f,
         1.2f,
         0.0f,
         0.0f,
         {-0.0125f, 0.2875f, 0.6125f, 0.2875f, -0.0125f, 0.9125f, 0.6125f, 0.9125f}},
        {"anchor moves the picture",
         0.3f,
         0.6f,
         1.2f,
         0.4f,
         0.0f,
         {-0.1375f, 0.2875f, 0.4875f, 0.2875f, -0.1375f, 0.9125f, 0.4875f, 0.9125f}},
        {"quarter turn",
         0.5f,
         0.5f,
         1.0f,
         0.0f,
         half,
         {0.78125f, 0.0f, 0.78125f, 1.0f, 0.21875f, 0.0f, 0.21875f, 1.0f}},
    };
    for (const Case& c : cases) {
        CameraValues camera = centred();
        camera.px = c.px;
        camera.py = c.py;
        camera.s = c.s;
        camera.ox = c.offX;
        camera.r = -c.angle;
        const FrameCorners corners = evalCorners(camera, 800, 600, 4.0 / 3.0);
        for (int i = 0; i < 8; ++i) {
            EXPECT_NEAR(corners[i], c.expected[i], 1e-5) << c.what << " value " << i;
        }
    }
}

TEST(CameraGeometry, DegenerateInputsGiveFixedCorners) {
    CameraValues camera = centred();
    camera.s = 0.0f;
    EXPECT_EQ(evalCorners(camera, 800, 600, 4.0 / 3.0),
              (FrameCorners{-10, -10, 10, -10, -10, 10, 10, 10}));
    camera.s = 1.0f;
    EXPECT_EQ(evalCorners(camera, 0, 600, 4.0 / 3.0), FrameCorners{});
}

TEST(CameraGeometry, RenderingPlacesTheGridInTheTarget) {
    Mesh mesh;
    RenderTarget target{720, 480, 4.0 / 3.0, 480.0 / 540.0};
    ASSERT_TRUE(placeMesh(mesh, centred(), 800, 600, {2, 2}, target));
    EXPECT_NEAR(mesh.at(0, 0).x, -120.0f, 1e-3);
    EXPECT_NEAR(mesh.at(0, 0).y, -80.0f, 1e-3);
    EXPECT_NEAR(mesh.at(1, 1).x, 840.0f, 1e-3);
    EXPECT_NEAR(mesh.at(1, 1).y, 560.0f, 1e-3);
    EXPECT_EQ(mesh.at(1, 1).u, 800.0f);
    EXPECT_EQ(mesh.at(1, 1).v, 600.0f);
    EXPECT_TRUE(cellVisible(mesh, 0, 0, 720));
}

TEST(CameraGeometry, CellsBehindTheNearPlaneAreSkipped) {
    // Tilted far enough that the top of the picture passes the eye.
    CameraValues camera = centred();
    camera.a = 1.0f;
    camera.s = 4.0f;
    camera.dist = 0.5f;
    const GridSize grid = gridSizeFor(camera, 4.0 * 800 / 600, 800, 600);
    EXPECT_EQ(grid.columns, 69);
    EXPECT_EQ(grid.rows, 55);
    Mesh mesh;
    ASSERT_TRUE(placeMesh(mesh, camera, 800, 600, grid, {720, 540, 4.0 / 3.0, 1.0}));
    int drawn = 0;
    int skipped = 0;
    for (int j = 0; j + 1 < mesh.rows(); ++j) {
        for (int k = 0; k + 1 < mesh.columns(); ++k) {
            const bool visible = cellVisible(mesh, j, k, 720);
            (visible ? drawn : skipped)++;
            if (visible) {
                for (const auto& v : {mesh.at(j, k), mesh.at(j + 1, k + 1)}) {
                    EXPECT_GT(v.w, 0.0f);
                    EXPECT_LT(v.w, 3.0f / 720.0f);
                }
            }
        }
    }
    EXPECT_GT(drawn, 0);
    EXPECT_GT(skipped, 0);
}

TEST(CameraGeometry, GridSizes) {
    EXPECT_EQ(flatGridSize(1.5).columns, 2);
    EXPECT_EQ(flatGridSize(3.7).columns, 8);
    const GridSize tall = meshDensity(100, 4000);  // e = 0.98 is raised to 3; g = 410 / 0.98
    EXPECT_EQ(tall.columns, 10);
    EXPECT_EQ(tall.rows, 1260);
}

TEST(CameraGeometry, SceneCornersUseThePictureAndTheProjectAspect) {
    ProjectContext context;
    ASSERT_TRUE(context.initialise(true));
    Scene& scene = *context.project().sceneAt(0);  // the 1024 x 768 default picture
    KeyframeDesc d;
    d.value = 1.0f;
    d.mask = KF_VALUE;
    ASSERT_NE(scene.setKeyAtTime(Scale, 0.0f, d), 0);
    const FrameCorners corners = evalSceneCorners(scene, 0.0f, 0.0);
    EXPECT_NEAR(corners[0], 0.125f, 1e-4);  // 4:3 picture in a 1.3333 frame
    EXPECT_NEAR(corners[1], 0.125f, 1e-4);
}

}  // namespace
}  // namespace pm
