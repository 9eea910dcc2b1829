#include "core/ProjectContext.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "core/ChangeListener.h"
#include "core/DefaultScenePicture.h"

namespace pm {

namespace {

constexpr std::uint32_t kLastBatchedCode = 0x0FFFFFFF;
constexpr TickTime kMarkerGrip = 27'000;  // 0.001 s

}  // namespace

ProjectContext::ProjectContext() : m_project(std::make_unique<Project>(*this)) {}

ProjectContext::~ProjectContext() {
    m_project.reset();
}

bool ProjectContext::initialise(bool addDefaultScene) {
    m_random.seedFromClock();
    m_markers.clear();
    m_project->setAddDefaultScene(addDefaultScene);
    m_project->reset();
    m_project->current().setCursor(0.0f);
    return true;
}

void ProjectContext::setPictureFactory(PictureFactory factory) {
    m_pictureFactory = std::move(factory);
}

std::unique_ptr<ScenePicture> ProjectContext::makePicture() const {
    if (m_pictureFactory) {
        if (auto picture = m_pictureFactory()) {
            return picture;
        }
    }
    return std::make_unique<DefaultScenePicture>();
}

std::int32_t ProjectContext::notify(std::uint32_t code, ChangeArgument argument) {
    if (m_batchDepth > 0 && code <= kLastBatchedCode) {
        if (m_collect) {
            collect(code, argument);
        }
        return 0;
    }
    return broadcast(code, argument);
}

std::int32_t ProjectContext::broadcast(std::uint32_t code, ChangeArgument argument) {
    // The project keeps its own derived state first, so every listener sees it current.
    if (code >= kChangeProjectReplaced && code <= kChangeCurrentScene) {
        if (code != kChangeScene) {
            m_project->refresh();
        } else {
            m_project->clearLookupCache();
        }
    }
    if (const std::int32_t answer = m_hooks->onNotification(code, argument)) {
        return answer;
    }
    // A listener may leave (or others join) while it is being told; only those registered
    // throughout are called.
    const std::vector<ChangeListener*> listeners = m_listeners;
    for (auto it = listeners.rbegin(); it != listeners.rend(); ++it) {
        if (std::find(m_listeners.begin(), m_listeners.end(), *it) == m_listeners.end()) {
            continue;
        }
        if (const std::int32_t answer = (*it)->onChange(code, argument)) {
            return answer;
        }
    }
    return 0;
}

void ProjectContext::collect(std::uint32_t code, ChangeArgument argument) {
    const auto bits = static_cast<std::uint32_t>(argument);
    switch (code) {
        case kChangeProjectReplaced:
            m_collected.projectReplaced = true;
            break;
        case kChangeCurrentScene:
            m_collected.currentScene = true;
            break;
        case kChangeProject:
            m_collected.project |= bits;
            break;
        case kChangeScene:
            m_collected.scene |= bits;
            break;
        case kChangeKeyValues:
        case kChangeKeyTangents:
        case kChangeKeys:
        case kChangeKeyModes:
            m_collected.keys[code - kChangeKeyValues] |= bits;
            break;
        case kChangeMarkers: {
            const TickTime time =
                argument ? *reinterpret_cast<const TickTime*>(argument) : TickTime{-1};
            if (!m_collected.markerTime) {
                m_collected.markerTime = time;
            } else if (*m_collected.markerTime != time) {
                m_collected.markerTime = -1;
            }
            break;
        }
        default:
            // Cursor moves and state changes inside a batch are not delivered.
            break;
    }
}

void ProjectContext::beginBatch(bool collectChanges) {
    if (m_batchDepth++ == 0) {
        m_collect = collectChanges;
    }
}

void ProjectContext::endBatch(bool quiet) {
    if (m_batchDepth == 0 || --m_batchDepth > 0) {
        return;
    }
    const Collected collected = std::exchange(m_collected, Collected{});
    const bool collecting = std::exchange(m_collect, false);
    if (quiet) {
        return;
    }
    if (!collecting) {
        broadcast(kChangeProject, 3);
        return;
    }
    if (collected.projectReplaced) {
        broadcast(kChangeProjectReplaced, 0);
    }
    if (collected.project) {
        broadcast(kChangeProject, collected.project);
    }
    if (collected.scene) {
        broadcast(kChangeScene, collected.scene);
    }
    for (std::uint32_t i = 0; i < collected.keys.size(); ++i) {
        if (collected.keys[i]) {
            broadcast(kChangeKeyValues + i, collected.keys[i]);
        }
    }
    if (collected.markerTime) {
        TickTime time = *collected.markerTime;
        broadcast(kChangeMarkers, reinterpret_cast<ChangeArgument>(&time));
    }
    if (collected.currentScene) {
        broadcast(kChangeCurrentScene, 0);
    }
}

void ProjectContext::addListener(ChangeListener* listener) {
    if (listener &&
        std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end()) {
        m_listeners.push_back(listener);
    }
}

void ProjectContext::removeListener(ChangeListener* listener) {
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener),
                      m_listeners.end());
}

void ProjectContext::applySceneLength(SceneMotion& scene, TickTime length) {
    if (&scene == m_project.get()) {
        m_project->setProjectLength(length);
        return;
    }
    const auto& table = m_project->table();
    for (int i = 0; i < static_cast<int>(table.size()); ++i) {
        if (table[i].scene.get() == &scene) {
            m_project->setSceneLength(i, length, m_reflow);
            return;
        }
    }
    // A scene outside the table (being built) has nobody to shift.
    scene.setLength(length);
}

void ProjectContext::beginRawEdit() {
    m_reflow = false;
    ++m_rawEditDepth;
}

void ProjectContext::endRawEdit() {
    if (m_rawEditDepth == 0 || --m_rawEditDepth > 0) {
        return;
    }
    m_reflow = true;
    m_project->closeGaps();
}

MarkerList::Scope ProjectContext::markerScope(int sceneId) const {
    const int index = m_project->indexOf(sceneId);
    if (sceneId < 0 || index < 0) {
        return MarkerList::wholeProject();
    }
    return MarkerList::span(m_project->startAt(index), m_project->endAt(index));
}

bool ProjectContext::addMarker(int sceneId, TickTime time, std::int32_t number) {
    TickTime absolute = 0;
    if (!m_markers.add(markerScope(sceneId), time, number, &absolute)) {
        return false;
    }
    notify(kChangeMarkers, reinterpret_cast<ChangeArgument>(&absolute));
    return true;
}

bool ProjectContext::deleteMarker(int sceneId, int index) {
    TickTime absolute = 0;
    if (!m_markers.remove(markerScope(sceneId), index, &absolute)) {
        return false;
    }
    notify(kChangeMarkers, reinterpret_cast<ChangeArgument>(&absolute));
    return true;
}

bool ProjectContext::moveMarker(int sceneId, TickTime from, TickTime to) {
    const MarkerList::Scope scope = markerScope(sceneId);
    const int index = m_markers.nearest(scope, from);
    Marker found;
    if (index < 0 || !m_markers.get(scope, index, found) ||
        std::llabs(found.time - from) > kMarkerGrip) {
        return false;
    }
    ChangeBatch batch(*this);
    return deleteMarker(sceneId, index) && addMarker(sceneId, to, found.number);
}

int ProjectContext::nearestMarker(int sceneId, TickTime time) const {
    return m_markers.nearest(markerScope(sceneId), time);
}

int ProjectContext::markerCount(int sceneId) const {
    return m_markers.count(markerScope(sceneId));
}

bool ProjectContext::marker(int sceneId, int index, Marker& out) const {
    return m_markers.get(markerScope(sceneId), index, out);
}

void ProjectContext::clearMarkers() {
    m_markers.clear();
    TickTime all = -1;
    notify(kChangeMarkers, reinterpret_cast<ChangeArgument>(&all));
}

}  // namespace pm
