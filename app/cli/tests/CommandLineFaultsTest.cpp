// The command line where users lose data or are left guessing: failed writes, outputs that
// would replace inputs, formats, unreadable pictures, the last moment, and the module written
// from the interface's documented tables.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "app/cli/tests/CliRun.h"
#include "core/ProjectContext.h"
#include "document/ProjectDocument.h"
#include "document/ProjectFile.h"
#include "render/tests/PictureFiles.h"
#include "store/FileStorage.h"
#include "store/StoreKey.h"

namespace pm {
namespace {

using test::Outcome;
using test::run;

std::vector<char> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string inQuotes(const std::string& path) {
    return "'" + path + "'";
}

class CommandLineFaultsTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    std::string pictureA = folder.file("a.png");
    std::string pictureB = folder.file("b.png");
    std::string project = folder.file("show.mzp");
    // The same show, naming its pictures instead of holding them.
    std::string linked = folder.file("linked.mzp");

    void SetUp() override {
        test::writeFile(pictureA, test::encodePicture(320, 200, 24, FIF_PNG, test::gradient));
        test::writeFile(pictureB, test::encodePicture(200, 300, 24, FIF_PNG, [](int x, int y) {
                            return test::bgra(200, x % 256, y % 256);
                        }));
        // Two 3 s scenes overlapping by 1 s: 5 s in all.
        const Outcome made = run("new -o " + inQuotes(project) + " --length 3 --overlap 1 " +
                                 inQuotes(pictureA) + " " + inQuotes(pictureB));
        ASSERT_EQ(made.code, 0) << made.out;
        ProjectDocument document;
        ProjectFile::Options options = document.file().options();
        options.embed = false;
        document.file().setOptions(options);
        Project& show = document.context().project();
        show.setAddDefaultScene(false);
        show.reset();
        ASSERT_GE(show.insertSceneAt(0, pictureA, 3 * kTicksPerSecond), 0);
        ASSERT_GE(show.insertSceneAt(show.projectLength(), pictureB, 3 * kTicksPerSecond), 0);
        ASSERT_TRUE(document.save(linked)) << document.context().errors().text();
    }
};

TEST_F(CommandLineFaultsTest, AFailedWriteIsAFailureWithTheSystemsReason) {
    if (!std::filesystem::is_character_file("/dev/full")) {
        GTEST_SKIP() << "/dev/full is not the full device on this machine";
    }
    const std::string png = folder.file("f.png");
    struct Case {
        std::string arguments;
        std::string reason;
    };
    const Case cases[] = {
        {"frame " + inQuotes(project) + " --time 1 -o /dev/full --format png",
         "No space left on device"},
        {"frame " + inQuotes(project) + " --time 1 -o - --format png > /dev/full",
         "No space left on device"},
        {"inspect --json " + inQuotes(project) + " > /dev/full", "No space left on device"},
        {"inspect " + inQuotes(project) + " > /dev/full", "No space left on device"},
        {"render " + inQuotes(project) + " -o /dev/full --format mp4 --size 64x36",
         "No space left on device"},
        {"render " + inQuotes(project) + " -o - --format raw --size 64x36 > /dev/full",
         "No space left on device"},
    };
    for (const Case& c : cases) {
        const Outcome r = run(c.arguments);
        EXPECT_EQ(r.code, 1) << c.arguments << "\n" << r.out;
        EXPECT_TRUE(contains(r.out, c.reason)) << c.arguments << "\n" << r.out;
        // A failed run shows no progress that looks like success.
        EXPECT_FALSE(contains(r.out, "100%")) << c.arguments << "\n" << r.out;
        EXPECT_FALSE(contains(r.out, " 0%")) << c.arguments << "\n" << r.out;
        // A failed run removes its partial file, never the device it was told to write to.
        EXPECT_TRUE(std::filesystem::is_character_file("/dev/full")) << c.arguments;
    }
}

TEST_F(CommandLineFaultsTest, AnOutputNeverReplacesAnInput) {
    const std::string sound = folder.file("tone.wav");
    ASSERT_EQ(
        std::system(("ffmpeg -v error -f lavfi -i sine=duration=1 -y " + inQuotes(sound)).c_str()),
        0);
    const std::string copyOfA = folder.file("a-link.png");
    std::filesystem::create_symlink(pictureA, copyOfA);
    const std::string sameProject = folder.file("sub/../show.mzp");
    std::filesystem::create_directories(folder.file("sub"));
    const std::string arguments[] = {
        "new -o " + inQuotes(pictureA) + " " + inQuotes(pictureA) + " " + inQuotes(pictureB),
        "new -o " + inQuotes(sound) + " --audio " + inQuotes(sound) + " " + inQuotes(pictureA),
        "frame " + inQuotes(project) + " --time 1 -o " + inQuotes(project) + " --format png",
        "frame " + inQuotes(linked) + " --time 1 -o " + inQuotes(copyOfA),
        "render " + inQuotes(project) + " -o " + inQuotes(sameProject) + " --format mp4",
        "render " + inQuotes(linked) + " -o " + inQuotes(pictureB) + " --format png",
    };
    const auto before = {bytesOf(pictureA), bytesOf(pictureB), bytesOf(project), bytesOf(sound)};
    for (const std::string& a : arguments) {
        const Outcome r = run(a);
        EXPECT_EQ(r.code, 2) << a << "\n" << r.out;
        EXPECT_TRUE(contains(r.out, "refusing to write")) << a << "\n" << r.out;
        EXPECT_FALSE(contains(r.out, "%")) << a << "\n" << r.out;
    }
    const auto after = {bytesOf(pictureA), bytesOf(pictureB), bytesOf(project), bytesOf(sound)};
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
}

TEST_F(CommandLineFaultsTest, TheFormatFollowsTheExtensionAndAConflictIsAUsageError) {
    const std::string jpg = folder.file("still.jpg");
    ASSERT_EQ(run("frame " + inQuotes(project) + " --time 1 -o " + inQuotes(jpg)).code, 0);
    const std::vector<char> bytes = bytesOf(jpg);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);  // a JPEG, not PNG data
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xD8);

    struct Case {
        std::string arguments;
        std::vector<std::string> named;
    };
    const Case cases[] = {
        {"frame " + inQuotes(project) + " --time 1 -o x.jpg --format png", {"png", ".jpg"}},
        {"frame " + inQuotes(project) + " --time 1 -o -", {"--format"}},
        {"render " + inQuotes(project) + " -o x.mp4 --format webm", {"webm", ".mp4"}},
        {"render " + inQuotes(project) + " -o -", {"--format raw"}},
        {"render " + inQuotes(project) + " -o x.unknown", {"--format"}},
    };
    for (const Case& c : cases) {
        const Outcome r = run(c.arguments);
        EXPECT_EQ(r.code, 2) << c.arguments << "\n" << r.out;
        for (const std::string& word : c.named) {
            EXPECT_TRUE(contains(r.out, word)) << c.arguments << "\n" << r.out;
        }
    }
}

TEST_F(CommandLineFaultsTest, AnUnreadablePictureIsNamedAndStrictMakesItAFailure) {
    // The second picture of the project that links them goes missing.
    std::filesystem::remove(pictureB);
    const std::string png = folder.file("f.png");
    const Outcome shown = run("frame " + inQuotes(linked) + " --time 4 -o " + inQuotes(png));
    EXPECT_EQ(shown.code, 0) << shown.out;
    EXPECT_TRUE(contains(shown.out, "scene 2")) << shown.out;
    EXPECT_TRUE(contains(shown.out, pictureB)) << shown.out;
    EXPECT_TRUE(std::filesystem::exists(png));
    const Outcome strict =
        run("render " + inQuotes(linked) + " -o " + inQuotes(folder.file("s.mp4")) + " --strict");
    EXPECT_EQ(strict.code, 1) << strict.out;
    EXPECT_TRUE(contains(strict.out, pictureB)) << strict.out;
    EXPECT_FALSE(std::filesystem::exists(folder.file("s.mp4")));
    // The project that holds its pictures is untouched by the loss.
    const Outcome embedded = run("frame " + inQuotes(project) + " --time 4 -o " + inQuotes(png));
    EXPECT_EQ(embedded.code, 0);
    EXPECT_FALSE(contains(embedded.out, "warning")) << embedded.out;
}

// An embedded copy damaged inside the project file shows its thumbnail until the picture is
// drawn; then its failure is named too.
TEST_F(CommandLineFaultsTest, ADamagedEmbeddedPictureIsNamedWhenItIsDrawn) {
    const std::string damaged = folder.file("damaged.mzp");
    std::filesystem::copy_file(project, damaged);
    {
        FileStorage storage;
        ASSERT_TRUE(storage.open(damaged, 1));
        StoreKeyPtr settings = storage.root()->openPath("ProjectKey1\\PzRenderSettings");
        ASSERT_TRUE(settings);
        ASSERT_TRUE(settings->hasValue("ThumbnailData"));
        const std::vector<char> png = bytesOf(pictureB);
        ASSERT_TRUE(settings->setBinary("OrigBmpData", png.data(), 200));
        ASSERT_TRUE(settings->setInt("OrigBmpSize", 200));
        settings.reset();
        ASSERT_TRUE(storage.close());
    }
    const std::string png = folder.file("late.png");
    const Outcome shown = run("frame " + inQuotes(damaged) + " --time 4 -o " + inQuotes(png));
    EXPECT_EQ(shown.code, 0) << shown.out;
    EXPECT_TRUE(contains(shown.out, "scene 2")) << shown.out;
    EXPECT_TRUE(contains(shown.out, "b.png")) << shown.out;
    EXPECT_TRUE(contains(shown.out, "when it was drawn")) << shown.out;
    const std::string strictPng = folder.file("strict.png");
    const Outcome strict =
        run("frame " + inQuotes(damaged) + " --time 4 -o " + inQuotes(strictPng) + " --strict");
    EXPECT_EQ(strict.code, 1) << strict.out;
    EXPECT_FALSE(std::filesystem::exists(strictPng));
}

// Mean of a PNG's colour channels.
double meanOf(const std::string& png) {
    FIBITMAP* image = FreeImage_Load(FIF_PNG, png.c_str());
    if (!image) {
        return -1.0;
    }
    const unsigned step = FreeImage_GetBPP(image) / 8;
    double sum = 0.0;
    const unsigned w = FreeImage_GetWidth(image);
    const unsigned h = FreeImage_GetHeight(image);
    for (unsigned y = 0; y < h; ++y) {
        const BYTE* row = FreeImage_GetScanLine(image, static_cast<int>(y));
        for (unsigned x = 0; x < w * step; ++x) {
            sum += row[x];
        }
    }
    FreeImage_Unload(image);
    return sum / (w * h * step);
}

TEST_F(CommandLineFaultsTest, TheLastMomentShowsTheLastFrame) {
    const std::string before = folder.file("before.png");
    ASSERT_EQ(
        run("frame " + inQuotes(project) + " --time 4.9 -o " + inQuotes(before) + " --size 64x40")
            .code,
        0);
    for (const char* time : {"4.99", "4.999", "5", "00:00:05:00"}) {
        const std::string png = folder.file(std::string("end-") + time + ".png");
        const Outcome r = run("frame " + inQuotes(project) + " --time " + time + " -o " +
                              inQuotes(png) + " --size 64x40");
        ASSERT_EQ(r.code, 0) << time << "\n" << r.out;
        EXPECT_NEAR(meanOf(png), meanOf(before), 8.0) << time;  // not the black background
    }
}

TEST_F(CommandLineFaultsTest, MessagesSayWhatIsWrong) {
    struct Case {
        std::string arguments;
        int code;
        std::string says;
    };
    const std::string tiny = folder.file("tiny.png");
    test::writeFile(tiny, test::encodePicture(60, 40, 24, FIF_PNG, test::gradient));
    const std::string out = inQuotes(folder.file("o.mzp"));
    const Case cases[] = {
        {"new -o " + out + " --audio " + inQuotes(folder.file("none.wav")) + " " +
             inQuotes(pictureA),
         1, "no such file"},
        {"new -o " + out + " " + inQuotes(tiny) + " " + inQuotes(pictureA), 0,
         "too small (60 x 40); a picture needs at least 100 x 100"},
        {"inspect " + inQuotes(folder.file("")), 1, "it is a folder"},
        {"renderr " + inQuotes(project), 2, "unknown command renderr"},
        {"new -o " + out + " --length 2 --overlap 3 " + inQuotes(pictureA), 0,
         "--overlap 3 s is cut to 1 s"},
        {"render " + inQuotes(project) + " -o " + inQuotes(folder.file("o.mp4")) +
             " --size 65x37 --fps 5",
         0, "rounded to 64x36"},
        {"render " + inQuotes(project) + " -o " + inQuotes(folder.file("p.mp4")) +
             " --size 64x36 --fps 5 --to 99",
         0, "--to 99 is past the end; rendering to 5.00 s"},
        {"render " + inQuotes(project) + " -o " + inQuotes(folder.file("q.mp4")) +
             " --size 64x36 --fps 5",
         0, "frames in"},
    };
    for (const Case& c : cases) {
        const Outcome r = run(c.arguments);
        EXPECT_EQ(r.code, c.code) << c.arguments << "\n" << r.out;
        EXPECT_TRUE(contains(r.out, c.says)) << c.arguments << "\n" << r.out;
    }
    // The raw header names the pixel format once.
    const Outcome raw =
        run("render " + inQuotes(project) + " -o - --format raw --size 32x18 --fps 2 > /dev/null");
    EXPECT_EQ(raw.out.find("BGRA"), raw.out.rfind("BGRA")) << raw.out;
}

TEST_F(CommandLineFaultsTest, ABrokenProjectSaysWhichNodeAndWhy) {
    struct Case {
        const char* path;  // below the second scene's node
        const char* value;
        std::string says;
    };
    const Case cases[] = {
        {"PzKeyframes/PosX/0000", "PzKFrTime", "key 0000: its time is outside 0 to 1"},
        {"PzKeyframes/Scale/0000", "PzKFrSlope", "key 0000: a tangent is not a number"},
    };
    for (const Case& c : cases) {
        const std::string broken = folder.file("broken.mzp");
        std::filesystem::copy_file(project, broken,
                                   std::filesystem::copy_options::overwrite_existing);
        {
            FileStorage storage;
            ASSERT_TRUE(storage.open(broken, 1));
            StoreKeyPtr key = storage.root()->openChild("ProjectKey1");
            ASSERT_TRUE(key);
            std::string storePath = c.path;  // the store's own separator
            std::replace(storePath.begin(), storePath.end(), '/', '\\');
            key = key->openPath(storePath);
            ASSERT_TRUE(key) << c.path;
            ASSERT_TRUE(key->setDouble(c.value, c.value == std::string("PzKFrTime")
                                                    ? 1.5
                                                    : std::numeric_limits<double>::quiet_NaN()));
            key.reset();
            ASSERT_TRUE(storage.close());
        }
        const Outcome r =
            run("frame " + inQuotes(broken) + " --time 1 -o " + inQuotes(folder.file("b.png")));
        EXPECT_EQ(r.code, 1) << r.out;
        EXPECT_TRUE(contains(r.out, "scene 2 (ProjectKey1)")) << r.out;
        EXPECT_TRUE(contains(r.out, std::string(c.path).substr(0, std::string(c.path).rfind('/'))))
            << r.out;
        EXPECT_TRUE(contains(r.out, c.says)) << r.out;
    }
}

TEST_F(CommandLineFaultsTest, AnotherOutputShapeKeepsTheDisplayAspect) {
    // A square frame of the 4:3 show: the 64 x 48 picture in the middle, black bars of 8 rows.
    const std::string raw = folder.file("square.raw");
    const Outcome fitted = run("render " + inQuotes(project) + " -o " + inQuotes(raw) +
                               " --size 64x64 --fps 1 --to 1");
    ASSERT_EQ(fitted.code, 0) << fitted.out;
    EXPECT_TRUE(contains(fitted.out, "fitted inside 64x64")) << fitted.out;
    const std::vector<char> bytes = bytesOf(raw);
    ASSERT_EQ(bytes.size(), 64u * 64 * 4);
    const auto rowSum = [&](int y) {
        long sum = 0;
        for (int x = 0; x < 64; ++x) {
            for (int c = 0; c < 3; ++c) {
                sum += static_cast<unsigned char>(bytes[(y * 64 + x) * 4 + c]);
            }
        }
        return sum;
    };
    for (const int bar : {0, 7, 56, 63}) {
        EXPECT_EQ(rowSum(bar), 0) << bar;
    }
    // The middle is the frame the project's own shape gives, to the byte.
    const std::string own = folder.file("own.raw");
    ASSERT_EQ(
        run("render " + inQuotes(project) + " -o " + inQuotes(own) + " --size 64x48 --fps 1 --to 1")
            .code,
        0);
    const std::vector<char> middle(bytes.begin() + 8 * 64 * 4, bytes.begin() + 56 * 64 * 4);
    EXPECT_TRUE(middle == bytesOf(own));
    EXPECT_GT(rowSum(32), 64 * 3 * 10);

    // A 16:9 show in a PAL-sized file: the pixels carry the difference, and the file says so.
    const std::string wide = folder.file("wide.mzp");
    ASSERT_EQ(run("new -o " + inQuotes(wide) + " --size 1280x720 " + inQuotes(pictureA)).code, 0);
    const std::string pal = folder.file("pal.mp4");
    const Outcome stored =
        run("render " + inQuotes(wide) + " -o " + inQuotes(pal) + " --size 720x576 --fps 5 --to 1");
    ASSERT_EQ(stored.code, 0) << stored.out;
    EXPECT_TRUE(contains(stored.out, "players show it undistorted")) << stored.out;
    FILE* probe = popen(("ffprobe -v error -select_streams v:0 -show_entries "
                         "stream=sample_aspect_ratio -of csv=p=0 " +
                         inQuotes(pal))
                            .c_str(),
                        "r");
    char aspect[64] = {};
    ASSERT_NE(std::fgets(aspect, sizeof aspect, probe), nullptr);
    pclose(probe);
    EXPECT_EQ(std::string(aspect).substr(0, 5), "64:45");
}

TEST_F(CommandLineFaultsTest, HelpGivesTheDefaults) {
    const Outcome render = run("render --help");
    const Outcome frame = run("frame --help");
    const Outcome made = run("new --help");
    for (const char* word : {"default 30", "mp4", "webm", "mov", "y4m", "png", "jpg", "raw",
                             "hundredths", "--list-presets"}) {
        EXPECT_TRUE(contains(render.out, word)) << word;
    }
    EXPECT_TRUE(contains(frame.out, "hundredths"));
    for (const char* word : {"default 5", "default 1", "slight", "--recursive", "copy of every"}) {
        EXPECT_TRUE(contains(made.out, word)) << word;
    }
    const Outcome presets = run("render --list-presets");
    EXPECT_EQ(presets.code, 0) << presets.out;
    for (const char* format : {"mp4 (", "webm (", "mov (", "y4m (", "png (", "jpg (", "raw ("}) {
        EXPECT_TRUE(contains(presets.out, format)) << format << "\n" << presets.out;
    }
}

TEST_F(CommandLineFaultsTest, ALinkedProjectHoldsNoPicturesAndRendersTheSameFrames) {
    // Still pictures: slight motion is drawn at random for each new project.
    const std::string linkedShow = folder.file("linked-show.mzp");
    const std::string embeddedShow = folder.file("embedded-show.mzp");
    for (const auto& [show, option] : {std::pair{linkedShow, " --link"}, {embeddedShow, ""}}) {
        const Outcome made =
            run("new -o " + inQuotes(show) + option + " --motion none --length 3 --overlap 1 " +
                inQuotes(pictureA) + " " + inQuotes(pictureB));
        ASSERT_EQ(made.code, 0) << made.out;
    }
    const std::string listing = run("inspect " + inQuotes(linkedShow)).out;
    EXPECT_FALSE(contains(listing, "OrigBmpData")) << listing.substr(0, 2000);
    EXPECT_FALSE(contains(listing, "BmpData")) << listing.substr(0, 2000);
    EXPECT_TRUE(contains(listing, pictureB)) << listing.substr(0, 2000);
    EXPECT_LT(std::filesystem::file_size(linkedShow), std::filesystem::file_size(embeddedShow));
    const Outcome embedded = run("inspect " + inQuotes(embeddedShow));
    EXPECT_TRUE(contains(embedded.out, "OrigBmpData"));

    std::vector<std::vector<char>> frames;
    for (const std::string& show : {embeddedShow, linkedShow}) {
        const std::string raw = folder.file("frames.raw");
        ASSERT_EQ(run("render " + inQuotes(show) + " -o " + inQuotes(raw) +
                      " --size 64x48 --fps 2 --to 5")
                      .code,
                  0);
        frames.push_back(bytesOf(raw));
    }
    EXPECT_EQ(frames[0].size(), 10u * 64 * 48 * 4);
    EXPECT_TRUE(frames[0] == frames[1]);
}

TEST_F(CommandLineFaultsTest, RecursiveTakesPicturesFromSubFolders) {
    const std::string top = folder.file("album");
    std::filesystem::create_directories(top + "/day2");
    std::filesystem::copy_file(pictureA, top + "/1.png");
    std::filesystem::copy_file(pictureB, top + "/day2/2.png");
    const std::string out = inQuotes(folder.file("album.mzp"));
    EXPECT_TRUE(contains(run("new -o " + out + " " + inQuotes(top)).out, "1 scenes"));
    EXPECT_TRUE(contains(run("new -o " + out + " --recursive " + inQuotes(top)).out, "2 scenes"));
}

TEST_F(CommandLineFaultsTest, CtrlCStopsWithTheShellsCode) {
    const std::string out = folder.file("long.mp4");
    const Outcome r =
        run("render " + inQuotes(project) + " -o " + inQuotes(out) + " --size 1920x1080 --fps 240",
            "timeout --preserve-status -s INT 0.5 ");
    EXPECT_EQ(r.code, 130) << r.out;
    EXPECT_FALSE(std::filesystem::exists(out));
}

// A module written in C from the documented tables, loaded by the real program: each slot it
// calls on the program's objects answers, and the frames it pulls are the program's frames.
TEST_F(CommandLineFaultsTest, AModuleWrittenFromTheDocumentedTablesWorks) {
    const std::string frames = folder.file("out.frames");
    const std::string environment = std::string("PICTOMOVE_PLUGINS=") + RAW_TABLE_PLUGIN_DIR + " ";
    const Outcome r = run("render " + inQuotes(project) + " -o " + inQuotes(frames) +
                              " --format pictomove.test.rawtable",
                          environment);
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "raw table exporter: hello")) << r.out;  // the message box
    std::ifstream logFile(frames + ".log");
    const std::string log((std::istreambuf_iterator<char>(logFile)),
                          std::istreambuf_iterator<char>());
    for (const char* line :
         {"called loadSettings", "host window none, message box 1, dialog none, video format 0",
          "title 1 show", "duration 135000000", "sound 0: tag 0", "keep alpha was 0",
          "audio 1 at 48000, level 0", "frames 10"}) {
        EXPECT_TRUE(contains(log, line)) << line << "\n" << log;
    }
    // The same frames as the raw exporter's, at the module's size and rate.
    const std::string raw = folder.file("out.raw");
    ASSERT_EQ(
        run("render " + inQuotes(project) + " -o " + inQuotes(raw) + " --size 64x36 --fps 2").code,
        0);
    const std::vector<char> ours = bytesOf(frames);
    EXPECT_EQ(ours.size(), 10u * 64 * 36 * 4);
    EXPECT_TRUE(ours == bytesOf(raw));
}

}  // namespace
}  // namespace pm
