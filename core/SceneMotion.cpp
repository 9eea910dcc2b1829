#include "core/SceneMotion.h"

#include <algorithm>
#include <cmath>

#include "core/ChangeHub.h"
#include "core/KeyframeRandom.h"
#include "core/MotionContext.h"
#include "core/MotionTables.h"
#include "core/SplineSolver.h"

namespace pm {

namespace {

// The mask that decides which "keys changed" notification a set-key sends.
std::uint32_t changeCodeForMask(std::uint32_t callerMask) {
    switch (callerMask) {
        case KF_VALUE:
            return kChangeKeyValues;
        case KF_TANGENT:
            return kChangeKeyTangents;
        case KF_MODE:
            return kChangeKeyModes;
        default:
            return kChangeKeys;
    }
}

unsigned bitOf(int parameter) {
    return 1u << parameter;
}

// The editor's unselect-all and path recalculation announce this mask rather than all ten bits.
constexpr unsigned kAllKeysNotice = 255;

}  // namespace

SceneMotion::SceneMotion(MotionContext& context) : m_context(context) {
    for (auto& track : m_tracks) {
        track.setEditorContext(this);
    }
    takeParameterInfo();
}

void SceneMotion::takeParameterInfo() {
    const MotionTables& tables = m_context.motionTables();
    for (int p = 0; p < kParameterCount; ++p) {
        m_tracks[p].setParameterInfo(tables.parameter(p));
    }
}

void SceneMotion::setLength(TickTime length) {
    m_length = std::clamp(length, kMinSceneLength, kMaxSceneLength);
}

int SceneMotion::keyCount(int parameter) const {
    return isValidParameter(parameter) ? m_tracks[parameter].count() : 0;
}

float SceneMotion::evaluate(int parameter, float t) const {
    return isValidParameter(parameter) ? m_tracks[parameter].evaluate(t) : 0.0f;
}

std::array<float, kParameterCount> SceneMotion::evaluateAll(float t) const {
    std::array<float, kParameterCount> values{};
    std::array<KeyframeTrack::Lookup, kParameterCount> found;
    std::array<const Cubic*, kParameterCount> curves{};
    std::array<float, kParameterCount> targets{};
    std::array<float, kParameterCount> solved{};
    std::array<int, kParameterCount> owner{};
    std::size_t pending = 0;
    for (int p = 0; p < kParameterCount; ++p) {
        found[p] = m_tracks[p].locate(t);
        values[p] = found[p].value;
        if (found[p].spline) {
            curves[pending] = &found[p].spline->timeCubic;
            targets[pending] = found[p].t;
            owner[pending] = p;
            ++pending;
        }
    }
    solveSplineTimes(std::span(curves.data(), pending), std::span(targets.data(), pending),
                     std::span(solved.data(), pending));
    for (std::size_t i = 0; i < pending; ++i) {
        const int p = owner[i];
        values[p] = m_tracks[p].valueOnSpline(*found[p].spline, solved[i]);
    }
    return values;
}

bool SceneMotion::getKey(int parameter, int index, KeyframeDesc& out) const {
    return isValidParameter(parameter) && m_tracks[parameter].get(index, out);
}

bool SceneMotion::nearestKey(int parameter, float t, float& distance, int& index) const {
    return isValidParameter(parameter) && m_tracks[parameter].nearest(t, distance, index);
}

void SceneMotion::notify(std::uint32_t code, unsigned bits) {
    m_context.changeHub().notify(code, static_cast<ChangeArgument>(bits));
}

int SceneMotion::setKeyAtTime(int parameter, float t, KeyframeDesc desc) {
    if (!isValidParameter(parameter)) {
        return 0;
    }
    return setKeyInternal(parameter, t, desc, true);
}

int SceneMotion::setKeyInternal(int parameter, float t, KeyframeDesc desc, bool applyLocks) {
    const std::uint32_t callerMask = desc.mask;
    std::uint32_t mask = desc.effectiveMask();
    if (!(t >= 0.0f) || ((mask & KF_TIME) && desc.time < 0.0f)) {
        return 0;
    }
    if ((mask & KF_TIME) == 0) {
        mask |= KF_TIME;
        desc.time = t;
    }
    desc.mask = mask;
    m_modified = true;

    ChangeBatch batch(m_context.changeHub());
    KeyframeTrack& track = m_tracks[parameter];
    float distance = 0.0f;
    int index = 0;
    int result = 0;
    if (track.nearest(t, distance, index) && distance == 0.0f) {
        // Keys that already exist are changed in place; the group lock is not consulted.
        result = track.modify(index, desc) ? 1 : 0;
    } else if (track.add(desc)) {
        result = 2;
        if (applyLocks) {
            // Locked companions get a key holding their current value, so the group's pose at this
            // time is pinned. They are keyed without re-entering the lock expansion: re-keying
            // the parameter just set from its own curve would overwrite the caller's value where
            // a Constant segment looks ahead to the next key.
            const MotionTables::Range range = m_context.motionTables().lockedRange(parameter);
            for (int q = range.first; q < range.first + range.count; ++q) {
                if (q == parameter) {
                    continue;
                }
                const KeyframeTrack& other = m_tracks[q];
                KeyframeDesc companion;
                companion.value =
                    std::clamp(other.evaluate(desc.time), other.minimum(), other.maximum());
                companion.time = desc.time;
                companion.mask = KF_VALUE | KF_TIME;
                setKeyInternal(q, desc.time, companion, false);
            }
        }
    }
    if (result != 0) {
        notify(changeCodeForMask(callerMask), bitOf(parameter));
    }
    return result;
}

bool SceneMotion::setValueKey(int parameter, float t, float value, std::uint32_t mask,
                              int* result) {
    KeyframeDesc desc;
    desc.value = value;
    desc.time = t;
    desc.mode = InterpolationMode::Spline;
    desc.mask = mask;
    const int r = setKeyAtTime(parameter, t, desc);
    if (result) {
        *result = std::max(*result, r);
    }
    return r != 0;
}

bool SceneMotion::addStoredKey(int parameter, const KeyframeDesc& desc) {
    if (!isValidParameter(parameter)) {
        return false;
    }
    KeyframeDesc stored = desc;
    stored.mask = KF_ALL_FIELDS | KF_KEEP_NEIGHBOURS;
    stored.selected = 0;
    if (!m_tracks[parameter].add(stored)) {
        return false;
    }
    m_modified = true;
    return true;
}

bool SceneMotion::deleteKey(int parameter, int index) {
    if (!isValidParameter(parameter)) {
        return false;
    }
    m_modified = true;
    KeyframeTrack& track = m_tracks[parameter];
    if (!track.remove(index)) {
        return false;
    }
    // The key before now leads into a different segment; a tangent the user shaped for the old
    // one would only distort the new one.
    if (index > 0) {
        track.clearUserTangent(index - 1);
    }
    notify(kChangeKeys, bitOf(parameter));
    return true;
}

void SceneMotion::deleteAllKeys() {
    m_modified = true;
    ChangeBatch batch(m_context.changeHub());
    for (int p = 0; p < kParameterCount; ++p) {
        while (m_tracks[p].count() > 0) {
            deleteKey(p, 0);
        }
    }
}

bool SceneMotion::selectKey(int parameter, int index) {
    return isValidParameter(parameter) && m_tracks[parameter].select(index);
}

bool SceneMotion::unselectKey(int parameter, int index) {
    if (!isValidParameter(parameter) || !m_tracks[parameter].unselect(index)) {
        return false;
    }
    notify(kChangeKeys, bitOf(parameter));
    return true;
}

void SceneMotion::unselectAll() {
    for (auto& track : m_tracks) {
        track.unselectAll();
    }
    notify(kChangeKeys, kAllKeysNotice);
}

bool SceneMotion::setCursor(float t) {
    if (!(t >= 0.0f && t <= 1.0f)) {
        return false;
    }
    if (t != m_cursor) {
        m_cursor = t;
        m_context.changeHub().notify(kChangeCursor, reinterpret_cast<ChangeArgument>(&m_cursor));
    }
    return true;
}

bool SceneMotion::keysEndBefore(float t) const {
    if (t == 0.0f) {
        return false;
    }
    return std::none_of(m_tracks.begin(), m_tracks.end(), [t](const KeyframeTrack& track) {
        return track.count() > 0 && track.keys().back().time > t;
    });
}

bool SceneMotion::cropToCursor() {
    const float c = m_cursor;
    if (c >= 1.0f) {
        return true;
    }
    if (!keysEndBefore(c)) {
        return false;
    }
    m_modified = true;
    {
        ChangeBatch batch(m_context.changeHub());
        for (int p = 0; p < kParameterCount; ++p) {
            KeyframeTrack& track = m_tracks[p];
            // From the last key back, so every key moves into free time.
            for (int k = track.count() - 1; k >= 0; --k) {
                KeyframeDesc desc;
                desc.time = std::min(track.keys()[k].time / c, 1.0f);
                desc.mask = KF_TIME;
                track.modify(k, desc);
            }
            if (track.count() > 0) {
                notify(kChangeKeys, bitOf(p));
            }
        }
        const double seconds = ticksToSeconds(m_length) * static_cast<double>(c);
        m_context.applySceneLength(*this, secondsToTicks(seconds));
    }
    setCursor(1.0f);
    return true;
}

bool SceneMotion::insertTime(TickTime duration, float x) {
    // Removing time would make the keys on either side of x cross; that is not a re-timing.
    if (duration < 0 || !(x >= 0.0f && x <= 1.0f)) {
        return false;
    }
    if (duration == 0) {
        return true;
    }
    m_modified = true;
    ChangeBatch batch(m_context.changeHub());
    const double oldSeconds = ticksToSeconds(m_length);
    m_context.applySceneLength(*this, m_length + duration);
    // The scene table may have clamped the length; the keys follow the length it really has.
    const double newSeconds = ticksToSeconds(m_length);
    unsigned changed = 0;
    for (int p = 0; p < kParameterCount; ++p) {
        KeyframeTrack& track = m_tracks[p];
        KeyframeDesc desc;
        desc.mask = KF_TIME;
        for (int k = track.count() - 1; k >= 0 && track.keys()[k].time > x; --k) {
            const double time = track.keys()[k].time;
            desc.time = static_cast<float>((newSeconds - (1.0 - time) * oldSeconds) / newSeconds);
            track.modify(k, desc);
            changed |= bitOf(p);
        }
        for (int k = 0; k < track.count() && track.keys()[k].time <= x; ++k) {
            const double time = track.keys()[k].time;
            desc.time = static_cast<float>(time * oldSeconds / newSeconds);
            track.modify(k, desc);
            changed |= bitOf(p);
        }
    }
    if (changed != 0) {
        notify(kChangeKeys, changed);
    }
    return true;
}

void SceneMotion::recalculatePositionPath() {
    // New tangents are new motion: the next undo step must keep them.
    m_modified = true;
    const MotionTables& tables = m_context.motionTables();
    for (int p : {PosX, PosY}) {
        m_tracks[p].setSmoothing(tables.parameter(p).smoothing);
        m_tracks[p].recomputeAll();
    }
    notify(kChangeKeyTangents, kAllKeysNotice);
}

bool SceneMotion::applyDefaultKeyframes(DefaultKeys kind) {
    if (kind != DefaultKeys::AtStart && kind != DefaultKeys::AtStartAndEnd &&
        kind != DefaultKeys::SlightMotion) {
        return false;
    }
    ChangeBatch batch(m_context.changeHub());
    deleteAllKeys();
    KeyframeDesc defaults;
    defaults.mode = InterpolationMode::Spline;
    defaults.mask = KF_MODE;
    bool ok = true;
    for (int p = 0; p < kParameterCount; ++p) {
        ok = setKeyAtTime(p, 0.0f, defaults) != 0 && ok;
        if (kind == DefaultKeys::AtStartAndEnd) {
            ok = setKeyAtTime(p, 1.0f, defaults) != 0 && ok;
        }
    }
    if (kind == DefaultKeys::SlightMotion) {
        const MotionGeometry g = motionGeometry();
        if (!(g.imageWidth > 0.0 && g.imageHeight > 0.0 && g.vAspRatio > 0.0)) {
            return false;
        }
        const double q = g.vAspRatio / (g.imageWidth / g.imageHeight);
        if (q < 0.75) {
            generateHorizontalPan(g);
        } else if (q < 1.3334) {
            generateZoom(g);
        } else {
            generateVerticalPan(g);
        }
    }
    return ok;
}

void SceneMotion::generateHorizontalPan(const MotionGeometry& g) {
    KeyframeRandom& random = m_context.keyframeRandom();
    constexpr std::uint32_t mask = KF_VALUE | KF_TIME | KF_MODE;
    const double c = g.imageWidth / g.imageHeight;
    const double a = g.vAspRatio;
    const double direction = random.next() < 0.5 ? -1.0 : 1.0;
    // The picture's height fills the frame; the pan covers part of the width left over.
    const double scale = g.scaleForZoom(g.assumedWidth / (g.vAspRatio * g.imageHeight));
    const double e = (0.6 * random.next() + 0.2) * (c - a) * (0.499 / c);
    setValueKey(Scale, 0.0f, static_cast<float>(scale), mask);
    setValueKey(PosX, 0.0f, static_cast<float>(0.5 + e * direction), mask);
    setValueKey(PosY, 0.0f, 0.5f, mask);
    setValueKey(PosX, 1.0f, static_cast<float>(0.5 - e * direction), mask);
    setValueKey(PosY, 1.0f, 0.5f, mask);
}

void SceneMotion::generateVerticalPan(const MotionGeometry& g) {
    KeyframeRandom& random = m_context.keyframeRandom();
    constexpr std::uint32_t mask = KF_VALUE | KF_TIME | KF_MODE;
    const double c = g.imageHeight / g.imageWidth;
    const double a = 1.0 / g.vAspRatio;
    const double direction = random.next() < 0.5 ? -1.0 : 1.0;
    // The picture's width fills the frame; the pan covers part of the height left over.
    const double scale = g.scaleForZoom(g.assumedWidth / g.imageWidth);
    const double e = (0.6 * random.next() + 0.2) * (c - a) * (0.499 / c);
    setValueKey(Scale, 0.0f, static_cast<float>(scale), mask);
    setValueKey(PosX, 0.0f, 0.5f, mask);
    setValueKey(PosY, 0.0f, static_cast<float>(0.5 + e * direction), mask);
    setValueKey(PosX, 1.0f, 0.5f, mask);
    setValueKey(PosY, 1.0f, static_cast<float>(0.5 - e * direction), mask);
}

void SceneMotion::generateZoom(const MotionGeometry& g) {
    KeyframeRandom& random = m_context.keyframeRandom();
    constexpr std::uint32_t mask = KF_VALUE | KF_TIME | KF_MODE;
    const double aspect = g.imageHeight / g.imageWidth;
    const bool wholeFirst = random.next() < 0.5;
    const double f = 0.8 * random.next() + 0.2;
    const double closeScale = aspect * (0.08 * f + 1.05);
    const double closeX = (0.06 - 0.12 * random.next()) * f + 0.5;
    const double closeY = (0.06 - 0.12 * random.next()) * f + 0.5;
    // Half of the close-ups get a slight turn, sized by the same draw that decided it.
    const double r = random.next();
    const double closeAngle = r > 0.5 ? r * f * 0.03 : 0.0;

    const auto keyWhole = [&](float t) {
        setValueKey(PosX, t, 0.5f, mask);
        setValueKey(PosY, t, 0.5f, mask);
        setValueKey(Scale, t, static_cast<float>(aspect), mask);
        setValueKey(Angle, t, 0.0f, mask);
    };
    const auto keyClose = [&](float t) {
        setValueKey(PosX, t, static_cast<float>(closeX), mask);
        setValueKey(PosY, t, static_cast<float>(closeY), mask);
        setValueKey(Scale, t, static_cast<float>(closeScale), mask);
        setValueKey(Angle, t, static_cast<float>(closeAngle), mask);
    };
    if (wholeFirst) {
        keyWhole(0.0f);
        keyClose(1.0f);
    } else {
        keyClose(0.0f);
        keyWhole(1.0f);
    }
}

int SceneMotion::resetGroupAtCursor(int group) {
    if (group < 0 || group >= kGroupCount) {
        return 0;
    }
    const float t = m_cursor;
    const MotionGeometry g = motionGeometry();
    int result = 0;
    ChangeBatch batch(m_context.changeHub());
    const auto set = [&](int p, double value) {
        setValueKey(p, t, static_cast<float>(value), KF_VALUE, &result);
    };
    const auto position = [&] {
        set(PosX, 0.5);
        set(PosY, 0.5);
    };
    const auto scale = [&] { set(Scale, g.scaleForZoom(1.0)); };
    const auto camera = [&] {
        set(CamAngleA, 0.0);
        set(CamAngleB, 0.0);
        set(Angle, 0.0);
        set(CamDist, 80.0);
    };
    const auto anchor = [&] {
        set(OffX, 0.0);
        set(OffY, 0.0);
    };
    const auto filters = [&] { set(Blur, 0.0); };
    switch (group) {
        case GroupAll:
            position();
            scale();
            camera();
            set(CamDist, 80.0);
            anchor();
            filters();
            break;
        case GroupPosition:
            position();
            break;
        case GroupScale:
            scale();
            break;
        case GroupCamera:
            camera();
            break;
        case GroupAnchorPoint:
            anchor();
            break;
        default:
            filters();
            break;
    }
    return result;
}

bool SceneMotion::addFullscreenKeyframe(float t) {
    const MotionGeometry g = motionGeometry();
    constexpr std::uint32_t mask = KF_VALUE | KF_TIME;
    ChangeBatch batch(m_context.changeHub());
    bool ok = true;
    const auto set = [&](int p, double value) {
        ok = setValueKey(p, t, static_cast<float>(value), mask) && ok;
    };
    set(PosX, 0.5);
    set(PosY, 0.5);
    set(Scale, g.imageHeight / g.imageWidth);
    set(Angle, 0.0);
    set(CamAngleA, 0.0);
    set(CamAngleB, 0.0);
    set(OffX, 0.0);
    set(OffY, 0.0);
    return ok;
}

}  // namespace pm
