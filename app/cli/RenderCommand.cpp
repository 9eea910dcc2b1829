#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "app/cli/Arguments.h"
#include "app/cli/Commands.h"
#include "app/cli/ProjectSession.h"
#include "app/cli/TerminalProgress.h"
#include "core/ProjectContext.h"
#include "export/ExporterManager.h"
#include "export/ProjectExportSource.h"
#include "store/MemoryStorage.h"
#include "store/StoreKey.h"

namespace pm::cli {

namespace {

const char* const kUsageLine =
    "pictomove render PROJECT -o OUT [--format mp4|webm|mov|y4m|png|jpg|raw] [--preset NAME] "
    "[--size WxH] [--fps N] [--from T --to T]";

const std::map<std::string, std::string> kFormats = {
    {"mp4", "pictomove.ffmpeg.mp4"},   {"mov", "pictomove.ffmpeg.mov"},
    {"webm", "pictomove.ffmpeg.webm"}, {"y4m", "pictomove.ffmpeg.y4m"},
    {"png", "pictomove.images.png"},   {"jpg", "pictomove.images.jpg"},
    {"jpeg", "pictomove.images.jpg"},  {"raw", "pictomove.images.raw"}};

std::string extensionOf(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    if (!ext.empty()) {
        ext.erase(0, 1);
    }
    for (char& c : ext) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return ext;
}

}  // namespace

int runRender(const std::vector<std::string>& words) {
    Arguments args({"-o", "--output", "--format", "--preset", "--size", "--fps", "--from", "--to"},
                   {"--help"});
    if (!args.parse(words)) {
        return usage(args.error(), kUsageLine);
    }
    if (args.flag("--help")) {
        std::printf(
            "usage: %s\nRenders PROJECT through the exporter modules. The format comes from "
            "--format or OUT's extension; -o - with --format raw writes frames to standard "
            "output. Ctrl-C stops and removes the partial file.\n",
            kUsageLine);
        return kSuccess;
    }
    const auto out = args.value("-o") ? args.value("-o") : args.value("--output");
    if (args.positional().size() != 1 || !out) {
        return usage("name one project and the output with -o", kUsageLine);
    }
    const std::string project = args.positional()[0];
    const std::string format = args.value("--format").value_or(extensionOf(*out));
    const auto id = kFormats.find(format);
    if (id == kFormats.end()) {
        return usage("unknown format '" + format + "'", kUsageLine);
    }
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

    if (const int code = *out == "-" ? kSuccess : checkOutput(*out); code != kSuccess) {
        return code;
    }

    ProjectSession session;
    if (!session.open(project)) {
        return fail(session.errorText());
    }
    HeadlessHostServices host;
    ExporterManager exporters(host);
    exporters.loadFolder(pluginFolder());
    for (const std::string& skipped : exporters.skipped()) {
        std::fprintf(stderr, "pictomove: warning: skipped exporter module %s\n", skipped.c_str());
    }
    auto exporter = exporters.createExporter(exporters.findByIdentifier(id->second));
    if (!exporter) {
        return fail("no exporter for " + format + " in " + pluginFolder());
    }

    // The preset, then what the command line says on top of it.
    MemoryStorage settings;
    settings.open();
    StoreKeyPtr data = settings.root();
    if (const auto preset = args.value("--preset")) {
        if (!session.loadPreset(exporter->presetName(), *preset, *data)) {
            return fail("no preset '" + *preset + "' for " + exporter->presetName());
        }
    } else {
        // The project's own frame: its display aspect at the assumed width.
        const Project& p = session.context().project();
        const int w = p.assumedWidth() >= 16 ? p.assumedWidth() : 1280;
        data->setInt("Width", w);
        data->setInt("Height",
                     static_cast<int>(w / (p.vAspRatio() > 0 ? p.vAspRatio() : 4.0 / 3.0) + 0.5));
    }
    if (width > 0) {
        data->setInt("Width", width);
        data->setInt("Height", height);
    }
    if (fps) {
        data->setInt64("FrameDuration", static_cast<std::int64_t>(2.7e7 / *fps + 0.5));
    }
    exporter->loadSettings(data.get());

    installInterruptHandler();
    TerminalProgress progress;
    progress.begin(std::filesystem::path(*out).filename().string());
    int result = 0;
    // The frames-per-second figure reads the source while it exists, and its last count after.
    const ProjectExportSource* running = nullptr;
    long framesDone = 0;
    progress.setFrameCounter([&] { return running ? running->framesRendered() : framesDone; });
    {
        ProjectExportSource source(session.context(), session.sound(), &progress, session.title());
        if (from || to) {
            const TickTime length = session.context().project().projectLength();
            const TickTime start = from ? secondsToTicks(*from) : 0;
            const TickTime end = to ? secondsToTicks(*to) : length;
            if (!(start < end) || start >= length) {
                return usage("--from must come before --to, inside the project", kUsageLine);
            }
            source.setRange(start, std::min(end, length));
        }
        if (format == "raw") {
            std::fprintf(stderr, "raw frames: %s, 32-bit BGRA, top row first\n",
                         exporter->configurationSummary().c_str());
        }
        running = &source;
        result = exporter->run(source, out->c_str());
        framesDone = source.framesRendered();
        running = nullptr;
    }
    progress.end();
    if (interrupted()) {
        return fail("stopped; " + *out + " was not written");
    }
    if (!result) {
        const std::string reason = session.context().errors().text();
        return fail("could not render " + *out + (reason.empty() ? "" : ": " + reason));
    }
    return kSuccess;
}

}  // namespace pm::cli
