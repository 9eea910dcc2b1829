// Writes the frozen project of FrozenProjectTest and the frames it must show. Run once, when the
// file was frozen; running it again would only prove that a build agrees with itself. It stays
// here so that anyone can see what the file holds and how its frames were made.
//
// usage: freeze_project FOLDER   (writes FOLDER/frozen.mzp and FOLDER/frozen-<ms>.png)

#include <cmath>
#include <cstdio>
#include <string>

#include "FrozenProject.h"
#include "core/ProjectContext.h"
#include "core/Scene.h"
#include "document/ProjectDocument.h"
#include "render/tests/PictureFiles.h"

namespace {

using namespace pm;
using frozen::kFrameTimes;

// Smooth pictures with a few sharp edges: small changes in sampling move few pixels by much.
std::uint32_t colourOf(int seed, int x, int y) {
    const double cx = x - 240.0;
    const double cy = y - 160.0;
    const bool ring = std::fmod(std::sqrt(cx * cx + cy * cy) + seed * 7, 60.0) < 8.0;
    const int b = (x * 255 / 479 + seed * 50) & 255;
    const int g = (y * 255 / 319) & 255;
    const int r = ring ? 250 : (seed * 80) & 255;
    return test::bgra(b, g, r);
}

bool key(Scene& scene, int parameter, float time, float value) {
    KeyframeDesc d;
    d.time = time;
    d.value = value;
    d.mode = InterpolationMode::Linear;
    d.mask = KF_VALUE | KF_TIME | KF_MODE;
    return scene.setKeyAtTime(parameter, time, d);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: freeze_project FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    ProjectDocument document;
    document.newProject();
    ProjectContext& context = document.context();
    Project& project = context.project();
    project.setAddDefaultScene(false);
    project.reset();
    project.setVAspRatio(16.0 / 9.0);
    project.setAssumedWidth(frozen::kWidth);
    project.setDefaultOverlap(secondsToTicks(1.0));
    for (int group = 0; group < kGroupCount; ++group) {
        context.tables().setLocked(group, false);
    }
    for (int seed = 0; seed < 3; ++seed) {
        const std::string picture = folder + "/picture-" + std::to_string(seed) + ".png";
        test::writeFile(picture, test::encodePicture(480, 320, 32, FIF_PNG, [seed](int x, int y) {
                            return colourOf(seed, x, y);
                        }));
        if (project.insertSceneAt(project.projectLength(), picture, secondsToTicks(3.0)) < 0) {
            std::fprintf(stderr, "%s\n", context.errors().text().c_str());
            return 1;
        }
    }
    Scene& steady = *project.sceneAt(0);
    Scene& turned = *project.sceneAt(1);
    Scene& tilted = *project.sceneAt(2);
    const bool keyed = key(steady, Scale, 0.0f, 1.0f) && key(steady, Scale, 1.0f, 1.1f) &&
                       key(steady, PosX, 0.0f, 0.45f) && key(steady, PosX, 1.0f, 0.55f) &&
                       key(turned, Angle, 0.0f, 0.0f) && key(turned, Angle, 1.0f, 0.5f) &&
                       key(turned, Blur, 0.0f, 0.0f) && key(turned, Blur, 1.0f, 4.0f) &&
                       key(tilted, CamAngleA, 0.0f, 0.0f) && key(tilted, CamAngleA, 1.0f, 0.6f) &&
                       key(tilted, CamAngleB, 0.0f, 0.2f) && key(tilted, OffX, 0.0f, 0.1f);
    if (!keyed) {
        std::fprintf(stderr, "a key was refused\n");
        return 1;
    }
    const std::string path = folder + "/frozen.mzp";
    if (!document.save(path)) {
        std::fprintf(stderr, "%s\n", context.errors().text().c_str());
        return 1;
    }
    // The frames come from the file as saved, read back as any later build will read it.
    ProjectDocument reopened;
    if (!reopened.open(path)) {
        std::fprintf(stderr, "%s\n", reopened.context().errors().text().c_str());
        return 1;
    }
    for (const double seconds : kFrameTimes) {
        const frozen::Frame frame = frozen::render(reopened.context(), seconds);
        if (frame.quality == RenderQuality::Failed) {
            std::fprintf(stderr, "the frame at %g s failed\n", seconds);
            return 1;
        }
        test::writeFile(folder + "/" + frozen::frameName(seconds),
                        test::encodePicture(frozen::kWidth, frozen::kHeight, 32, FIF_PNG,
                                            [&frame](int x, int y) { return frame.at(x, y); }));
    }
    for (int seed = 0; seed < 3; ++seed) {
        std::remove((folder + "/picture-" + std::to_string(seed) + ".png").c_str());
    }
    return 0;
}
