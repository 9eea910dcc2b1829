#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/Scene.h"
#include "core/TickTime.h"

namespace pm {

class ProgressReporter;
class ProjectContext;

// One row of the scene table.
struct SceneEntry {
    std::unique_ptr<Scene> scene;
    std::int64_t memoryEstimate = 0;
    TickTime start = 0;
};

// Where a project time falls: the scene showing, and during a transition the next scene mixed in.
struct SceneAtTime {
    int index = -1;  // -1: nothing to show, background only
    int id = -1;
    float sceneTime = 0.0f;
    bool inTransition = false;
    int nextIndex = -1;
    int nextId = -1;
    float nextSceneTime = 0.0f;
    int weight4096 = 0;  // weight of the next scene, in 4096ths
};

// The project: the scenes laid out on one time axis, and the project's own settings. The project
// is itself a scene, whose tracks and cursor serve when no scene is current. All changes run on
// the user interface thread; renders read through the scenes' renderer locks.
class Project : public Scene {
public:
    static constexpr int kMaxScenes = 200;
    static constexpr TickTime kEmptyProjectLength = 135'000'000;  // 5 s
    static constexpr TickTime kDefaultOverlap = kTicksPerSecond;

    explicit Project(ProjectContext& context);
    ~Project() override;

    // Table access; an id not in the table gives index -1.
    int sceneCount() const { return static_cast<int>(m_table.size()); }
    Scene* sceneAt(int index) const;
    Scene* sceneById(int id) const;
    int indexOf(int id) const;
    int idAt(int index) const;
    const std::vector<SceneEntry>& table() const { return m_table; }

    // The picture cache works on scenes from its own threads. It reads the table under this lock
    // (the table changes shape only under it) and pins the scene whose picture it loads or frees
    // past the lock: deleting a scene waits until no one holds it pinned.
    std::unique_lock<std::mutex> lockTable() const { return std::unique_lock(m_tableMutex); }
    // The scene, pinned, or null when the id is not in the table. Takes the table lock itself.
    Scene* pinScene(int id);
    void unpinScene(int id);

    // Start 0 for an unknown id, whose length is the project length.
    TickTime startOf(int id) const;
    TickTime lengthOf(int id) const;
    TickTime endAt(int index) const;
    TickTime startAt(int index) const;
    TickTime projectLength() const;
    TickTime overlapAfter(int index) const;

    int currentSceneId() const { return m_currentId; }
    // The current scene, or the project itself when none is current.
    Scene& current() const { return *m_current; }
    void selectScene(int id);

    // Scene operations; each returns the new scene's id, or -1 (with the reason in the error
    // record).
    int insertSceneAt(TickTime time, const std::string& imagePath, TickTime length,
                      ProgressReporter* progress = nullptr);
    int addScene(const std::string& imagePath, TickTime start, TickTime length, int givenId = -1,
                 ProgressReporter* progress = nullptr);
    // The same with a picture loaded already (on another thread, say), which the scene takes.
    int insertLoadedSceneAt(TickTime time, std::unique_ptr<ScenePicture> picture, TickTime length);
    int addLoadedScene(std::unique_ptr<ScenePicture> picture, TickTime start, TickTime length);
    int copyScene(int sourceId, TickTime time, ProgressReporter* progress = nullptr);
    bool replacePicture(int id, const std::string& imagePath, ProgressReporter* progress = nullptr);

    bool deleteScene(int index, bool closeGap);
    bool moveSceneAfter(int index, int afterIndex);
    bool setSceneStart(int index, TickTime start, bool reflow);
    bool setSceneLength(int index, TickTime length, bool shiftFollowers);
    bool setProjectLength(TickTime length);
    void closeGaps();

    // `t` is a normalized project time.
    SceneAtTime sceneAtTime(double t) const;

    // Project settings.
    struct Colour {
        std::uint8_t r = 0, g = 0, b = 0, a = 255;
        bool operator==(const Colour&) const = default;
    };
    Colour backgroundColour() const { return m_background; }
    int backgroundColourKind() const { return m_backgroundKind; }
    void setBackgroundColour(Colour colour, int kind);
    double vAspRatio() const { return m_vAspRatio; }
    void setVAspRatio(double ratio);
    int assumedWidth() const { return m_assumedWidth; }
    // The size a render or a still frame gets when the user names none: the assumed width (1280
    // when it is unusable) at the display aspect.
    int defaultOutputWidth() const;
    int defaultOutputHeight() const;
    void setAssumedWidth(int width);
    TickTime defaultOverlap() const { return m_defaultOverlap; }
    void setDefaultOverlap(TickTime overlap) { m_defaultOverlap = overlap; }
    bool addDefaultScene() const { return m_addDefaultScene; }
    void setAddDefaultScene(bool add) { m_addDefaultScene = add; }
    int nextId() const { return m_nextId; }
    struct ImageMemory {
        bool limitPerScene = true;
        int limitMegabytes = 64;
    };
    ImageMemory imageMemory() const { return m_imageMemory; }
    void setImageMemory(ImageMemory memory) { m_imageMemory = memory; }

    // Non-zero while an export runs; the picture loader thread reads it.
    int exportState() const;
    void setExportState(int state);

    // Empties the project; with the add-default-scene flag one 5 s default scene (id 0) remains.
    void reset();

    // Stores the scene's memory estimate afresh from its picture.
    void updateMemoryEstimate(int id);

    // Re-derives the project's own length and the table order after start times changed.
    void refresh();
    void clearLookupCache() const;

private:
    bool canAddScene(int givenId);
    int placeScene(std::unique_ptr<ScenePicture> picture, TickTime start, TickTime length,
                   int givenId);
    // Makes room at `time` as an insert does and calls `add` with the new scene's start and
    // length; puts the other scenes back when it fails.
    int insertWith(TickTime time, TickTime length,
                   const std::function<int(TickTime start, TickTime length)>& add);

    friend class ProjectContext;

    void sortTable();
    // The table lock, taken once no pin holds the scene `id` (-1: any scene).
    std::unique_lock<std::mutex> lockTableUnpinned(int id);
    void shiftFrom(int index, TickTime delta);
    bool setStartRaw(int index, TickTime start);
    void moveStartsOf(int firstIndex, TickTime newStartOfFirst);
    void notifyTable();

    ProjectContext& m_context;
    std::vector<SceneEntry> m_table;
    mutable std::mutex m_tableMutex;
    std::vector<int> m_pins;  // ids, under the table lock
    int m_currentId = -1;
    Scene* m_current;
    int m_nextId = 1;
    Colour m_background;
    int m_backgroundKind = 1;
    double m_vAspRatio = 1.3333;
    int m_assumedWidth = 720;
    TickTime m_defaultOverlap = kDefaultOverlap;
    bool m_addDefaultScene = true;
    ImageMemory m_imageMemory;

    mutable std::mutex m_exportMutex;
    int m_exportState = 0;

    // Last result of the time lookup, as the normalized range in which it holds.
    mutable std::mutex m_lookupMutex;
    mutable bool m_lookupValid = false;
    mutable double m_lookupFrom = 0.0;
    mutable double m_lookupTo = 0.0;
    mutable int m_lookupIndex = -1;
};

}  // namespace pm
