#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/ChangeHub.h"
#include "core/ErrorInfo.h"
#include "core/HostHooks.h"
#include "core/KeyframeRandom.h"
#include "core/MarkerList.h"
#include "core/MotionContext.h"
#include "core/MotionTables.h"
#include "core/Project.h"

namespace pm {

class ChangeListener;
class ScenePicture;

// Everything one open project is: the project with its scenes, the shared parameter tables, the
// markers, the error record and the change hub through which every change is announced to the
// views. One per program.
class ProjectContext : public ChangeHub, public MotionContext {
public:
    using PictureFactory = std::function<std::unique_ptr<ScenePicture>()>;

    ProjectContext();
    ~ProjectContext() override;
    ProjectContext(const ProjectContext&) = delete;
    ProjectContext& operator=(const ProjectContext&) = delete;

    // Fills the tables from the string table, resets the project and seeds the generator of
    // default motion. Returns false when a step fails.
    bool initialise(bool addDefaultScene = true);

    Project& project() { return *m_project; }
    const Project& project() const { return *m_project; }
    ErrorInfo& errors() { return m_errors; }
    MotionTables& tables() { return m_tables; }
    const MarkerList& markers() const { return m_markers; }

    // The shell's hooks; the defaults serve a program without windows.
    HostHooks& hooks() { return *m_hooks; }
    void setHooks(HostHooks* hooks) { m_hooks = hooks ? hooks : &m_defaultHooks; }
    // Makes the pictures of new scenes; the default makes the built-in picture only.
    void setPictureFactory(PictureFactory factory);
    std::unique_ptr<ScenePicture> makePicture() const;
    // Told of each scene added with its picture loaded (the picture cache, which decides what
    // stays in memory); null for nobody.
    using PictureAddedHook = std::function<void(int sceneId)>;
    void setPictureAddedHook(PictureAddedHook hook) { m_pictureAdded = std::move(hook); }
    void pictureAdded(int sceneId) const {
        if (m_pictureAdded) {
            m_pictureAdded(sceneId);
        }
    }

    // ChangeHub.
    std::int32_t notify(std::uint32_t code, ChangeArgument argument) override;
    void beginBatch(bool collect) override;
    void endBatch(bool quiet) override;
    int batchDepth() const { return m_batchDepth; }
    // Views, told of changes from the last registered to the first.
    void addListener(ChangeListener* listener);
    void removeListener(ChangeListener* listener);

    // MotionContext.
    ChangeHub& changeHub() override { return *this; }
    const MotionTables& motionTables() const override { return m_tables; }
    KeyframeRandom& keyframeRandom() override { return m_random; }
    void applySceneLength(SceneMotion& scene, TickTime length) override;

    // Raw edits suspend reflow (loading, undo, wizards, dragging overlaps); the outermost end
    // closes the gaps left behind.
    void beginRawEdit();
    void endRawEdit();
    bool reflow() const { return m_reflow; }

    // Markers, in the scope of the whole project (scene id -1) or of one scene.
    MarkerList::Scope markerScope(int sceneId) const;
    bool addMarker(int sceneId, TickTime time, std::int32_t number);
    bool deleteMarker(int sceneId, int index);
    bool moveMarker(int sceneId, TickTime from, TickTime to);
    int nearestMarker(int sceneId, TickTime time) const;
    int markerCount(int sceneId) const;
    bool marker(int sceneId, int index, Marker& out) const;
    void clearMarkers();

private:
    std::int32_t broadcast(std::uint32_t code, ChangeArgument argument);
    void collect(std::uint32_t code, ChangeArgument argument);
    void deliverCollected();

    ErrorInfo m_errors;
    MotionTables m_tables;
    KeyframeRandom m_random;
    MarkerList m_markers;
    HostHooks m_defaultHooks;
    HostHooks* m_hooks = &m_defaultHooks;
    PictureFactory m_pictureFactory;
    PictureAddedHook m_pictureAdded;
    std::vector<ChangeListener*> m_listeners;

    int m_batchDepth = 0;
    bool m_collect = false;
    struct Collected {
        bool projectReplaced = false;
        bool currentScene = false;
        std::uint32_t project = 0;
        std::uint32_t scene = 0;
        std::array<std::uint32_t, 4> keys{};
        std::optional<TickTime> markerTime;
    } m_collected;

    bool m_reflow = true;
    int m_rawEditDepth = 0;

    // Last: scenes refer back to everything above while they are destroyed.
    std::unique_ptr<Project> m_project;
};

}  // namespace pm
