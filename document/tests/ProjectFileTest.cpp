#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <fstream>

#include "ProjectFixtures.h"
#include "audio/SoundTrack.h"
#include "core/ErrorInfo.h"
#include "core/ProgressReporter.h"
#include "core/ProjectContext.h"
#include "render/SceneImage.h"
#include "store/FileStorage.h"
#include "store/MemoryStorage.h"
#include "store/StoreKey.h"
#include "document/detail/ProjectFileParts.h"
#include "document/detail/ProjectSaver.h"

namespace pm {
namespace {

using test::kSecond;

KeyframeDesc valueKey(float value, float time, InterpolationMode mode) {
    KeyframeDesc d;
    d.value = value;
    d.time = time;
    d.mode = mode;
    d.mask = KF_VALUE | KF_TIME | KF_MODE;
    return d;
}

// A key that passes everything to a real one, except that it refuses to make one child.
class RefusingKey final : public StoreKey {
public:
    static StoreKeyPtr wrap(StoreKeyPtr inner, std::string refused) {
        return StoreKeyPtr::adopt(new RefusingKey(std::move(inner), std::move(refused)));
    }
    void destroy() override { delete this; }
    std::uint32_t typeCode() const override { return m_inner->typeCode(); }
    StoreKeyPtr openChild(std::string_view name) override { return m_inner->openChild(name); }
    StoreKeyPtr createChild(std::string_view name) override {
        return name == m_refused ? nullptr : m_inner->createChild(name);
    }
    int deleteChild(std::string_view name) override { return m_inner->deleteChild(name); }
    int childName(int index, char* buffer, std::size_t size) override {
        return m_inner->childName(index, buffer, size);
    }
    int renameChild(std::string_view name, std::string_view newName) override {
        return m_inner->renameChild(name, newName);
    }
    std::int64_t getRaw(ValueType type, std::string_view name, void* buffer, std::size_t size,
                        const void* defaultData) override {
        return m_inner->getRaw(type, name, buffer, size, defaultData);
    }
    int setRaw(ValueType type, std::string_view name, const void* data, std::size_t size) override {
        return m_inner->setRaw(type, name, data, size);
    }
    int deleteValue(std::string_view name) override { return m_inner->deleteValue(name); }
    int hasValue(std::string_view name) override { return m_inner->hasValue(name); }
    int valueName(int index, char* buffer, std::size_t size) override {
        return m_inner->valueName(index, buffer, size);
    }
    int renameValue(std::string_view name, std::string_view newName) override {
        return m_inner->renameValue(name, newName);
    }
    std::int64_t valueSize(std::string_view name) override { return m_inner->valueSize(name); }
    ValueType valueType(std::string_view name) override { return m_inner->valueType(name); }

private:
    RefusingKey(StoreKeyPtr inner, std::string refused)
        : StoreKey(false), m_inner(std::move(inner)), m_refused(std::move(refused)) {}
    ~RefusingKey() = default;
    StoreKeyPtr m_inner;
    std::string m_refused;
};

class ProjectFileTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    test::TestDocument doc;
    Project& project = doc.context().project();
    ErrorInfo& errors = doc.context().errors();

    std::string file(const std::string& name) const { return folder.file(name); }

    // Scenes of `count` given pictures laid out one after another with 1 s overlaps.
    void makeScenes(int count) {
        project.deleteScene(0, false);
        for (int i = 0; i < count; ++i) {
            const std::string picture = file("p" + std::to_string(i) + ".png");
            test::writePicture(picture, 120, 100, i);
            const TickTime start = i == 0 ? 0 : project.endAt(project.sceneCount() - 1) - kSecond;
            ASSERT_GE(project.addScene(picture, start, (3 + i) * kSecond, 40 + 3 * i), 0);
        }
    }
};

TEST_F(ProjectFileTest, ThreeScenesComeBackInOrderWithTimesKeysMarkersAndBackground) {
    makeScenes(3);
    Scene& second = *project.sceneAt(1);
    ASSERT_NE(second.setKeyAtTime(PosX, 0.2f, valueKey(1.25f, 0.2f, InterpolationMode::Linear)), 0);
    KeyframeDesc shaped = valueKey(0.5f, 0.7f, InterpolationMode::Spline);
    shaped.slope = 0.3f;
    shaped.inLength = 0.4f;
    shaped.outLength = 1.7f;
    shaped.userDefined = 1;
    shaped.mask = 0;
    ASSERT_NE(second.setKeyAtTime(PosX, 0.7f, shaped), 0);
    ASSERT_NE(project.sceneAt(2)->setKeyAtTime(Scale, 0.5f,
                                               valueKey(2.5f, 0.5f, InterpolationMode::Constant)),
              0);
    ASSERT_TRUE(doc.context().addMarker(-1, 2 * kSecond, 3));
    ASSERT_TRUE(doc.context().addMarker(-1, 5 * kSecond, 0));
    project.setBackgroundColour({33, 128, 254, 255}, 1);
    project.setVAspRatio(16.0 / 9.0);
    project.setAssumedWidth(1280);

    std::vector<TickTime> starts, lengths;
    std::vector<std::vector<std::vector<KeyframeDesc>>> keys;
    for (int i = 0; i < 3; ++i) {
        starts.push_back(project.startAt(i));
        lengths.push_back(project.sceneAt(i)->length());
        keys.push_back(test::allKeys(*project.sceneAt(i)));
    }
    const std::string path = file("three.mzp");
    ASSERT_TRUE(doc.save(path)) << errors.text();

    test::TestDocument other;
    ASSERT_TRUE(other.open(path)) << other.context().errors().text();
    Project& loaded = other.context().project();
    ASSERT_EQ(loaded.sceneCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(loaded.startAt(i), starts[i]) << i;
        EXPECT_EQ(loaded.sceneAt(i)->length(), lengths[i]) << i;
        test::expectSameKeys(keys[i], test::allKeys(*loaded.sceneAt(i)));
        // Embedded by default: the picture is named by its file's name in brackets.
        EXPECT_EQ(loaded.sceneAt(i)->picture().path(), "[p" + std::to_string(i) + ".png]");
        // Ids are handed out afresh; the stored ones do not come back.
        EXPECT_EQ(loaded.idAt(i), i + 1);
    }
    const auto& markers = other.context().markers().all();
    ASSERT_EQ(markers.size(), 2u);
    EXPECT_EQ(markers[0].number, 3);
    EXPECT_EQ(markers[0].time, 2 * kSecond);
    EXPECT_EQ(markers[1].time, 5 * kSecond);
    EXPECT_EQ(loaded.backgroundColour(), (Project::Colour{33, 128, 254, 255}));
    EXPECT_DOUBLE_EQ(loaded.vAspRatio(), 16.0 / 9.0);
    EXPECT_EQ(loaded.assumedWidth(), 1280);
    EXPECT_EQ(loaded.currentSceneId(), -1);
}

TEST_F(ProjectFileTest, TwelveScenesKeepTheirOwnStartTimes) {
    // In store order "SceneStartTime10" comes before "SceneStartTime2".
    project.deleteScene(0, false);
    for (int i = 0; i < 12; ++i) {
        ASSERT_GE(project.addScene({}, i * 4 * kSecond, (5 + (i % 3)) * kSecond), 0);
    }
    std::vector<TickTime> starts, lengths;
    for (int i = 0; i < 12; ++i) {
        starts.push_back(project.startAt(i));
        lengths.push_back(project.sceneAt(i)->length());
    }
    const std::string path = file("twelve.mzp");
    ASSERT_TRUE(doc.save(path));
    test::TestDocument other;
    ASSERT_TRUE(other.open(path));
    ASSERT_EQ(other.context().project().sceneCount(), 12);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(other.context().project().startAt(i), starts[i]) << i;
        EXPECT_EQ(other.context().project().sceneAt(i)->length(), lengths[i]) << i;
    }
}

TEST_F(ProjectFileTest, EveryBackgroundByteComesBack) {
    const std::string path = file("colour.mzp");
    for (int v = 0; v < 256; v += 3) {
        const Project::Colour colour{static_cast<std::uint8_t>(v),
                                     static_cast<std::uint8_t>(std::min(v + 1, 255)),
                                     static_cast<std::uint8_t>(std::min(v + 2, 255)), 255};
        project.setBackgroundColour(colour, 1);
        ASSERT_TRUE(doc.save(path));
        test::TestDocument other;
        ASSERT_TRUE(other.open(path));
        ASSERT_EQ(other.context().project().backgroundColour(), colour) << v;
    }
}

TEST_F(ProjectFileTest, NoFileGivesANewProject) {
    makeScenes(2);
    ASSERT_TRUE(doc.context().addMarker(-1, kSecond, 0));
    EXPECT_TRUE(doc.open(file("absent.mzp")));
    EXPECT_EQ(project.sceneCount(), 1);
    EXPECT_EQ(project.sceneAt(0)->id(), 0);
    EXPECT_TRUE(doc.context().markers().all().empty());
}

TEST_F(ProjectFileTest, AFailedSaveLeavesTheOldFileUntouched) {
    makeScenes(3);
    const std::string path = file("keep.mzp");
    ASSERT_TRUE(doc.save(path));
    const auto before = test::readFile(path);
    ASSERT_FALSE(before.empty());

    // Half-way through a cancel from the progress display.
    ASSERT_NE(project.sceneAt(0)->setKeyAtTime(PosY, 0.5f,
                                               valueKey(0.1f, 0.5f, InterpolationMode::Linear)),
              0);
    struct CancelAtSecondScene : ProgressReporter {
        int calls = 0;
        void refresh() override {
            if (++calls == 2) {
                cancel();
            }
        }
    } progress;
    progress.begin("save");
    EXPECT_FALSE(doc.save(path, &progress));
    EXPECT_EQ(test::readFile(path), before);

    // A disk that fills up while the pictures are written.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 20'000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = doc.save(path);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(saved);
    EXPECT_EQ(errors.code(), 6206u);
    EXPECT_EQ(test::readFile(path), before);
    EXPECT_FALSE(std::filesystem::exists(path + "tmp"));
}

TEST_F(ProjectFileTest, ASceneNodeWithoutItsRenderSettingsReports6205) {
    makeScenes(1);
    MemoryStorage store;
    store.open();
    StoreKeyPtr node = RefusingKey::wrap(store.root(), "PzRenderSettings");
    SoundTrack sound;
    ProjectFile::Options options;
    std::shared_ptr<detail::EmbeddedSource> source;
    MemoryStorage metaData;
    metaData.open();
    detail::NestedProjects nested;
    std::vector<ProjectFile::PictureProblem> problems;
    detail::ProjectFileParts parts{doc.context(), sound,  options, source,
                                   metaData,      nested, problems};
    detail::ProjectSaver saver(parts, file("x.mzp"), nullptr);
    errors.clear();
    EXPECT_FALSE(saver.writeSceneNode(*node, *project.sceneAt(0)));
    EXPECT_EQ(errors.code(), 6205u);
    // Any other child that cannot be made is 6206, "Could not save project file".
    errors.clear();
    StoreKeyPtr other = RefusingKey::wrap(store.root(), "PzKeyframes");
    EXPECT_FALSE(saver.writeSceneNode(*other, *project.sceneAt(0)));
    EXPECT_EQ(errors.code(), 6206u);
}

TEST_F(ProjectFileTest, NotEnoughFreeSpaceRefusesTheSaveAndTheLoad) {
    // Five scenes count 5 × 262,400 bytes besides their pictures: twice 1 MB is needed.
    makeScenes(5);
    const std::string path = file("space.mzp");
    doc.freeMegabytes = 1;
    EXPECT_FALSE(doc.save(path));
    EXPECT_EQ(errors.code(), 6219u);
    EXPECT_FALSE(std::filesystem::exists(path));
    errors.clear();
    doc.freeMegabytes = std::nullopt;
    ASSERT_TRUE(doc.save(path));
    test::TestDocument other;
    other.freeMegabytes = 50;
    EXPECT_FALSE(other.open(path));
    EXPECT_EQ(other.context().errors().code(), 6219u);
}

TEST_F(ProjectFileTest, SoundEmbeddedOpensAfterItsFileIsGone) {
    const std::string sound = file("tune.wav");
    test::writeSound(sound, 2.0);
    ASSERT_TRUE(doc.sound().open(sound).ok());
    ASSERT_TRUE(doc.sound().setTimes(kSecond / 4, kSecond, kSecond / 10, kSecond / 5));
    const SoundSettings settings = doc.sound().settings();
    const std::string path = file("sound.mzp");
    ASSERT_TRUE(doc.save(path));
    std::filesystem::remove(sound);

    test::TestDocument other;
    ASSERT_TRUE(other.open(path));
    EXPECT_TRUE(other.sound().isPresent());
    EXPECT_TRUE(other.sound().isEmbedded());
    EXPECT_EQ(other.sound().settings(), settings);
    // Saved again, the name stays the file's own name.
    ASSERT_TRUE(other.save(path));
    test::TestDocument third;
    ASSERT_TRUE(third.open(path));
    EXPECT_EQ(third.sound().fileName(), sound);
    EXPECT_EQ(third.sound().displayName(), "[tune.wav]");
}

TEST_F(ProjectFileTest, AMissingSoundIsAskedForAndGivingUpLeavesNoSound) {
    const std::string sound = file("tune.wav");
    test::writeSound(sound, 1.0);
    ASSERT_TRUE(doc.sound().open(sound).ok());
    doc.setEmbed(false);
    const std::string path = file("nosound.mzp");
    ASSERT_TRUE(doc.save(path));
    std::filesystem::rename(sound, file("moved.wav"));

    struct SoundHooks : HostHooks {
        std::string answer;
        int asked = 0;
        std::int32_t askForMissingSound(const std::string&, std::string& path) override {
            ++asked;
            path = answer;
            answer.clear();
            return 1;
        }
    } hooks;
    hooks.answer = file("moved.wav");
    test::TestDocument other;
    other.context().setHooks(&hooks);
    ASSERT_TRUE(other.open(path));
    EXPECT_EQ(hooks.asked, 1);
    EXPECT_EQ(other.sound().fileName(), file("moved.wav"));
    std::filesystem::remove(file("moved.wav"));
    other.context().errors().clear();
    ASSERT_TRUE(other.open(path));
    EXPECT_EQ(hooks.asked, 2);
    EXPECT_FALSE(other.sound().isPresent());
    // The project opens; the record says which sound was lost.
    EXPECT_EQ(other.context().errors().code(), 6218u);
    EXPECT_NE(other.context().errors().text().find("tune.wav"), std::string::npos);
    other.context().setHooks(nullptr);
}

TEST_F(ProjectFileTest, MetaDataIsKeptAcrossLoadAndSave) {
    const std::string path = file("meta.mzp");
    ASSERT_TRUE(doc.save(path));
    {
        // Another program's data in the file.
        FileStorage storage;
        ASSERT_TRUE(storage.open(path, FileStorage::kOpenExisting));
        StoreKeyPtr meta = storage.root()->createPath("MetaData\\Author");
        ASSERT_TRUE(meta->setString("Name", "Ada"));
        ASSERT_TRUE(meta->setInt64("Stamp", 1234567890123));
        meta.reset();
        ASSERT_TRUE(storage.close());
    }
    ASSERT_TRUE(doc.open(path));
    ASSERT_TRUE(doc.save(file("meta2.mzp")));
    test::TestDocument other;
    ASSERT_TRUE(other.open(file("meta2.mzp")));
    StoreKeyPtr author = other.file().metaData()->openChild("Author");
    ASSERT_TRUE(author);
    EXPECT_EQ(author->readString("Name"), "Ada");
    EXPECT_EQ(author->getInt64("Stamp", 0), 1234567890123);
}

}  // namespace
}  // namespace pm
