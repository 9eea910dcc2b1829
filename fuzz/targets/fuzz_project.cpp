// Opens arbitrary bytes as a project file, the whole load (scenes, motion, pictures, sound),
// then draws a small frame of what loaded and saves it again.
#include <cstdint>

#include "FuzzScratch.h"
#include "core/ProjectContext.h"
#include "document/ProjectDocument.h"
#include "render/PerfKit.h"
#include "render/ProjectRenderer.h"
#include "render/Renderer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = pm::fuzz::writeScratch("input.mzp", data, size);
    pm::ProjectDocument document;
    if (!document.open(path)) {
        return 0;
    }
    pm::ImageBuffer frame;
    if (pm::PerfKit::allocate(&frame, pm::PixelFormat::Bgra32, 32, 18) == pm::PixelStatus::Ok) {
        pm::ProjectRenderer renderer(document.context());
        renderer.renderFrame(0.5, frame, pm::FieldMode::Frame, 0.0f, pm::PictureAccess::Full);
        pm::PerfKit::free(&frame);
    }
    document.save(pm::fuzz::scratchFolder() / "saved.mzp");
    return 0;
}
