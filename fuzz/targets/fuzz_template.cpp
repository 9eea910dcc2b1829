// Reads arbitrary bytes as a motion template (applied to a scene), a project template and an
// exporter's preset file, as the library browser, the wizards and the Render Video dialog do.
#include <cstdint>

#include "FuzzScratch.h"
#include "core/ProjectContext.h"
#include "document/TemplateFile.h"
#include "export/ExportPresets.h"
#include "export/plugins/ExporterSettings.h"
#include "render/PerfKit.h"
#include "render/ScenePictureFactory.h"
#include "store/StoreKey.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = pm::fuzz::writeScratch("input.mzt", data, size);
    pm::ProjectContext context;
    if (!context.initialise(false)) {
        return 0;
    }
    pm::installScenePictures(context);
    const int id = context.project().insertSceneAt(0, "", 5 * pm::kTicksPerSecond);
    pm::templates::isMotionTemplate(path);
    pm::templates::readTemplateOrientation(path);
    pm::ImageBuffer icon;
    if (pm::templates::readTemplateIcon(path, icon)) {
        pm::PerfKit::free(&icon);
    }
    pm::templates::applyMotionTemplate(context, id, path);
    pm::templates::readProjectTemplate(path);

    // The same bytes as the presets of an exporter, read as the video exporter reads its own.
    pm::fuzz::writeScratch("Fuzz.EPF", data, size);
    pm::ExportPresets presets;
    if (presets.open(pm::fuzz::scratchFolder(), "Fuzz")) {
        presets.selected();
        pm::FileStorage storage;
        if (storage.open(pm::fuzz::scratchFolder() / "Fuzz.EPF", pm::FileStorage::kReadOnly)) {
            pm::StoreKeyPtr root = storage.root();
            for (const auto& entry : presets.entries()) {
                pm::StoreKeyPtr preset = root ? root->openChildAt(entry.childIndex) : nullptr;
                pm::StoreKeyPtr settings = preset ? preset->openChild("Data") : nullptr;
                if (settings) {
                    pm::exporters::VideoSettings video;
                    video.load(*settings);
                    video.normalize();
                }
            }
        }
    }
    return 0;
}
