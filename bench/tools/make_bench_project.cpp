// Writes the project the head-to-head benchmark renders: one picture, a straight slow zoom and
// pan over a given time, keyed linearly so that both renderers are asked for the same motion.
//
// usage: make_bench_project PICTURE OUT.mzp SECONDS WIDTH HEIGHT SCALE0 SCALE1 X0 X1 Y0 Y1

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/ProjectContext.h"
#include "document/ProjectDocument.h"

int main(int argc, char** argv) {
    if (argc != 12) {
        std::fprintf(stderr,
                     "usage: make_bench_project PICTURE OUT.mzp SECONDS WIDTH HEIGHT SCALE0 SCALE1 "
                     "X0 X1 Y0 Y1\n");
        return 2;
    }
    const double seconds = std::atof(argv[3]);
    const int width = std::atoi(argv[4]);
    const int height = std::atoi(argv[5]);
    pm::ProjectDocument document;
    document.newProject();
    pm::Project& project = document.context().project();
    project.setAddDefaultScene(false);
    project.reset();
    project.setVAspRatio(static_cast<double>(width) / height);
    project.setAssumedWidth(width);
    const int id = project.insertSceneAt(0, argv[1], pm::secondsToTicks(seconds));
    if (id < 0) {
        std::fprintf(stderr, "%s\n", document.context().errors().text().c_str());
        return 1;
    }
    pm::Scene& scene = *project.sceneById(id);
    const struct {
        int parameter;
        float from;
        float to;
    } keys[] = {{pm::Scale, std::strtof(argv[6], nullptr), std::strtof(argv[7], nullptr)},
                {pm::PosX, std::strtof(argv[8], nullptr), std::strtof(argv[9], nullptr)},
                {pm::PosY, std::strtof(argv[10], nullptr), std::strtof(argv[11], nullptr)}};
    document.context().tables().setLocked(pm::GroupPosition, false);
    for (const auto& k : keys) {
        for (const float t : {0.0f, 1.0f}) {
            pm::KeyframeDesc d;
            d.time = t;
            d.value = t == 0.0f ? k.from : k.to;
            d.mode = pm::InterpolationMode::Linear;
            d.mask = pm::KF_VALUE | pm::KF_TIME | pm::KF_MODE;
            if (!scene.setKeyAtTime(k.parameter, t, d)) {
                std::fprintf(stderr, "key refused\n");
                return 1;
            }
        }
    }
    if (!document.save(argv[2])) {
        std::fprintf(stderr, "%s\n", document.context().errors().text().c_str());
        return 1;
    }
    return 0;
}
