#pragma once

#include <array>

#include "core/EditorContext.h"
#include "core/KeyframeTrack.h"
#include "core/MotionGeometry.h"
#include "core/MotionParameter.h"
#include "core/TickTime.h"

namespace pm {

class MotionContext;

// The motion of one scene: ten tracks, the scene length, the editor cursor and the default mode
// of new keys. Every keyframe edit of the editor goes through here so that group locks, change
// notifications and batching are applied the same way everywhere.
//
// A scene is bound to its context for life and its tracks point back at it, so it is neither
// copied nor moved; scenes of a project are held by pointer.
class SceneMotion : public EditorContext {
public:
    inline static constexpr TickTime kDefaultLength = 135'000'000;  // 5 s

    explicit SceneMotion(MotionContext& context);
    ~SceneMotion() override = default;
    SceneMotion(const SceneMotion&) = delete;
    SceneMotion& operator=(const SceneMotion&) = delete;

    // Copies the context's parameter table into the tracks (smoothing, ranges, defaults).
    void takeParameterInfo();

    // EditorContext: the tracks ask their own scene.
    InterpolationMode defaultInterpolationMode() const override { return m_defaultMode; }
    TickTime editorLength() const override { return m_length; }
    void setDefaultInterpolationMode(InterpolationMode mode) { m_defaultMode = mode; }

    TickTime length() const { return m_length; }
    // Stores the length, clamped to the scene limits. Keys are normalized, so they stretch with
    // it. Later scenes follow only when the change goes through the context (applySceneLength).
    void setLength(TickTime length);
    bool modified() const { return m_modified; }
    void setModified(bool modified) { m_modified = modified; }

    const KeyframeTrack& track(int parameter) const { return m_tracks.at(parameter); }
    int keyCount(int parameter) const;
    float evaluate(int parameter, float t) const;
    // All ten values at one time, in parameter order.
    std::array<float, kParameterCount> evaluateAll(float t) const;
    bool getKey(int parameter, int index, KeyframeDesc& out) const;
    bool nearestKey(int parameter, float t, float& distance, int& index) const;

    // 2 when a key was added, 1 when an existing key (within 1e-6 of t) was modified, 0 on failure.
    int setKeyAtTime(int parameter, float t, KeyframeDesc desc);
    // Adds a key as a file stored it: every field taken as given and the neighbours' tangents
    // kept, so stored tangents come back exactly. No group locks, no notification.
    bool addStoredKey(int parameter, const KeyframeDesc& desc);
    bool deleteKey(int parameter, int index);
    void deleteAllKeys();

    bool selectKey(int parameter, int index);
    bool unselectKey(int parameter, int index);
    void unselectAll();

    float cursor() const { return m_cursor; }
    bool setCursor(float t);

    // True when no track has a key after t (and t is not 0): the scene may be cropped there.
    bool keysEndBefore(float t) const;
    // Shortens the scene to its cursor, keeping keys at their absolute times; the cursor ends at 1.
    bool cropToCursor();
    // Inserts `duration` ticks at normalized position x; keys keep their distance to the nearer
    // end.
    bool insertTime(TickTime duration, float x);
    // Copies the position smoothing of the table into the position tracks and recomputes their
    // automatic tangents.
    void recalculatePositionPath();

    // What applyDefaultKeyframes() puts in place of all keys.
    enum class DefaultKeys : int {
        AtStart = 0,        // the defaults at the start
        AtStartAndEnd = 1,  // the defaults at the start and at the end
        SlightMotion = 2,   // a slow pan or zoom chosen at random for the picture's shape
    };
    bool applyDefaultKeyframes(DefaultKeys kind);
    // Keys the reset values of a group at the cursor. 2 when any key was added, 1 when keys were
    // only modified, 0 on failure.
    int resetGroupAtCursor(int group);
    // Keys the pose that shows the whole picture at time t.
    bool addFullscreenKeyframe(float t);

    // Picture and frame figures for generated motion; a scene with a picture supplies its own.
    virtual MotionGeometry motionGeometry() const { return m_geometry; }
    void setMotionGeometry(const MotionGeometry& geometry) { m_geometry = geometry; }

    MotionContext& context() const { return m_context; }

private:
    int setKeyInternal(int parameter, float t, KeyframeDesc desc, bool applyLocks);
    bool setValueKey(int parameter, float t, float value, std::uint32_t mask,
                     int* result = nullptr);
    void notify(std::uint32_t code, unsigned bits);
    void generateHorizontalPan(const MotionGeometry& g);
    void generateVerticalPan(const MotionGeometry& g);
    void generateZoom(const MotionGeometry& g);

    MotionContext& m_context;
    std::array<KeyframeTrack, kParameterCount> m_tracks;
    TickTime m_length = kDefaultLength;
    InterpolationMode m_defaultMode = InterpolationMode::Spline;
    float m_cursor = 0.0f;
    bool m_modified = false;
    MotionGeometry m_geometry;
};

}  // namespace pm
