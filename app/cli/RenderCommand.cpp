#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "app/cli/Arguments.h"
#include "app/cli/Commands.h"
#include "app/cli/ProjectSession.h"
#include "app/cli/TerminalProgress.h"
#include "core/ProjectContext.h"
#include "core/VideoFormat.h"
#include "export/ExporterManager.h"
#include "export/ProjectExportSource.h"
#include "store/FileStorage.h"
#include "store/MemoryStorage.h"
#include "store/StoreKey.h"

namespace pm::cli {

namespace {

const char* const kUsageLine =
    "pictomove render PROJECT -o OUT [--format mp4|webm|mov|y4m|png|jpg|raw|ID] "
    "[--preset NAME] [--size WxH] [--fps N] [--from T --to T] [--strict] | --list-presets";

const char* const kHelpText =
    "Renders PROJECT through the exporter modules.\n"
    "  -o OUT          the output file; - writes raw frames to standard output\n"
    "  --format F      mp4 (H.264 video, AAC sound; the default for .mp4), mov (ProRes, PCM),\n"
    "                  webm (VP9, Opus), y4m (uncompressed 4:2:0 pictures, no sound), png or\n"
    "                  jpg (numbered pictures and a WAV of the sound), raw (32-bit BGRA frames,\n"
    "                  top row first, no sound), or the identifier of another exporter module;\n"
    "                  without it the extension of OUT decides\n"
    "  --preset NAME   the settings of a preset saved for the format (see --list-presets)\n"
    "  --size WxH      the frame size; default: the project's own width at its display aspect\n"
    "                  (video formats round it to even numbers)\n"
    "  --fps N         frames per second; default 30\n"
    "  --from T --to T only this part of the project (seconds, or a time code whose last\n"
    "                  field is hundredths of a second)\n"
    "  --strict        fail when a scene's picture cannot be read, instead of drawing the\n"
    "                  built-in picture for it\n"
    "  --list-presets  list the saved presets of every format\n"
    "Ctrl-C stops the render and removes the partial file.\n"
    "Modules in the folders of PICTOMOVE_PLUGINS (separated by ':') are loaded too.\n";

struct Format {
    const char* identifier;
    bool evenSize;  // the encoder needs even sides
};

const std::map<std::string, Format> kFormats = {
    {"mp4", {"pictomove.ffmpeg.mp4", true}},   {"mov", {"pictomove.ffmpeg.mov", true}},
    {"webm", {"pictomove.ffmpeg.webm", true}}, {"y4m", {"pictomove.ffmpeg.y4m", true}},
    {"png", {"pictomove.images.png", false}},  {"jpg", {"pictomove.images.jpg", false}},
    {"raw", {"pictomove.images.raw", false}}};

std::string formatName(std::string name) {
    return name == "jpeg" ? std::string("jpg") : name;
}

void loadExporters(ExporterManager& exporters) {
    for (const std::string& folder : pluginFolders()) {
        exporters.loadFolder(folder);
    }
    for (const std::string& skipped : exporters.skipped()) {
        warn("skipped exporter module " + skipped);
    }
}

// Every format with the names of its saved presets.
int listPresets(ProjectSession& session, ExporterManager& exporters) {
    for (const auto& format : exporters.formats()) {
        auto exporter = exporters.createExporter(format);
        if (!exporter) {
            continue;
        }
        std::string shortName = format->identifier;
        for (const auto& [name, known] : kFormats) {
            if (format->identifier == known.identifier) {
                shortName = name;
            }
        }
        const std::vector<std::string> names = session.presetNames(exporter->presetName());
        std::printf("%s (%s):", shortName.c_str(), format->displayName.c_str());
        if (names.empty()) {
            std::printf(" no presets saved");
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            std::printf("%s \"%s\"", i == 0 ? "" : ",", names[i].c_str());
        }
        std::printf("\n");
    }
    return kSuccess;
}

// The format's short name or module identifier, from --format or the output's extension; empty
// after a usage message (in `code`).
std::string chooseFormat(const Arguments& args, const std::string& out, int& code) {
    const std::string ext = out == "-" ? std::string() : formatName(extensionOf(out));
    const bool extKnown = kFormats.count(ext) != 0;
    if (const auto given = args.value("--format")) {
        const std::string format = formatName(*given);
        if (extKnown && kFormats.count(format) != 0 && format != ext) {
            code = usage("--format " + *given + " does not match the ." + extensionOf(out) +
                             " of " + out + "; give one of them",
                         kUsageLine);
            return {};
        }
        return format;
    }
    if (out == "-") {
        code = usage("with -o - say what to write: --format raw", kUsageLine);
        return {};
    }
    if (!extKnown) {
        code = usage("cannot tell the format from '" + out +
                         "'; give --format (mp4, webm, mov, y4m, png, jpg or raw)",
                     kUsageLine);
        return {};
    }
    return ext;
}

std::string sizeText(double bytes) {
    char text[32];
    if (bytes >= 1e9) {
        std::snprintf(text, sizeof text, "%.2f GB", bytes / 1e9);
    } else if (bytes >= 1e6) {
        std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    } else {
        std::snprintf(text, sizeof text, "%.0f kB", bytes / 1e3);
    }
    return text;
}

// The bytes written: the file, or for picture sequences every file that begins with its stem.
double bytesWritten(const std::string& out) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_regular_file(out, ec)) {
        return static_cast<double>(fs::file_size(out, ec));
    }
    const fs::path path(out);
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    const std::string stem = path.stem().string();
    double total = 0.0;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.is_regular_file(ec) && entry.path().filename().string().rfind(stem, 0) == 0) {
            total += static_cast<double>(entry.file_size(ec));
        }
    }
    return total;
}

// A frame whose shape differs from the project's display aspect keeps that aspect. A standard
// frame size with pixels that are not square (720 x 576 holding a 16:9 picture) says so in the
// file, for the video formats, and true is returned; any other frame is drawn with the picture
// fitted inside, with bars. Says which, once.
bool pixelAspectKeepsShape(double aspect, int width, int height, bool video, StoreKey& data) {
    if (!(aspect > 0.0) || width <= 0 || height <= 0) {
        return false;
    }
    const double pixelAspect = aspect * height / width;
    if (std::abs(pixelAspect - 1.0) < 0.01) {
        return false;
    }
    const bool standard =
        matchFrameSize(width, height) < static_cast<int>(frameSizePresets().size()) &&
        std::any_of(pixelAspectPresets().begin(), pixelAspectPresets().end(),
                    [&](const PixelAspectPreset& p) {
                        return std::abs(p.pixelAspect / pixelAspect - 1.0) < 0.01;
                    });
    if (video && standard) {
        data.setDouble("PixelAspect", pixelAspect);
        char text[200];
        std::snprintf(text, sizeof text,
                      "%dx%d holds the project's %.2f:1 picture in pixels %.3f times as wide as "
                      "high; the file says so, and players show it undistorted",
                      width, height, aspect, pixelAspect);
        note(text);
        return true;
    }
    noteFitted(aspect, width, height);
    return false;
}

}  // namespace

int runRender(const std::vector<std::string>& words) {
    Arguments args({"-o", "--output", "--format", "--preset", "--size", "--fps", "--from", "--to"},
                   {"--help", "--list-presets", "--strict"});
    if (!args.parse(words)) {
        return usage(args.error(), kUsageLine);
    }
    if (args.flag("--help")) {
        std::printf("usage: %s\n%s", kUsageLine, kHelpText);
        return kSuccess;
    }
    if (args.flag("--list-presets")) {
        ProjectSession session;
        HeadlessHostServices host;
        ExporterManager exporters(host);
        loadExporters(exporters);
        return listPresets(session, exporters);
    }
    const auto out = args.value("-o") ? args.value("-o") : args.value("--output");
    if (args.positional().size() != 1 || !out) {
        return usage("name one project and the output with -o", kUsageLine);
    }
    const std::string projectPath = args.positional()[0];
    int code = kSuccess;
    const std::string format = chooseFormat(args, *out, code);
    if (format.empty()) {
        return code;
    }
    const auto known = kFormats.find(format);
    if (*out == "-" && format != "raw") {
        return usage("only raw frames can go to standard output", kUsageLine);
    }
    int width = 0;
    int height = 0;
    if (const auto size = args.value("--size"); size && !parseSize(*size, width, height)) {
        return usage("--size wants WIDTHxHEIGHT, for example 1920x1080", kUsageLine);
    }
    std::optional<double> fps;
    if (const auto text = args.value("--fps")) {
        fps = parsePositive(*text);
        if (!fps || *fps > 240.0) {
            return usage("--fps wants a number of frames per second up to 240", kUsageLine);
        }
    }
    std::optional<double> from;
    std::optional<double> to;
    if (const auto text = args.value("--from"); text && !(from = parseSeconds(*text))) {
        return usage("--from wants seconds or a time code", kUsageLine);
    }
    if (const auto text = args.value("--to"); text && !(to = parseSeconds(*text))) {
        return usage("--to wants seconds or a time code", kUsageLine);
    }
    if (*out != "-") {
        if (const int refused = refuseInputAsOutput(*out, {projectPath}); refused != kSuccess) {
            return refused;
        }
        if (const int checked = checkOutput(*out); checked != kSuccess) {
            return checked;
        }
    }

    ProjectSession session;
    if (!session.open(projectPath)) {
        return fail(session.errorText());
    }
    if (*out != "-") {
        if (const int refused = refuseInputAsOutput(*out, session.inputFiles());
            refused != kSuccess) {
            return refused;
        }
    }
    HeadlessHostServices host;
    ExporterManager exporters(host);
    loadExporters(exporters);
    const std::string identifier = known != kFormats.end() ? known->second.identifier : format;
    auto exporter = exporters.createExporter(exporters.findByIdentifier(identifier));
    if (!exporter) {
        if (known == kFormats.end()) {
            return usage("unknown format '" + format + "'", kUsageLine);
        }
        return fail("no exporter for " + format + " in " + pluginFolder());
    }
    if (!session.reportPictureProblems() && args.flag("--strict")) {
        return fail(
            "not every picture of the project could be read (--strict); nothing was "
            "rendered");
    }

    // The preset, then what the command line says on top of it.
    MemoryStorage settings;
    settings.open();
    StoreKeyPtr data = settings.root();
    const Project& project = session.context().project();
    if (const auto preset = args.value("--preset")) {
        if (!session.loadPreset(exporter->presetName(), *preset, *data)) {
            return fail("no preset '" + *preset + "' for " + exporter->presetName());
        }
    } else {
        data->setInt("Width", project.defaultOutputWidth());
        data->setInt("Height", project.defaultOutputHeight());
    }
    if (width > 0) {
        data->setInt("Width", width);
        data->setInt("Height", height);
        if (known != kFormats.end() && known->second.evenSize && (width % 2 || height % 2)) {
            note("--size " + std::to_string(width) + "x" + std::to_string(height) +
                 " is rounded to " + std::to_string(width & ~1) + "x" +
                 std::to_string(height & ~1) + ": " + format + " needs even sides");
        }
    }
    if (fps) {
        data->setInt64("FrameDuration", static_cast<std::int64_t>(2.7e7 / *fps + 0.5));
    }
    // Frames whose pixels do not carry the difference show the project's frame fitted inside.
    const bool fitInside = !pixelAspectKeepsShape(
        project.vAspRatio(), data->getInt("Width", 0), data->getInt("Height", 0),
        known != kFormats.end() && known->second.evenSize, *data);
    exporter->loadSettings(data.get());

    const TickTime length = project.projectLength();
    TickTime start = 0;
    TickTime end = length;
    if (from || to) {
        start = from ? secondsToTicks(*from) : 0;
        end = to ? secondsToTicks(*to) : length;
        if (!(start < end) || start >= length) {
            return usage("--from must come before --to, inside the project", kUsageLine);
        }
        if (end > length) {
            char text[160];
            std::snprintf(text, sizeof text, "--to %s is past the end; rendering to %.2f s",
                          args.value("--to")->c_str(), ticksToSeconds(length));
            note(text);
            end = length;
        }
    }

    installInterruptHandler();
    TerminalProgress progress;
    progress.begin(std::filesystem::path(*out).filename().string());
    const auto began = std::chrono::steady_clock::now();
    int result = 0;
    // The frames-per-second figure reads the source while it exists, and its last count after.
    const ProjectExportSource* running = nullptr;
    long framesDone = 0;
    progress.setFrameCounter([&] { return running ? running->framesRendered() : framesDone; });
    {
        ProjectExportSource source(session.context(), session.sound(), &progress, session.title());
        if (from || to) {
            source.setRange(start, end);
        }
        source.setFitInside(fitInside);
        if (format == "raw") {
            std::fprintf(stderr, "raw frames: %s\n", exporter->configurationSummary().c_str());
        }
        running = &source;
        result = exporter->run(source, out->c_str());
        framesDone = source.framesRendered();
        running = nullptr;
    }
    progress.end();
    if (interrupted()) {
        std::fprintf(stderr, "pictomove: stopped; %s was not written\n", out->c_str());
        return kInterrupted;
    }
    if (!result) {
        const std::string reason = session.context().errors().text();
        return fail("could not render " + *out + (reason.empty() ? "" : ": " + reason));
    }
    if (!session.reportLateFailures() && args.flag("--strict")) {
        if (*out != "-") {
            std::error_code ec;
            if (std::filesystem::is_regular_file(*out, ec)) {
                std::filesystem::remove(*out, ec);
            }
        }
        return fail("not every picture of the project could be read (--strict); " + *out +
                    " was removed");
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::fprintf(stderr, "%s: %ld frames in %.1f s (%.1f frames a second)", out->c_str(),
                 framesDone, seconds, seconds > 0.0 ? framesDone / seconds : 0.0);
    if (*out != "-") {
        std::fprintf(stderr, ", %s", sizeText(bytesWritten(*out)).c_str());
    }
    std::fprintf(stderr, "\n");
    return kSuccess;
}

}  // namespace pm::cli
