#include <FreeImage.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/cli/tests/CliRun.h"
#include "core/ProjectContext.h"
#include "document/ProjectDocument.h"
#include "render/PerfKit.h"
#include "render/ProjectRenderer.h"
#include "render/Renderer.h"
#include "render/tests/PictureFiles.h"

namespace pm {
namespace {

using test::Outcome;
using test::run;

double probeSeconds(const std::string& path) {
    const std::string command =
        "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    double seconds = -1.0;
    if (std::fscanf(pipe, "%lf", &seconds) != 1) {
        seconds = -1.0;
    }
    pclose(pipe);
    return seconds;
}

class CommandLineTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    std::string pictures;
    std::string project;

    void SetUp() override {
        pictures = folder.file("pictures");
        std::filesystem::create_directories(pictures);
        for (int i = 0; i < 3; ++i) {
            test::writeFile(pictures + "/p" + std::to_string(i) + ".png",
                            test::encodePicture(300 + 50 * i, 200, 24, FIF_PNG, test::gradient));
        }
        std::ofstream(pictures + "/notes.txt") << "not a picture";
        project = folder.file("show.mzp");
        const Outcome made =
            run("new -o '" + project +
                "' --length 2 --overlap 0.5 --motion slight --size 320x180 '" + pictures + "'");
        ASSERT_EQ(made.code, 0) << made.out;
        EXPECT_NE(made.out.find("notes.txt"), std::string::npos) << made.out;  // warned, skipped
    }
};

TEST_F(CommandLineTest, RenderWritesAVideoOfTheProjectsLength) {
    const std::string out = folder.file("show.mp4");
    const Outcome r = run("render '" + project + "' -o '" + out + "' --fps 10");
    ASSERT_EQ(r.code, 0) << r.out;
    // Three 2 s scenes overlapping by 0.5 s.
    EXPECT_NEAR(probeSeconds(out), 5.0, 0.15);
}

TEST_F(CommandLineTest, RawFramesGoToStandardOutput) {
    const std::string raw = folder.file("frames.raw");
    const std::string command = std::string(PICTOMOVE) + " render '" + project +
                                "' -o - --format raw --size 32x18 --fps 2 > '" + raw + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(std::filesystem::file_size(raw), 10u * 32 * 18 * 4);  // 5 s at 2 frames a second
}

TEST_F(CommandLineTest, FrameMatchesTheRenderer) {
    const std::string png = folder.file("frame.png");
    const Outcome r = run("frame '" + project + "' --time 1.25 -o '" + png + "' --size 160x90");
    ASSERT_EQ(r.code, 0) << r.out;

    ProjectDocument document;
    ASSERT_TRUE(document.open(project));
    ImageBuffer expected;
    ASSERT_EQ(PerfKit::allocate(&expected, PixelFormat::Bgra32, 160, 90), PixelStatus::Ok);
    const double aspect = document.context().project().vAspRatio();
    ProjectRenderer renderer(document.context());
    ASSERT_NE(renderer.renderFrame(1.25 / 5.0, expected, FieldMode::Frame,
                                   static_cast<float>(90 * aspect / 160), PictureAccess::Full),
              RenderQuality::Failed);
    FIBITMAP* written = FreeImage_Load(FIF_PNG, png.c_str());
    ASSERT_NE(written, nullptr);
    ASSERT_EQ(FreeImage_GetWidth(written), 160u);
    // Opaque frames are saved without alpha.
    const unsigned step = FreeImage_GetBPP(written) / 8;
    ASSERT_GE(step, 3u);
    int different = 0;
    for (int y = 0; y < 90; ++y) {
        const BYTE* row = FreeImage_GetScanLine(written, 89 - y);
        for (int x = 0; x < 160; ++x) {
            for (int c = 0; c < 3; ++c) {
                different += row[x * step + c] != expected.row(y)[x * 4 + c];
            }
        }
    }
    EXPECT_EQ(different, 0);
    FreeImage_Unload(written);
    PerfKit::free(&expected);
}

TEST_F(CommandLineTest, InspectShowsTheKeyTree) {
    const Outcome text = run("inspect '" + project + "'");
    ASSERT_EQ(text.code, 0) << text.out;
    EXPECT_NE(text.out.find("FileType"), std::string::npos) << text.out;
    const Outcome json = run("inspect --json '" + project + "'");
    ASSERT_EQ(json.code, 0);
    EXPECT_EQ(json.out.rfind("{\"file\": ", 0), 0u) << json.out.substr(0, 80);
    const Outcome missing = run("inspect '" + folder.file("nothing.mzp") + "'");
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.out.find("nothing.mzp"), std::string::npos);
}

TEST_F(CommandLineTest, BadArgumentsAreUsageErrors) {
    const char* cases[] = {
        "render",
        "render x.mzp",
        "frame show.mzp --time soon -o f.png",
        "render show.mzp -o out.avi",
        "new -o x.mzp --motion wild p.png",
        "inspect a b",
        "--bogus",
    };
    for (const char* arguments : cases) {
        const Outcome r = run(arguments);
        EXPECT_EQ(r.code, 2) << arguments << "\n" << r.out;
        EXPECT_NE(r.out.find("usage:"), std::string::npos) << arguments;
    }
    EXPECT_EQ(run("render '" + folder.file("none.mzp") + "' -o x.mp4").code, 1);
}

// A file that cannot be written is refused before any work, with the path and the reason.
TEST_F(CommandLineTest, OutputsThatCannotBeWrittenAreNamedWithTheReason) {
    const std::string missing = folder.file("missing") + "/out";
    const std::string notFolder = project + "/out";
    struct Case {
        std::string arguments;
        std::string reason;
    };
    const Case cases[] = {
        {"render '" + project + "' -o '" + missing + ".mp4'", "does not exist"},
        {"render '" + project + "' -o '" + notFolder + ".png'", "is not a folder"},
        {"render '" + project + "' -o '" + pictures + "' --format mp4", "it is a folder"},
        {"frame '" + project + "' --time 1 -o '" + missing + ".png'", "does not exist"},
        {"new -o '" + missing + ".mzp' '" + pictures + "'", "does not exist"},
    };
    for (const Case& c : cases) {
        const Outcome r = run(c.arguments);
        EXPECT_EQ(r.code, 1) << c.arguments << "\n" << r.out;
        EXPECT_NE(r.out.find("cannot write"), std::string::npos) << c.arguments << "\n" << r.out;
        EXPECT_NE(r.out.find(c.reason), std::string::npos) << c.arguments << "\n" << r.out;
        // Refused before rendering: no progress line.
        EXPECT_EQ(r.out.find('%'), std::string::npos) << c.arguments << "\n" << r.out;
    }
    EXPECT_FALSE(std::filesystem::exists(folder.file("missing")));
}

}  // namespace
}  // namespace pm
