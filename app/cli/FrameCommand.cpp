#include <FreeImage.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "app/cli/Arguments.h"
#include "app/cli/Commands.h"
#include "app/cli/OutputFile.h"
#include "app/cli/ProjectSession.h"
#include "core/ProjectContext.h"
#include "render/FrameFit.h"
#include "render/PerfKit.h"
#include "render/ProjectRenderer.h"
#include "render/Renderer.h"

namespace pm::cli {

namespace {

const char* const kUsageLine =
    "pictomove frame PROJECT --time T -o OUT.png|OUT.jpg [--format png|jpg] [--size WxH] "
    "[--strict]";

const char* const kHelpText =
    "Renders the frame of PROJECT at time T to a PNG or JPEG picture.\n"
    "  --time T      seconds (12.5) or a time code HH:MM:SS:FF whose last field is hundredths\n"
    "                of a second; the very end of the project shows its last frame\n"
    "  -o OUT        the picture; - writes it to standard output (then give --format)\n"
    "  --format F    png (alpha kept) or jpg; without it the extension of OUT decides\n"
    "  --size WxH    the picture's size; default: the project's own width (1280 when it has\n"
    "                none) at its display aspect\n"
    "  --strict      fail when a scene's picture cannot be read, instead of drawing the\n"
    "                built-in picture for it\n";

struct FreeImageMemory {
    FIMEMORY* memory = FreeImage_OpenMemory();
    ~FreeImageMemory() { FreeImage_CloseMemory(memory); }
};

// The frame encoded as a PNG (alpha kept) or a JPEG (alpha dropped) file's bytes.
std::vector<std::uint8_t> encodeFrame(const ImageBuffer& frame, bool jpeg) {
    FIBITMAP* bitmap = FreeImage_ConvertFromRawBits(
        frame.pixels, static_cast<int>(frame.width), static_cast<int>(frame.height), frame.pitch,
        32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, TRUE);
    if (!bitmap) {
        return {};
    }
    if (jpeg) {
        FIBITMAP* rgb = FreeImage_ConvertTo24Bits(bitmap);
        FreeImage_Unload(bitmap);
        bitmap = rgb;
        if (!bitmap) {
            return {};
        }
    }
    FreeImageMemory memory;
    const bool ok = memory.memory != nullptr &&
                    FreeImage_SaveToMemory(jpeg ? FIF_JPEG : FIF_PNG, bitmap, memory.memory,
                                           jpeg ? JPEG_QUALITYSUPERB : PNG_DEFAULT) != 0;
    FreeImage_Unload(bitmap);
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!ok || !FreeImage_AcquireMemory(memory.memory, &data, &size)) {
        return {};
    }
    return std::vector<std::uint8_t>(data, data + size);
}

// "png" or "jpg" from --format or the output's extension; empty after a usage message.
std::string pictureFormat(const Arguments& args, const std::string& out, int& code) {
    const auto normal = [](std::string f) { return f == "jpeg" ? std::string("jpg") : f; };
    const std::string fromName = out == "-" ? std::string() : normal(extensionOf(out));
    const bool known = fromName == "png" || fromName == "jpg";
    if (const auto given = args.value("--format")) {
        const std::string format = normal(*given);
        if (format != "png" && format != "jpg") {
            code = usage("--format is png or jpg, not '" + *given + "'", kUsageLine);
            return {};
        }
        if (known && fromName != format) {
            code = usage(
                "--format " + *given + " does not match the ." + extensionOf(out) + " of " + out,
                kUsageLine);
            return {};
        }
        return format;
    }
    if (out == "-") {
        code =
            usage("with -o - say which picture to write: --format png or --format jpg", kUsageLine);
        return {};
    }
    if (!known) {
        code = usage("name the picture .png or .jpg, or give --format png|jpg", kUsageLine);
        return {};
    }
    return fromName;
}

// The encoded picture to its file, or to standard output for "-".
int writePicture(const std::string& out, const std::vector<std::uint8_t>& bytes) {
    if (out == "-") {
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
            std::fflush(stdout) != 0) {
            return fail(std::string("cannot write the picture to standard output: ") +
                        std::strerror(errno));
        }
        return kSuccess;
    }
    if (const std::string problem = writeWholeFile(out, bytes.data(), bytes.size());
        !problem.empty()) {
        return fail("cannot write " + out + ": " + problem);
    }
    return kSuccess;
}

}  // namespace

int runFrame(const std::vector<std::string>& words) {
    Arguments args({"--time", "-t", "-o", "--output", "--size", "--format"},
                   {"--help", "--strict"});
    if (const auto code = parseCommand(args, words, kUsageLine, kHelpText)) {
        return *code;
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
    int code = kSuccess;
    const std::string format = pictureFormat(args, *out, code);
    if (format.empty()) {
        return code;
    }
    int width = 0;
    int height = 0;
    if (const auto size = args.value("--size"); size && !parseSize(*size, width, height)) {
        return usage("--size wants WIDTHxHEIGHT, for example 1920x1080", kUsageLine);
    }
    if (*out != "-") {
        if (const int refused = refuseInputAsOutput(*out, {args.positional()[0]});
            refused != kSuccess) {
            return refused;
        }
        if (const int checked = checkOutput(*out); checked != kSuccess) {
            return checked;
        }
    }
    ProjectSession session;
    if (!session.open(args.positional()[0])) {
        return fail(session.errorText());
    }
    if (*out != "-") {
        if (const int refused = refuseInputAsOutput(*out, session.inputFiles());
            refused != kSuccess) {
            return refused;
        }
    }
    if (!session.reportPictureProblems() && args.flag("--strict")) {
        return fail("not every picture of the project could be read (--strict)");
    }
    const Project& project = session.context().project();
    if (width == 0) {
        width = project.defaultOutputWidth();
        height = project.defaultOutputHeight();
    }
    const double aspect = project.vAspRatio() > 0.0 ? project.vAspRatio() : 4.0 / 3.0;
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
    // A picture of another shape shows the whole project frame, with bars.
    const ImageBuffer area = fittedArea(frame, aspect);
    if (area.width != frame.width || area.height != frame.height) {
        noteFitted(aspect, width, height);
        for (const ImageBuffer& bar : barsAround(frame, area)) {
            if (bar.width > 0 && bar.height > 0) {
                renderer.fillBackground(bar);
            }
        }
    }
    const auto yScale = static_cast<float>(area.height * aspect / area.width);
    const double t = length > 0.0 ? std::min(*seconds / length, 1.0) : 0.0;
    const RenderQuality quality =
        renderer.renderFrame(t, area, FieldMode::Frame, yScale, PictureAccess::Full);
    const std::vector<std::uint8_t> bytes = quality != RenderQuality::Failed
                                                ? encodeFrame(frame, format == "jpg")
                                                : std::vector<std::uint8_t>{};
    PerfKit::free(&frame);
    if (quality == RenderQuality::Failed) {
        return fail("could not render the frame: " + session.context().errors().text());
    }
    if (!session.reportLateFailures() && args.flag("--strict")) {
        return fail("not every picture of the project could be read (--strict); " + *out +
                    " was not written");
    }
    if (bytes.empty()) {
        return fail("could not encode the frame as " + format);
    }
    return writePicture(*out, bytes);
}

}  // namespace pm::cli
