#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/cli/Arguments.h"
#include "app/cli/Commands.h"
#include "app/cli/ProjectSession.h"
#include "core/ProjectContext.h"

namespace pm::cli {

namespace {

const char* const kUsageLine =
    "pictomove new -o PROJECT.mzp [--length S] [--overlap S] [--motion none|default|slight] "
    "[--audio FILE] [--size WxH] PICTURES...";

// Files named on the command line, and the files of named folders in name order.
std::vector<std::string> expandPictures(const std::vector<std::string>& names,
                                        std::vector<std::string>& problems) {
    std::vector<std::string> files;
    for (const std::string& name : names) {
        std::error_code ec;
        if (std::filesystem::is_directory(name, ec)) {
            std::vector<std::string> inFolder;
            for (const auto& entry : std::filesystem::directory_iterator(name, ec)) {
                if (entry.is_regular_file(ec)) {
                    inFolder.push_back(entry.path().string());
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

}  // namespace

int runNew(const std::vector<std::string>& words) {
    Arguments args({"-o", "--output", "--length", "--overlap", "--motion", "--audio", "--size"},
                   {"--help"});
    if (!args.parse(words)) {
        return usage(args.error(), kUsageLine);
    }
    if (args.flag("--help")) {
        std::printf(
            "usage: %s\nMakes a project with one scene per picture (folders give their "
            "files in name order; files that are not pictures are skipped).\n",
            kUsageLine);
        return kSuccess;
    }
    const auto out = args.value("-o") ? args.value("-o") : args.value("--output");
    if (!out || args.positional().empty()) {
        return usage("name the project with -o and at least one picture", kUsageLine);
    }
    double length = 5.0;
    double overlap = 1.0;
    if (const auto t = args.value("--length")) {
        const auto v = parsePositive(*t);
        if (!v || *v < 0.1 || *v > 7200.0) {
            return usage("--length wants seconds from 0.1 to 7200", kUsageLine);
        }
        length = *v;
    }
    if (const auto t = args.value("--overlap")) {
        const auto v = parseSeconds(*t);
        if (!v) {
            return usage("--overlap wants seconds", kUsageLine);
        }
        overlap = *v;
    }
    const std::string motion = args.value("--motion").value_or("slight");
    int kind = 2;
    if (motion == "none") {
        kind = 0;
    } else if (motion == "default") {
        kind = 1;
    } else if (motion != "slight") {
        return usage("--motion is none, default or slight", kUsageLine);
    }
    int width = 0;
    int height = 0;
    if (const auto size = args.value("--size"); size && !parseSize(*size, width, height)) {
        return usage("--size wants WIDTHxHEIGHT, for example 1920x1080", kUsageLine);
    }
    if (const int code = checkOutput(*out); code != kSuccess) {
        return code;
    }

    std::vector<std::string> problems;
    const std::vector<std::string> pictures = expandPictures(args.positional(), problems);
    for (const std::string& p : problems) {
        std::fprintf(stderr, "pictomove: warning: %s\n", p.c_str());
    }
    ProjectSession session;
    session.newProject();
    Project& project = session.context().project();
    if (width > 0) {
        project.setVAspRatio(static_cast<double>(width) / height);
        project.setAssumedWidth(width);
    }
    project.setDefaultOverlap(secondsToTicks(overlap));
    int added = 0;
    for (const std::string& picture : pictures) {
        session.context().errors().clear();
        const int id =
            project.insertSceneAt(project.projectLength(), picture, secondsToTicks(length));
        if (id < 0) {
            std::fprintf(stderr, "pictomove: warning: skipped %s: %s\n", picture.c_str(),
                         session.context().errors().text().c_str());
            continue;
        }
        project.sceneById(id)->applyDefaultKeyframes(kind);
        ++added;
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
