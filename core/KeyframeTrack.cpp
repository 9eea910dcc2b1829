#include "core/KeyframeTrack.h"

#include <algorithm>
#include <cmath>

#include "core/SplineSolver.h"

namespace pm {

namespace {

constexpr float kSameTime = 1e-6f;
constexpr double kHundredthSecond = static_cast<double>(kTicksPerHundredth);

// False for NaN as well.
bool validTime(float t) {
    return t >= 0.0f && t <= 1.0f;
}

}  // namespace

KeyframeTrack::KeyframeTrack(const ParameterInfo& info, const EditorContext* context)
    : m_context(context) {
    setParameterInfo(info);
}

void takeTangent(Keyframe& key, const KeyframeDesc& desc) {
    key.slope = desc.slope;
    key.inLength = desc.inLength;
    key.outLength = desc.outLength;
    key.userDefined = desc.userDefined;
}

void KeyframeTrack::setParameterInfo(const ParameterInfo& info) {
    m_minimum = info.minimum;
    m_maximum = info.maximum;
    m_default = info.defaultValue;
    m_smoothing = info.smoothing;
    m_logarithmic = info.logarithmic;
}

int KeyframeTrack::insertionIndex(float t) const {
    const auto it = std::upper_bound(m_keys.begin(), m_keys.end(), t,
                                     [](float time, const Keyframe& k) { return time < k.time; });
    return static_cast<int>(it - m_keys.begin());
}

bool KeyframeTrack::inRange(float userValue) const {
    // NaN fails this comparison too.
    return userValue == std::clamp(userValue, m_minimum, m_maximum);
}

float KeyframeTrack::toStored(float userValue) const {
    return m_logarithmic ? std::log2(userValue + 0.1f) : userValue;
}

float KeyframeTrack::toUser(float storedValue) const {
    return m_logarithmic ? std::exp2(storedValue) - 0.1f : storedValue;
}

InterpolationMode KeyframeTrack::defaultMode() const {
    return m_context ? m_context->defaultInterpolationMode() : InterpolationMode::Spline;
}

float KeyframeTrack::constantLookAhead() const {
    if (!m_context) {
        return 0.0f;
    }
    const double length = static_cast<double>(m_context->editorLength());
    // Lengths at or below a hundredth of a second would divide by zero or look backwards.
    if (length <= kHundredthSecond) {
        return 0.0f;
    }
    return static_cast<float>(0.99 / (length / kHundredthSecond - 1.0));
}

bool KeyframeTrack::add(const KeyframeDesc& desc) {
    const std::uint32_t mask = desc.effectiveMask();
    if ((mask & KF_TIME) == 0 || !validTime(desc.time)) {
        return false;
    }
    if ((mask & KF_VALUE) && !inRange(desc.value)) {
        return false;
    }
    const int i = insertionIndex(desc.time);
    if (i > 0 && m_keys[i - 1].time == desc.time) {
        return false;
    }

    Keyframe key;
    key.time = desc.time;
    key.value = toStored((mask & KF_VALUE) ? desc.value : m_default);
    if (mask & KF_TANGENT) {
        takeTangent(key, desc);
    }
    if (mask & KF_MODE) {
        key.mode = desc.mode;
    } else if (i == 0 || i == count()) {
        key.mode = defaultMode();
    } else {
        // A key splitting a segment keeps that segment's mode on both halves.
        key.mode = m_keys[i - 1].mode;
    }
    key.selected = 0;
    m_keys.insert(m_keys.begin() + i, key);
    recomputeNeighbourhood(i, (mask & KF_KEEP_NEIGHBOURS) != 0);
    return true;
}

bool KeyframeTrack::modify(int index, const KeyframeDesc& desc) {
    const std::uint32_t mask = desc.effectiveMask();
    // The time field is checked whether or not it is used.
    if (!validTime(desc.time) || index < 0 || index >= count()) {
        return false;
    }
    if ((mask & KF_VALUE) && !inRange(desc.value)) {
        return false;
    }
    const float time = (mask & KF_TIME) ? desc.time : m_keys[index].time;
    if (index > 0 && !(time > m_keys[index - 1].time)) {
        return false;
    }
    if (index + 1 < count() && !(time < m_keys[index + 1].time)) {
        return false;
    }

    Keyframe& key = m_keys[index];
    key.time = time;
    if (mask & KF_VALUE) {
        key.value = toStored(desc.value);
    }
    if (mask & KF_TANGENT) {
        takeTangent(key, desc);
    }
    if (mask & KF_MODE) {
        key.mode = desc.mode;
    }
    recomputeNeighbourhood(index, (mask & KF_KEEP_NEIGHBOURS) != 0);
    return true;
}

bool KeyframeTrack::remove(int index) {
    if (index < 0 || index >= count()) {
        return false;
    }
    m_keys.erase(m_keys.begin() + index);
    if (!m_keys.empty()) {
        recomputeNeighbourhood(index > 0 ? index - 1 : 0, false);
    }
    return true;
}

bool KeyframeTrack::get(int index, KeyframeDesc& out) const {
    if (index < 0 || index >= count()) {
        return false;
    }
    const Keyframe& key = m_keys[index];
    out.value = toUser(key.value);
    out.time = key.time;
    out.slope = key.slope;
    out.inLength = key.inLength;
    out.outLength = key.outLength;
    out.userDefined = key.userDefined;
    out.mode = key.mode;
    out.selected = key.selected;
    out.mask = KF_ALL_FIELDS;
    return true;
}

bool KeyframeTrack::nearest(float t, float& distance, int& index) const {
    if (!validTime(t)) {
        return false;
    }
    if (m_keys.empty()) {
        distance = 999.0f;
        index = 0;
        return true;
    }
    const int d = insertionIndex(t);
    if (d == 0) {
        index = 0;
        distance = m_keys.front().time - t;
    } else if (d == count()) {
        index = count() - 1;
        distance = t - m_keys.back().time;
    } else {
        const float before = t - m_keys[d - 1].time;
        const float after = m_keys[d].time - t;
        // A tie goes to the later key.
        if (before < after) {
            index = d - 1;
            distance = before;
        } else {
            index = d;
            distance = after;
        }
    }
    if (distance < kSameTime) {
        distance = 0.0f;
    }
    return true;
}

KeyframeTrack::Lookup KeyframeTrack::locate(float t) const {
    if (t < 0.0f) {
        t = 0.0f;
    }
    if (m_keys.empty()) {
        return {m_default, nullptr, t};
    }
    const int d = insertionIndex(t);
    float stored;
    if (d == 0) {
        stored = m_keys.front().value;
    } else if (d == count()) {
        stored = m_keys.back().value;
    } else {
        const Keyframe& a = m_keys[d - 1];
        if (a.mode == InterpolationMode::Spline) {
            return {0.0f, &a, t};
        }
        if (a.mode != InterpolationMode::Constant) {
            const Keyframe& b = m_keys[d];
            stored = a.value + (t - a.time) / (b.time - a.time) * (b.value - a.value);
        } else if (t <= kSameTime) {
            stored = m_keys.front().value;
        } else {
            // Switch just before the next key so a held value never shows a frame late.
            const int last = insertionIndex(t + constantLookAhead()) - 1;
            stored = m_keys[std::max(last, 0)].value;
        }
    }
    return {toUser(stored), nullptr, t};
}

float KeyframeTrack::valueOnSpline(const Keyframe& segment, float s) const {
    // Spline is the only mode that can overshoot its keys, so it alone is clamped.
    return std::clamp(toUser(segment.valueCubic.at(s)), m_minimum, m_maximum);
}

float KeyframeTrack::evaluate(float t) const {
    const Lookup found = locate(t);
    if (!found.spline) {
        return found.value;
    }
    return valueOnSpline(*found.spline, solveSplineTime(found.spline->timeCubic, found.t));
}

bool KeyframeTrack::select(int index) {
    if (index < 0 || index >= count()) {
        return false;
    }
    m_keys[index].selected = 1;
    return true;
}

bool KeyframeTrack::unselect(int index) {
    if (index < 0 || index >= count()) {
        return false;
    }
    m_keys[index].selected = 0;
    return true;
}

void KeyframeTrack::unselectAll() {
    for (auto& key : m_keys) {
        key.selected = 0;
    }
}

bool KeyframeTrack::isSelected(int index) const {
    return index >= 0 && index < count() && m_keys[index].selected == 1;
}

bool KeyframeTrack::clearUserTangent(int index) {
    if (index < 0 || index >= count()) {
        return false;
    }
    m_keys[index].userDefined = 0;
    recomputeNeighbourhood(index, false);
    return true;
}

void KeyframeTrack::recomputeAll() {
    for (int i = 0; i < count(); ++i) {
        computeAutoTangent(i);
    }
    for (int i = 0; i + 1 < count(); ++i) {
        buildSegment(i);
    }
}

void KeyframeTrack::computeAutoTangent(int i) {
    Keyframe& key = m_keys[i];
    if (key.userDefined != 0) {
        return;
    }
    const int n = count();
    const bool flat = n <= 2 || i == 0 || i == n - 1 || key.mode == InterpolationMode::Constant ||
                      m_keys[i - 1].mode == InterpolationMode::Constant;
    if (flat) {
        key.slope = 0.0f;
        key.inLength = 1.0f;
        key.outLength = 1.0f;
        return;
    }
    const Keyframe& prev = m_keys[i - 1];
    const Keyframe& next = m_keys[i + 1];
    const float dv1 = key.value - prev.value;
    const float dt1 = key.time - prev.time;
    const float s1 = dv1 / dt1;
    const float dv2 = next.value - key.value;
    const float dt2 = next.time - key.time;
    const float s2 = dv2 / dt2;
    // Extrema and flat spots get shorter tangents so the curve does not overshoot there.
    const bool extremum = (dv1 <= 0.0f && dv2 >= 0.0f) || (dv1 >= 0.0f && dv2 <= 0.0f);
    const float length = (extremum ? 0.01f : 0.02f) * m_smoothing;
    key.inLength = length;
    key.outLength = length;
    key.slope = length * (s1 + s2) * (dt1 + dt2);
}

void KeyframeTrack::buildSegment(int i) {
    Keyframe& k0 = m_keys[i];
    const Keyframe& k1 = m_keys[i + 1];
    const float dt = k1.time - k0.time;
    const float a = std::atan(k0.slope);
    const float b = std::atan(k1.slope);
    const float m0t = dt * k0.outLength * std::cos(a);
    const float m0v = dt * k0.outLength * std::sin(a);
    const float m1t = dt * k1.inLength * std::cos(b);
    const float m1v = dt * k1.inLength * std::sin(b);
    const auto hermite = [](float p0, float p1, float m0, float m1) {
        return Cubic{2.0f * p0 - 2.0f * p1 + m0 + m1, 3.0f * p1 - 3.0f * p0 - 2.0f * m0 - m1, m0,
                     p0};
    };
    k0.timeCubic = hermite(k0.time, k1.time, m0t, m1t);
    k0.valueCubic = hermite(k0.value, k1.value, m0v, m1v);
}

void KeyframeTrack::recomputeNeighbourhood(int i, bool keepNeighbours) {
    const int n = count();
    if (i < 0 || i >= n) {
        i = 0;
    }
    if (!keepNeighbours) {
        for (int j = std::max(i - 1, 0); j <= std::min(i + 1, n - 1); ++j) {
            computeAutoTangent(j);
        }
    }
    for (int j = std::max(i - 2, 0); j <= std::min(i + 1, n - 2); ++j) {
        buildSegment(j);
    }
}

}  // namespace pm
