#include <FreeImage.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <utility>

#include "app/cli/Arguments.h"
#include "app/cli/Commands.h"
#include "app/cli/ProjectSession.h"
#include "app/cli/TerminalProgress.h"
#include "core/ProjectContext.h"
#include "render/PictureInsertion.h"

namespace pm::cli {

namespace {

const char* const kUsageLine =
    "pictomove new -o PROJECT.mzp [--length S] [--overlap S] [--motion none|default|slight] "
    "[--audio FILE] [--size WxH] [--recursive] [--link] PICTURES...";

const char* const kHelpText =
    "Makes a project with one scene per picture. Folders give their files in name order;\n"
    "files that are not pictures are skipped with a warning.\n"
    "  --length S     each scene's length in seconds, 0.1 to 7200; default 5\n"
    "  --overlap S    the transition between two scenes, at most half a scene; default 1\n"
    "  --motion M     none: one key at the start, so the whole picture stands still;\n"
    "                 default: keys at the start and the end, both with the default values\n"
    "                 (still, ready for either end to be changed in the editor);\n"
    "                 slight (the default): a gentle pan or zoom chosen by the picture's shape\n"
    "  --audio FILE   a sound or video file whose sound plays under the whole show\n"
    "  --size WxH     the show's frame: its shape becomes the project's display aspect and its\n"
    "                 width the size renders get; default 1280 wide at 4:3\n"
    "  --recursive    take the pictures of sub-folders too\n"
    "  --link         keep only the paths of the pictures and the sound: a small project that\n"
    "                 needs those files where they are\n"
    "By default the project holds a copy of every picture and of the sound, so it can be moved\n"
    "and still opens when the originals are gone; it is then as large as those files together.\n"
    "Only as many full pictures stay in memory as the memory settings allow.\n";

// Files named on the command line, and the files of named folders in name order.
std::vector<std::string> expandPictures(const std::vector<std::string>& names, bool recursive,
                                        std::vector<std::string>& problems) {
    std::vector<std::string> files;
    for (const std::string& name : names) {
        std::error_code ec;
        if (std::filesystem::is_directory(name, ec)) {
            std::vector<std::string> inFolder;
            const auto take = [&](const std::filesystem::directory_entry& entry) {
                if (entry.is_regular_file(ec)) {
                    inFolder.push_back(entry.path().string());
                }
            };
            if (recursive) {
                for (const auto& entry : std::filesystem::recursive_directory_iterator(
                         name, std::filesystem::directory_options::skip_permission_denied, ec)) {
                    take(entry);
                }
            } else {
                for (const auto& entry : std::filesystem::directory_iterator(name, ec)) {
                    take(entry);
                }
            }
            std::sort(inFolder.begin(), inFolder.end());
            files.insert(files.end(), inFolder.begin(), inFolder.end());
        } else if (std::filesystem::is_regular_file(name, ec)) {
            files.push_back(name);
        } else {
            problems.push_back(name + ": no such file or folder");
        }
    }
    return files;
}

// The picture's size from its header alone; nothing when it cannot be read.
std::optional<std::pair<int, int>> pictureSize(const std::string& path) {
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsNoPixels(format)) {
        return std::nullopt;
    }
    FIBITMAP* header = FreeImage_Load(format, path.c_str(), FIF_LOAD_NOPIXELS);
    if (!header) {
        return std::nullopt;
    }
    const std::pair<int, int> size{static_cast<int>(FreeImage_GetWidth(header)),
                                   static_cast<int>(FreeImage_GetHeight(header))};
    FreeImage_Unload(header);
    return size;
}

// One line on why a picture did not become a scene.
std::string whyNotAdded(const std::string& picture, std::string problem) {
    constexpr int kMinSide = 100;
    if (const auto size = pictureSize(picture);
        size && (size->first < kMinSide || size->second < kMinSide)) {
        return "it is too small (" + std::to_string(size->first) + " x " +
               std::to_string(size->second) + "); a picture needs at least " +
               std::to_string(kMinSide) + " x " + std::to_string(kMinSide) + " pixels";
    }
    std::replace(problem.begin(), problem.end(), '\n', ' ');
    return problem.empty() ? "it cannot be read" : problem;
}

// How the scenes are made, from the command line.
struct SceneOptions {
    double length = 5.0;
    double overlap = 1.0;
    SceneMotion::DefaultKeys motion = SceneMotion::DefaultKeys::SlightMotion;
    int width = 0;
    int height = 0;
};

// kSuccess, or the usage code after its message.
int readSceneOptions(const Arguments& args, SceneOptions& options) {
    if (const auto t = args.value("--length")) {
        const auto v = parsePositive(*t);
        if (!v || *v < 0.1 || *v > 7200.0) {
            return usage("--length wants seconds from 0.1 to 7200", kUsageLine);
        }
        options.length = *v;
    }
    if (const auto t = args.value("--overlap")) {
        const auto v = parseSeconds(*t);
        if (!v) {
            return usage("--overlap wants seconds", kUsageLine);
        }
        options.overlap = *v;
    }
    const std::string motion = args.value("--motion").value_or("slight");
    using DefaultKeys = SceneMotion::DefaultKeys;
    if (motion == "none") {
        options.motion = DefaultKeys::AtStart;
    } else if (motion == "default") {
        options.motion = DefaultKeys::AtStartAndEnd;
    } else if (motion != "slight") {
        return usage("--motion is none, default or slight", kUsageLine);
    }
    if (const auto size = args.value("--size");
        size && !parseSize(*size, options.width, options.height)) {
        return usage("--size wants WIDTHxHEIGHT, for example 1920x1080", kUsageLine);
    }
    return kSuccess;
}

}  // namespace

int runNew(const std::vector<std::string>& words) {
    Arguments args({"-o", "--output", "--length", "--overlap", "--motion", "--audio", "--size"},
                   {"--help", "--recursive", "--link"});
    if (const auto code = parseCommand(args, words, kUsageLine, kHelpText)) {
        return *code;
    }
    const auto out = args.value("-o") ? args.value("-o") : args.value("--output");
    if (!out || args.positional().empty()) {
        return usage("name the project with -o and at least one picture", kUsageLine);
    }
    SceneOptions options;
    if (const int code = readSceneOptions(args, options); code != kSuccess) {
        return code;
    }
    double overlap = options.overlap;
    const double length = options.length;
    if (const int code = checkOutput(*out); code != kSuccess) {
        return code;
    }

    std::vector<std::string> problems;
    const std::vector<std::string> pictures =
        expandPictures(args.positional(), args.flag("--recursive"), problems);
    std::vector<std::string> inputs = pictures;
    if (const auto audio = args.value("--audio")) {
        inputs.push_back(*audio);
    }
    if (const int refused = refuseInputAsOutput(*out, inputs); refused != kSuccess) {
        return refused;
    }
    if (overlap > length / 2) {
        char text[128];
        std::snprintf(text, sizeof text, "--overlap %g s is cut to %g s, half the scene length",
                      overlap, length / 2);
        note(text);
        overlap = length / 2;
    }
    for (const std::string& p : problems) {
        std::fprintf(stderr, "pictomove: warning: %s\n", p.c_str());
    }
    ProjectSession session;
    session.newProject();
    Project& project = session.context().project();
    if (options.width > 0) {
        project.setVAspRatio(static_cast<double>(options.width) / options.height);
        project.setAssumedWidth(options.width);
    }
    project.setDefaultOverlap(secondsToTicks(overlap));
    session.setEmbed(!args.flag("--link"));
    session.useImageCache();
    installInterruptHandler();
    TerminalProgress progress;
    progress.begin(std::filesystem::path(*out).filename().string());
    const int added = appendPictures(
        session.context(), pictures, secondsToTicks(length), &progress,
        [&](const InsertedPicture& inserted) {
            if (inserted.sceneId < 0) {
                progress.clearLine();
                warn("skipped " + inserted.path + ": " +
                     whyNotAdded(inserted.path, inserted.problem));
            } else {
                project.sceneById(inserted.sceneId)->applyDefaultKeyframes(options.motion);
            }
        });
    progress.end();
    if (interrupted()) {
        std::fprintf(stderr, "pictomove: stopped; %s was not made\n", out->c_str());
        return kInterrupted;
    }
    session.context().errors().clear();
    if (added == 0) {
        return fail("none of the files is a picture; no project was made");
    }
    if (const auto audio = args.value("--audio")) {
        if (!session.setSound(*audio)) {
            return fail(session.errorText());
        }
    }
    if (!session.save(*out)) {
        return fail(session.errorText());
    }
    std::printf("%s: %d scenes, %.1f seconds\n", out->c_str(), added,
                ticksToSeconds(project.projectLength()));
    return kSuccess;
}

}  // namespace pm::cli
