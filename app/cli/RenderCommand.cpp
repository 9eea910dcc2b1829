#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

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

// What the command line asks for, checked before anything is opened.
struct RenderOptions {
    std::string projectPath;
    std::string out;
    std::string format;
    const Format* known = nullptr;  // one of ours; null for another module's identifier
    int width = 0;
    int height = 0;
    std::optional<double> fps;
    std::optional<double> from;
    std::optional<double> to;
    std::string toText;  // --to as typed
    bool strict = false;
    bool toStandardOutput() const { return out == "-"; }
};

// kSuccess, or the usage code after its message.
int readOptions(const Arguments& args, RenderOptions& options) {
    const auto out = args.value("-o") ? args.value("-o") : args.value("--output");
    if (args.positional().size() != 1 || !out) {
        return usage("name one project and the output with -o", kUsageLine);
    }
    options.projectPath = args.positional()[0];
    options.out = *out;
    options.strict = args.flag("--strict");
    int code = kSuccess;
    options.format = chooseFormat(args, options.out, code);
    if (options.format.empty()) {
        return code;
    }
    if (const auto known = kFormats.find(options.format); known != kFormats.end()) {
        options.known = &known->second;
    }
    if (options.toStandardOutput() && options.format != "raw") {
        return usage("only raw frames can go to standard output", kUsageLine);
    }
    if (const auto size = args.value("--size");
        size && !parseSize(*size, options.width, options.height)) {
        return usage("--size wants WIDTHxHEIGHT, for example 1920x1080", kUsageLine);
    }
    if (const auto text = args.value("--fps")) {
        options.fps = parsePositive(*text);
        if (!options.fps || *options.fps > 240.0) {
            return usage("--fps wants a number of frames per second up to 240", kUsageLine);
        }
    }
    if (const auto text = args.value("--from"); text && !(options.from = parseSeconds(*text))) {
        return usage("--from wants seconds or a time code", kUsageLine);
    }
    if (const auto text = args.value("--to"); text && !(options.to = parseSeconds(*text))) {
        return usage("--to wants seconds or a time code", kUsageLine);
    } else if (text) {
        options.toText = *text;
    }
    if (!options.toStandardOutput()) {
        if (const int refused = refuseInputAsOutput(options.out, {options.projectPath});
            refused != kSuccess) {
            return refused;
        }
        return checkOutput(options.out);
    }
    return kSuccess;
}

// The preset, then what the command line says on top of it, into `data`; whether the frames show
// the project's frame fitted inside (their pixels do not carry the difference of shape).
// Nothing when the preset does not exist.
std::optional<bool> chooseSettings(ProjectSession& session, const ExporterInstance& exporter,
                                   const RenderOptions& options,
                                   const std::optional<std::string>& preset, StoreKey& data) {
    const Project& project = session.context().project();
    if (preset) {
        if (!session.loadPreset(exporter.presetName(), *preset, data)) {
            return std::nullopt;
        }
    } else {
        data.setInt("Width", project.defaultOutputWidth());
        data.setInt("Height", project.defaultOutputHeight());
    }
    const bool even = options.known != nullptr && options.known->evenSize;
    if (options.width > 0) {
        data.setInt("Width", options.width);
        data.setInt("Height", options.height);
        if (even && (options.width % 2 || options.height % 2)) {
            note("--size " + std::to_string(options.width) + "x" + std::to_string(options.height) +
                 " is rounded to " + std::to_string(options.width & ~1) + "x" +
                 std::to_string(options.height & ~1) + ": " + options.format + " needs even sides");
        }
    }
    if (options.fps) {
        data.setInt64("FrameDuration", static_cast<std::int64_t>(2.7e7 / *options.fps + 0.5));
    }
    return !pixelAspectKeepsShape(project.vAspRatio(), data.getInt("Width", 0),
                                  data.getInt("Height", 0), even, data);
}

struct TimeRange {
    TickTime start = 0;
    TickTime end = 0;
};

// The part of the project to render; nothing after a usage message.
std::optional<TimeRange> chooseRange(const RenderOptions& options, TickTime length, int& code) {
    TimeRange range{0, length};
    if (!options.from && !options.to) {
        return range;
    }
    range.start = options.from ? secondsToTicks(*options.from) : 0;
    range.end = options.to ? secondsToTicks(*options.to) : length;
    if (!(range.start < range.end) || range.start >= length) {
        code = usage("--from must come before --to, inside the project", kUsageLine);
        return std::nullopt;
    }
    if (range.end > length) {
        char text[160];
        std::snprintf(text, sizeof text, "--to %s is past the end; rendering to %.2f s",
                      options.toText.c_str(), ticksToSeconds(length));
        note(text);
        range.end = length;
    }
    return range;
}

struct RunOutcome {
    bool ok = false;
    long frames = 0;
    double seconds = 0.0;
};

// Runs the exporter over the project with a progress line on the terminal.
RunOutcome runExporter(ProjectSession& session, ExporterInstance& exporter,
                       const RenderOptions& options, const TimeRange& range, bool fitInside) {
    installInterruptHandler();
    TerminalProgress progress;
    progress.begin(std::filesystem::path(options.out).filename().string());
    const auto began = std::chrono::steady_clock::now();
    RunOutcome outcome;
    // The frames-per-second figure reads the source while it exists, and its last count after.
    const ProjectExportSource* running = nullptr;
    progress.setFrameCounter([&] { return running ? running->framesRendered() : outcome.frames; });
    {
        ProjectExportSource source(session.context(), session.sound(), &progress, session.title());
        if (options.from || options.to) {
            source.setRange(range.start, range.end);
        }
        source.setFitInside(fitInside);
        if (options.format == "raw") {
            std::fprintf(stderr, "raw frames: %s\n", exporter.configurationSummary().c_str());
        }
        running = &source;
        outcome.ok = exporter.run(source, options.out.c_str()) != 0;
        outcome.frames = source.framesRendered();
        running = nullptr;
    }
    progress.end();
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    return outcome;
}

// The exit code of a finished run, with its closing line.
int finishRun(ProjectSession& session, const RenderOptions& options, const RunOutcome& outcome) {
    if (interrupted()) {
        std::fprintf(stderr, "pictomove: stopped; %s was not written\n", options.out.c_str());
        return kInterrupted;
    }
    if (!outcome.ok) {
        const std::string reason = session.context().errors().text();
        return fail("could not render " + options.out + (reason.empty() ? "" : ": " + reason));
    }
    if (!session.reportLateFailures() && options.strict) {
        if (!options.toStandardOutput()) {
            std::error_code ec;
            if (std::filesystem::is_regular_file(options.out, ec)) {
                std::filesystem::remove(options.out, ec);
            }
        }
        return fail("not every picture of the project could be read (--strict); " + options.out +
                    " was removed");
    }
    std::fprintf(stderr, "%s: %ld frames in %.1f s (%.1f frames a second)", options.out.c_str(),
                 outcome.frames, outcome.seconds,
                 outcome.seconds > 0.0 ? outcome.frames / outcome.seconds : 0.0);
    if (!options.toStandardOutput()) {
        std::fprintf(stderr, ", %s", sizeText(bytesWritten(options.out)).c_str());
    }
    std::fprintf(stderr, "\n");
    return kSuccess;
}

}  // namespace

int runRender(const std::vector<std::string>& words) {
    Arguments args({"-o", "--output", "--format", "--preset", "--size", "--fps", "--from", "--to"},
                   {"--help", "--list-presets", "--strict"});
    if (const auto code = parseCommand(args, words, kUsageLine, kHelpText)) {
        return *code;
    }
    if (args.flag("--list-presets")) {
        ProjectSession session;
        HeadlessHostServices host;
        ExporterManager exporters(host);
        loadExporters(exporters);
        return listPresets(session, exporters);
    }
    RenderOptions options;
    if (const int code = readOptions(args, options); code != kSuccess) {
        return code;
    }

    ProjectSession session;
    if (!session.open(options.projectPath)) {
        return fail(session.errorText());
    }
    if (!options.toStandardOutput()) {
        if (const int refused = refuseInputAsOutput(options.out, session.inputFiles());
            refused != kSuccess) {
            return refused;
        }
    }
    HeadlessHostServices host;
    ExporterManager exporters(host);
    loadExporters(exporters);
    const std::string identifier = options.known ? options.known->identifier : options.format;
    auto exporter = exporters.createExporter(exporters.findByIdentifier(identifier));
    if (!exporter) {
        if (!options.known) {
            return usage("unknown format '" + options.format + "'", kUsageLine);
        }
        return fail("no exporter for " + options.format + " in " + pluginFolder());
    }
    if (!session.reportPictureProblems() && options.strict) {
        return fail(
            "not every picture of the project could be read (--strict); nothing was "
            "rendered");
    }

    MemoryStorage settings;
    settings.open();
    StoreKeyPtr data = settings.root();
    const auto preset = args.value("--preset");
    const std::optional<bool> fitInside =
        chooseSettings(session, *exporter, options, preset, *data);
    if (!fitInside) {
        return fail("no preset '" + *preset + "' for " + exporter->presetName());
    }
    exporter->loadSettings(data.get());

    int code = kSuccess;
    const auto range = chooseRange(options, session.context().project().projectLength(), code);
    if (!range) {
        return code;
    }
    return finishRun(session, options,
                     runExporter(session, *exporter, options, *range, *fitInside));
}

}  // namespace pm::cli
