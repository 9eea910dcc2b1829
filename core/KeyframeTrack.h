#pragma once

#include <vector>

#include "core/EditorContext.h"
#include "core/Keyframe.h"
#include "core/KeyframeDesc.h"
#include "core/ParameterInfo.h"

namespace pm {

// The animation of one motion parameter: keys at strictly increasing normalized times in [0, 1],
// joined by Constant, Linear or Hermite spline segments. Operations return true on success and
// leave the track unchanged when they fail.
class KeyframeTrack {
public:
    KeyframeTrack() = default;
    explicit KeyframeTrack(const ParameterInfo& info, const EditorContext* context = nullptr);

    // Takes over range, default, smoothing and the logarithmic flag. Existing keys keep their
    // stored values; call recomputeAll() when the smoothing should reach their tangents.
    void setParameterInfo(const ParameterInfo& info);
    void setSmoothing(float smoothing) { m_smoothing = smoothing; }
    // Without a context, keys outside the range are Spline and Constant segments hold exactly.
    void setEditorContext(const EditorContext* context) { m_context = context; }

    int count() const { return static_cast<int>(m_keys.size()); }
    bool add(const KeyframeDesc& desc);
    bool modify(int index, const KeyframeDesc& desc);
    bool remove(int index);
    bool get(int index, KeyframeDesc& out) const;
    // The key nearest to t; a distance below 1e-6 comes back as exactly 0. Fails outside [0, 1].
    bool nearest(float t, float& distance, int& index) const;
    float evaluate(float t) const;

    // Evaluation in two halves, for callers that evaluate many tracks at one time and solve the
    // spline segments side by side: locate() gives the value, or the segment whose time curve
    // must be solved at `t` first; valueOnSpline() finishes such a segment at the solved s.
    struct Lookup {
        float value = 0.0f;
        const Keyframe* spline = nullptr;
        float t = 0.0f;
    };
    Lookup locate(float t) const;
    float valueOnSpline(const Keyframe& segment, float s) const;

    bool select(int index);
    bool unselect(int index);
    void unselectAll();
    bool isSelected(int index) const;

    bool clearUserTangent(int index);
    void recomputeAll();

    float minimum() const { return m_minimum; }
    float maximum() const { return m_maximum; }
    float defaultValue() const { return m_default; }
    float smoothing() const { return m_smoothing; }
    bool logarithmic() const { return m_logarithmic; }
    // Stored keys, for views that draw curves; values are in stored units.
    const std::vector<Keyframe>& keys() const { return m_keys; }

private:
    int insertionIndex(float t) const;
    bool inRange(float userValue) const;
    float toStored(float userValue) const;
    float toUser(float storedValue) const;
    float constantLookAhead() const;
    InterpolationMode defaultMode() const;
    void computeAutoTangent(int index);
    void buildSegment(int index);
    void recomputeNeighbourhood(int index, bool keepNeighbours);

    std::vector<Keyframe> m_keys;
    const EditorContext* m_context = nullptr;
    float m_minimum = 0.0f;
    float m_maximum = 1.0f;
    float m_default = 0.0f;
    float m_smoothing = 60.0f;
    bool m_logarithmic = false;
};

}  // namespace pm
