#include "core/Project.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <utility>

#include "core/ChangeHub.h"
#include "core/MessageIds.h"
#include "core/ProjectContext.h"

namespace pm {

namespace {

constexpr double kNearStart = 0.001;    // seconds: inserting within this of a start goes before it
constexpr double kLookupMargin = 0.01;  // seconds: a scene gives way this long before its end
constexpr TickTime kOneMillisecond = 27'000;

double seconds(TickTime t) {
    return ticksToSeconds(t);
}

TickTime scaled(TickTime t, double factor) {
    return secondsToTicks(seconds(t) * factor);
}

}  // namespace

Project::Project(ProjectContext& context)
    : Scene(context, -1, context.makePicture()), m_context(context), m_current(this) {
    setLength(kEmptyProjectLength);
}

Project::~Project() {
    // Scenes go first: they may still look at the project while they are destroyed.
    std::vector<SceneEntry> doomed;
    {
        const auto lock = lockTableUnpinned(-1);
        doomed.swap(m_table);
    }
}

Scene* Project::pinScene(int id) {
    const auto lock = lockTable();
    Scene* scene = sceneById(id);
    if (scene != nullptr) {
        m_pins.push_back(id);
    }
    return scene;
}

void Project::unpinScene(int id) {
    const auto lock = lockTable();
    if (const auto it = std::find(m_pins.begin(), m_pins.end(), id); it != m_pins.end()) {
        m_pins.erase(it);
    }
}

std::unique_lock<std::mutex> Project::lockTableUnpinned(int id) {
    // A pin lasts one picture load at most; the loader never waits for this thread.
    constexpr auto kPoll = std::chrono::milliseconds(2);
    for (;;) {
        auto lock = lockTable();
        const bool pinned =
            id < 0 ? !m_pins.empty() : std::find(m_pins.begin(), m_pins.end(), id) != m_pins.end();
        if (!pinned) {
            return lock;
        }
        lock.unlock();
        std::this_thread::sleep_for(kPoll);
    }
}

Scene* Project::sceneAt(int index) const {
    return index >= 0 && index < sceneCount() ? m_table[index].scene.get() : nullptr;
}

Scene* Project::sceneById(int id) const {
    return sceneAt(indexOf(id));
}

int Project::indexOf(int id) const {
    for (int i = 0; i < sceneCount(); ++i) {
        if (m_table[i].scene->id() == id) {
            return i;
        }
    }
    return -1;
}

int Project::idAt(int index) const {
    const Scene* scene = sceneAt(index);
    return scene ? scene->id() : -1;
}

TickTime Project::startOf(int id) const {
    const int i = indexOf(id);
    return i < 0 ? 0 : m_table[i].start;
}

TickTime Project::lengthOf(int id) const {
    const int i = indexOf(id);
    return i < 0 ? projectLength() : m_table[i].scene->length();
}

TickTime Project::startAt(int index) const {
    return m_table.at(index).start;
}

TickTime Project::endAt(int index) const {
    return m_table.at(index).start + m_table.at(index).scene->length();
}

int Project::defaultOutputWidth() const {
    return m_assumedWidth >= 16 ? m_assumedWidth : 1280;
}

int Project::defaultOutputHeight() const {
    const double aspect = m_vAspRatio > 0.0 ? m_vAspRatio : 4.0 / 3.0;
    return static_cast<int>(defaultOutputWidth() / aspect + 0.5);
}

TickTime Project::projectLength() const {
    return m_table.empty() ? kEmptyProjectLength : endAt(sceneCount() - 1);
}

TickTime Project::overlapAfter(int index) const {
    if (index < 0 || index + 1 >= sceneCount()) {
        return 0;
    }
    return std::max<TickTime>(0, endAt(index) - startAt(index + 1));
}

void Project::sortTable() {
    // Stable, so scenes with equal starts keep their order.
    const auto lock = lockTable();
    std::stable_sort(m_table.begin(), m_table.end(),
                     [](const SceneEntry& a, const SceneEntry& b) { return a.start < b.start; });
}

void Project::refresh() {
    sortTable();
    setLength(projectLength());
    clearLookupCache();
}

void Project::clearLookupCache() const {
    std::lock_guard lock(m_lookupMutex);
    m_lookupValid = false;
}

void Project::shiftFrom(int index, TickTime delta) {
    for (int j = std::max(index, 0); j < sceneCount(); ++j) {
        m_table[j].start += delta;
    }
}

void Project::moveStartsOf(int firstIndex, TickTime newStartOfFirst) {
    shiftFrom(firstIndex, newStartOfFirst - startAt(firstIndex));
}

bool Project::setStartRaw(int index, TickTime start) {
    if (index < 0 || index >= sceneCount()) {
        return false;
    }
    m_table[index].start = start;
    return true;
}

void Project::notifyTable() {
    m_context.notify(kChangeProject, 2);
}

void Project::selectScene(int id) {
    Scene* scene = sceneById(id);
    m_currentId = scene ? id : -1;
    m_current = scene ? scene : static_cast<Scene*>(this);
    const bool opened = m_context.batchDepth() == 0;
    if (opened) {
        m_context.beginBatch(true);
    }
    // Set away from 0 and back, so that the views hear of the cursor even when it was at 0.
    m_current->setCursor(0.001f);
    m_context.notify(kChangeCurrentScene, 3);
    if (opened) {
        m_context.endBatch(false);
    }
    m_current->setCursor(0.0f);
}

int Project::addScene(const std::string& imagePath, TickTime start, TickTime length, int givenId,
                      ProgressReporter* progress) {
    if (!canAddScene(givenId)) {
        return -1;
    }
    ErrorInfo& errors = m_context.errors();
    ChangeBatch batch(m_context);
    std::unique_ptr<ScenePicture> picture = m_context.makePicture();
    const bool hadFailure = errors.hasFailure();
    bool loaded = false;
    {
        // Project frames read the table that grows here, whichever object is current.
        RendererGate::EditGuard project(rendererGate());
        RendererGate::EditGuard edit(m_current->rendererGate());
        loaded = picture->load(imagePath, progress, errors) || imagePath.empty();
    }
    if (!loaded) {
        // Say what was refused first, then why.
        const std::string reason = hadFailure ? std::string() : errors.text();
        if (!hadFailure) {
            errors.clear();
        }
        errors.report(msg::kSceneNotAdded, {textArg(imagePath)}, reason);
        notifyTable();
        return -1;
    }
    if (imagePath.empty()) {
        errors.clear();
    }
    return placeScene(std::move(picture), start, length, givenId);
}

int Project::addLoadedScene(std::unique_ptr<ScenePicture> picture, TickTime start,
                            TickTime length) {
    if (!picture || !canAddScene(-1)) {
        return -1;
    }
    ChangeBatch batch(m_context);
    return placeScene(std::move(picture), start, length, -1);
}

bool Project::canAddScene(int givenId) {
    ErrorInfo& errors = m_context.errors();
    if (sceneCount() >= kMaxScenes) {
        errors.report(msg::kMaxScenesExceeded, {textArg(kMaxScenes)});
        return false;
    }
    // Ids name scenes in files and undo steps; two scenes with one id would be confused for ever.
    if (givenId >= 0 && indexOf(givenId) >= 0) {
        errors.report(msg::kInternalError | ErrorInfo::kSerious, {},
                      "Scene id " + std::to_string(givenId) + " is already in use.");
        return false;
    }
    return true;
}

int Project::placeScene(std::unique_ptr<ScenePicture> picture, TickTime start, TickTime length,
                        int givenId) {
    int id = givenId;
    {
        RendererGate::EditGuard project(rendererGate());
        RendererGate::EditGuard edit(m_current->rendererGate());
        auto scene = std::make_unique<Scene>(m_context, givenId, std::move(picture));
        m_current->setCursor(0.0f);
        if (id < 0) {
            id = m_nextId++;
        } else if (id >= m_nextId) {
            m_nextId = id + 1;
        }
        scene->setId(id);
        scene->setLength(length);
        Scene* added = scene.get();
        {
            const auto lock = lockTable();
            m_table.push_back({std::move(scene), 0, 0});
        }
        sortTable();
        const int index = indexOf(id);
        setStartRaw(index, start);
        sortTable();
        m_table[indexOf(id)].memoryEstimate = added->picture().memoryEstimate();
        refresh();
    }
    notifyTable();
    // The picture cache may keep the new picture, or let older ones go to make room for it.
    m_context.pictureAdded(id);
    return id;
}

int Project::insertSceneAt(TickTime time, const std::string& imagePath, TickTime length,
                           ProgressReporter* progress) {
    return insertWith(time, length, [&](TickTime start, TickTime clamped) {
        return addScene(imagePath, start, clamped, -1, progress);
    });
}

int Project::insertLoadedSceneAt(TickTime time, std::unique_ptr<ScenePicture> picture,
                                 TickTime length) {
    return insertWith(time, length, [&](TickTime start, TickTime clamped) {
        return addLoadedScene(std::move(picture), start, clamped);
    });
}

int Project::insertWith(TickTime time, TickTime length,
                        const std::function<int(TickTime start, TickTime length)>& add) {
    if (sceneCount() >= kMaxScenes) {
        m_context.errors().report(msg::kMaxScenesExceeded, {textArg(kMaxScenes)});
        return -1;
    }
    length = std::clamp(length, kMinSceneLength, kMaxSceneLength);
    const int n = sceneCount();
    ChangeBatch batch(m_context);

    // The new scene goes after scene `after`; -1 puts it first.
    int after = n - 1;
    if (n > 0) {
        const double total = seconds(projectLength());
        const double t = seconds(time);
        const double x = total > 0.0 ? t / total : 0.0;
        if (x < 1e-6) {
            after = -1;
        } else {
            double previous = 0.0;
            for (int i = 0; i < n; ++i) {
                // The first scene counts as starting at 0.
                const double distance = std::fabs(t - (i == 0 ? 0.0 : seconds(startAt(i))));
                if (distance < kNearStart) {
                    after = i - 1;
                    break;
                }
                if (i > 0 && !(distance < previous)) {
                    after = i - 2;
                    break;
                }
                previous = distance;
            }
        }
    }

    std::vector<TickTime> savedStarts;
    for (const SceneEntry& e : m_table) {
        savedStarts.push_back(e.start);
    }
    TickTime start = 0;
    if (n > 0) {
        if (after < 0) {
            const TickTime r =
                std::min({m_defaultOverlap, length / 2, m_table.front().scene->length() / 2});
            shiftFrom(0, length - r);
            start = 0;
        } else if (after == n - 1) {
            const TickTime r = std::min(m_defaultOverlap, m_table.back().scene->length() / 2);
            start = endAt(n - 1) - r;
        } else {
            const TickTime overlap = overlapAfter(after);
            const TickTime r = std::min(overlap, m_table[after].scene->length() / 2);
            shiftFrom(after + 1, length - overlap);
            start = endAt(after) - r;
        }
    }
    const int id = add(start, length);
    if (id < 0) {
        for (int i = 0; i < n; ++i) {
            m_table[i].start = savedStarts[i];
        }
        refresh();
    }
    return id;
}

int Project::copyScene(int sourceId, TickTime time, ProgressReporter* progress) {
    Scene* source = sceneById(sourceId);
    if (!source) {
        return -1;
    }
    int id = -1;
    {
        ChangeBatch batch(m_context);
        id = insertSceneAt(time, std::string(), source->length(), progress);
        Scene* copy = sceneById(id);
        if (!copy) {
            return -1;
        }
        {
            RendererGate::EditGuard edit(copy->rendererGate());
            copy->picture().copyFrom(source->picture(), progress, m_context.errors());
        }
        m_table[indexOf(id)].memoryEstimate = copy->picture().memoryEstimate();
        // Keys go over one by one so tangents are recomputed for the copy and the locks apply.
        for (int p = 0; p < kParameterCount; ++p) {
            for (int k = 0; k < source->keyCount(p); ++k) {
                KeyframeDesc desc;
                source->getKey(p, k, desc);
                desc.mask = KF_VALUE | KF_TIME | KF_MODE;
                copy->setKeyAtTime(p, desc.time, desc);
            }
        }
    }
    notifyTable();
    return id;
}

bool Project::replacePicture(int id, const std::string& imagePath, ProgressReporter* progress) {
    Scene* scene = sceneById(id);
    if (!scene) {
        return false;
    }
    bool ok = false;
    {
        RendererGate::EditGuard edit(scene->rendererGate());
        ok = scene->picture().load(imagePath, progress, m_context.errors());
    }
    m_table[indexOf(id)].memoryEstimate = scene->picture().memoryEstimate();
    if (ok) {
        m_context.notify(kChangeScene, 1);
    }
    return ok;
}

bool Project::deleteScene(int index, bool closeGap) {
    Scene* scene = sceneAt(index);
    if (!scene) {
        return false;
    }
    ChangeBatch batch(m_context);
    const int id = scene->id();
    if (closeGap) {
        if (m_currentId == id) {
            const int other = id == 0 ? 1 : 0;
            selectScene(indexOf(other) >= 0 ? other : -1);
        }
        if (index + 1 < sceneCount()) {
            const TickTime keep =
                std::max(index > 0 ? overlapAfter(index - 1) : 0, overlapAfter(index));
            shiftFrom(index + 1, -(scene->length() - keep));
        }
    }
    if (m_currentId == id) {
        selectScene(index + 1 < sceneCount() ? idAt(index + 1) : index > 0 ? idAt(index - 1) : -1);
    }
    // Taken out of the table before it is destroyed, so nothing finds it half gone.
    std::unique_ptr<Scene> doomed;
    {
        const auto lock = lockTableUnpinned(id);
        doomed = std::move(m_table[index].scene);
        m_table.erase(m_table.begin() + index);
    }
    doomed.reset();
    refresh();
    notifyTable();
    return true;
}

bool Project::moveSceneAfter(int a, int b) {
    const int n = sceneCount();
    if (a < 0 || a >= n || b < -1 || b >= n) {
        return false;
    }
    if (b == a || b == a - 1) {
        return true;
    }
    ChangeBatch batch(m_context);
    const TickTime lengthA = m_table[a].scene->length();
    TickTime lead = b < 0 ? 0 : (b == n - 1 ? m_defaultOverlap : overlapAfter(b));
    TickTime trail = a == n - 1 ? m_defaultOverlap : overlapAfter(a);
    TickTime gap = a > 0 ? overlapAfter(a - 1) : 0;
    lead = std::min(lead, lengthA / 2);
    trail = std::min(trail, lengthA / 2);
    if (b + 1 < n && trail > m_table[b + 1].scene->length()) {
        trail = m_table[b + 1].scene->length() / 2;
    }
    if (a + 1 < n && gap > m_table[a + 1].scene->length()) {
        gap = m_table[a + 1].scene->length() / 2;
    }
    const auto endOfB = [&] { return b < 0 ? 0 : endAt(b); };
    if (b + 1 < n) {
        moveStartsOf(b + 1, endOfB() - lead + lengthA - trail);
    }
    if (a + 1 < n) {
        moveStartsOf(a + 1, (a > 0 ? endAt(a - 1) : 0) - gap);
    }
    m_table[a].start = b < 0 ? 0 : endOfB() - lead;
    refresh();
    notifyTable();
    return true;
}

bool Project::setSceneStart(int index, TickTime start, bool reflow) {
    if (index < 0 || index >= sceneCount()) {
        return false;
    }
    ChangeBatch batch(m_context);
    if (!reflow) {
        setStartRaw(index, start);
        refresh();
        notifyTable();
        return true;
    }
    if (index == 0 && start <= 0) {
        // The first scene starts the project; it cannot start before 0.
        moveStartsOf(0, 0);
    } else if (index > 0 && start >= startAt(index - 1) + m_table[index - 1].scene->length() / 2 &&
               start <= endAt(index - 1)) {
        moveStartsOf(index, start);
    } else {
        if (start < startAt(0) + m_table[0].scene->length() / 2) {
            return moveSceneAfter(index, -1);
        }
        int k = -1;
        for (int j = 0; j < sceneCount(); ++j) {
            if (j != index && startAt(j) + kOneMillisecond <= start) {
                k = j;
            }
        }
        // Moved back onto the first half of an earlier scene, the scene goes before it; moved
        // forward past a later scene's start, it goes after that scene.
        if (k >= 0 && k < index && start < startAt(k) + m_table[k].scene->length() / 2) {
            --k;
        }
        return moveSceneAfter(index, k);
    }
    refresh();
    notifyTable();
    return true;
}

bool Project::setSceneLength(int index, TickTime length, bool shiftFollowers) {
    Scene* scene = sceneAt(index);
    if (!scene) {
        return false;
    }
    length = std::clamp(length, kMinSceneLength, kMaxSceneLength);
    const TickTime old = scene->length();
    ChangeBatch batch(m_context);
    if (shiftFollowers && length != old) {
        // Followers keep their distance to this scene's end, but never start before this scene:
        // that would reorder the storyboard.
        TickTime delta = length - old;
        if (index + 1 < sceneCount()) {
            delta = std::max(delta, startAt(index) - startAt(index + 1));
        }
        shiftFrom(index + 1, delta);
    }
    scene->setLength(length);
    scene->setLengthModified(true);
    refresh();
    if (length != old) {
        m_context.notify(kChangeScene, 4);
        if (shiftFollowers) {
            notifyTable();
        }
    }
    return true;
}

bool Project::setProjectLength(TickTime length) {
    if (m_currentId != -1 || m_table.empty()) {
        return false;
    }
    const double factor = seconds(length) / seconds(projectLength());
    if (!(factor > 0.0) || !std::isfinite(factor)) {
        return false;
    }
    ChangeBatch batch(m_context);
    for (SceneEntry& e : m_table) {
        e.start = scaled(e.start, factor);
        e.scene->setLength(scaled(e.scene->length(), factor));
        e.scene->setLengthModified(true);
    }
    refresh();
    notifyTable();
    return true;
}

void Project::closeGaps() {
    bool moved = false;
    for (int i = 0; i + 1 < sceneCount(); ++i) {
        const TickTime gap = startAt(i + 1) - endAt(i);
        if (gap > 0) {
            shiftFrom(i + 1, -gap);
            moved = true;
        }
    }
    refresh();
    if (moved) {
        notifyTable();
    }
}

SceneAtTime Project::sceneAtTime(double t) const {
    SceneAtTime at;
    const int n = sceneCount();
    const double total = seconds(projectLength());
    const double time = t * total;
    int index = -1;
    {
        std::lock_guard lock(m_lookupMutex);
        if (m_lookupValid && t > m_lookupFrom && t < m_lookupTo) {
            index = m_lookupIndex;
        } else {
            double earlierEnd = -1e300;
            for (int i = 0; i < n; ++i) {
                const double start = seconds(startAt(i));
                const double end = seconds(endAt(i));
                // The margin lets the next scene take over just before a scene ends; the scene
                // that ends the project has no next one and shows until the very end.
                const bool endsProject = endAt(i) == projectLength();
                const double until = endsProject ? end : end - kLookupMargin;
                if (start - kLookupMargin < time &&
                    (time < until || (endsProject && time <= end))) {
                    index = i;
                    // The same scene answers from where it starts (or an earlier scene gives way)
                    // until just before its end.
                    if (total > 0.0) {
                        m_lookupFrom = (std::max(start, earlierEnd) - kLookupMargin) / total;
                        m_lookupTo = until / total;
                        m_lookupIndex = i;
                        m_lookupValid = true;
                    }
                    break;
                }
                earlierEnd = std::max(earlierEnd, end);
            }
        }
    }
    if (index < 0 || index >= n) {
        return at;
    }
    const Scene& scene = *m_table[index].scene;
    const double start = seconds(startAt(index));
    const double length = seconds(scene.length());
    at.index = index;
    at.id = scene.id();
    at.sceneTime = static_cast<float>(std::clamp((time - start) / length, 0.0, 1.0));
    if (index + 1 < n) {
        const double nextStart = seconds(startAt(index + 1));
        if (time - nextStart > 1e-6) {
            const Scene& next = *m_table[index + 1].scene;
            at.inTransition = true;
            at.nextIndex = index + 1;
            at.nextId = next.id();
            at.nextSceneTime = static_cast<float>(
                std::clamp((time - nextStart) / seconds(next.length()), 0.0, 1.0));
            const double span = seconds(endAt(index)) - nextStart;
            const double x = span > 0.0 ? (time - nextStart) / span : 1.0;
            at.weight4096 = std::clamp(static_cast<int>(std::floor(x * 4096.0)), 0, 4096);
        }
    }
    return at;
}

void Project::setBackgroundColour(Colour colour, int kind) {
    m_background = colour;
    m_backgroundKind = kind;
    m_context.notify(kChangeProject, 1);
}

void Project::setVAspRatio(double ratio) {
    m_vAspRatio = ratio;
    m_context.notify(kChangeProject, 2);
}

void Project::setAssumedWidth(int width) {
    m_assumedWidth = width;
    m_context.notify(kChangeKeys, 1u << Scale);
}

int Project::exportState() const {
    std::lock_guard lock(m_exportMutex);
    return m_exportState;
}

void Project::setExportState(int state) {
    std::lock_guard lock(m_exportMutex);
    m_exportState = state;
}

void Project::updateMemoryEstimate(int id) {
    const int index = indexOf(id);
    if (index >= 0) {
        m_table[index].memoryEstimate = m_table[index].scene->picture().memoryEstimate();
    }
}

void Project::reset() {
    ChangeBatch batch(m_context);
    m_currentId = -1;
    m_current = this;
    {
        // Destroyed outside the lock: a scene's picture may wait for its readers.
        std::vector<SceneEntry> doomed;
        {
            const auto lock = lockTableUnpinned(-1);
            doomed.swap(m_table);
        }
    }
    m_nextId = 1;
    m_assumedWidth = 720;
    if (m_addDefaultScene) {
        auto scene = std::make_unique<Scene>(m_context, 0, m_context.makePicture());
        scene->setLength(kEmptyProjectLength);
        Scene* added = scene.get();
        const std::int64_t estimate = added->picture().memoryEstimate();
        {
            const auto lock = lockTable();
            m_table.push_back({std::move(scene), estimate, 0});
        }
        added->applyDefaultKeyframes(SceneMotion::DefaultKeys::AtStart);
    }
    refresh();
    notifyTable();
}

}  // namespace pm
