#include <FreeImage.h>

#include <cstdio>

#include "app/cli/Arguments.h"
#include "app/cli/Commands.h"
#include "app/cli/ProjectSession.h"
#include "core/ProjectContext.h"
#include "render/PerfKit.h"
#include "render/ProjectRenderer.h"
#include "render/Renderer.h"

namespace pm::cli {

namespace {

const char* const kUsageLine = "pictomove frame PROJECT --time T -o OUT.png [--size WxH]";

// Writes a BGRA frame as a PNG picture (alpha kept).
bool savePng(const ImageBuffer& frame, const std::string& path) {
    FIBITMAP* bitmap = FreeImage_ConvertFromRawBits(
        frame.pixels, static_cast<int>(frame.width), static_cast<int>(frame.height), frame.pitch,
        32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, TRUE);
    if (!bitmap) {
        return false;
    }
    const bool ok = FreeImage_Save(FIF_PNG, bitmap, path.c_str(), PNG_DEFAULT) != 0;
    FreeImage_Unload(bitmap);
    return ok;
}

}  // namespace

int runFrame(const std::vector<std::string>& words) {
    Arguments args({"--time", "-t", "-o", "--output", "--size"}, {"--help"});
    if (!args.parse(words)) {
        return usage(args.error(), kUsageLine);
    }
    if (args.flag("--help")) {
        std::printf(
            "usage: %s\nRenders the frame of PROJECT at time T (seconds or a time code) "
            "to a PNG picture.\n",
            kUsageLine);
        return kSuccess;
    }
    const auto out = args.value("-o") ? args.value("-o") : args.value("--output");
    const auto timeText = args.value("--time") ? args.value("--time") : args.value("-t");
    if (args.positional().size() != 1 || !out || !timeText) {
        return usage("name one project, the time with --time and the picture with -o", kUsageLine);
    }
    const auto seconds = parseSeconds(*timeText);
    if (!seconds) {
        return usage("--time wants seconds or a time code", kUsageLine);
    }
    int width = 0;
    int height = 0;
    if (const auto size = args.value("--size"); size && !parseSize(*size, width, height)) {
        return usage("--size wants WIDTHxHEIGHT, for example 1920x1080", kUsageLine);
    }
    if (const int code = checkOutput(*out); code != kSuccess) {
        return code;
    }
    ProjectSession session;
    if (!session.open(args.positional()[0])) {
        return fail(session.errorText());
    }
    const Project& project = session.context().project();
    const double aspect = project.vAspRatio() > 0.0 ? project.vAspRatio() : 4.0 / 3.0;
    if (width == 0) {
        width = project.assumedWidth() >= 16 ? project.assumedWidth() : 1280;
        height = static_cast<int>(width / aspect + 0.5);
    }
    const double length = ticksToSeconds(project.projectLength());
    if (*seconds > length) {
        char text[96];
        std::snprintf(text, sizeof text, "the project is only %.2f seconds long", length);
        return fail(text);
    }
    ImageBuffer frame;
    if (PerfKit::allocate(&frame, PixelFormat::Bgra32, width, height) != PixelStatus::Ok) {
        return fail("not enough memory for a " + std::to_string(width) + " x " +
                    std::to_string(height) + " frame");
    }
    ProjectRenderer renderer(session.context());
    // The project's frame fitted to the picture's rows, whatever their aspect.
    const auto yScale = static_cast<float>(height * aspect / width);
    const double t = length > 0.0 ? std::min(*seconds / length, 0.999999) : 0.0;
    const int quality = renderer.renderFrame(t, frame, 0, yScale, kAccessExport);
    const bool saved = quality != 0 && savePng(frame, *out);
    PerfKit::free(&frame);
    if (quality == 0) {
        return fail("could not render the frame: " + session.context().errors().text());
    }
    if (!saved) {
        return fail(*out + ": cannot write the picture");
    }
    return kSuccess;
}

}  // namespace pm::cli
