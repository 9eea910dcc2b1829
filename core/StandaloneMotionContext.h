#pragma once

#include "core/ChangeHub.h"
#include "core/KeyframeRandom.h"
#include "core/MotionContext.h"
#include "core/MotionTables.h"

namespace pm {

// A motion context for scenes that live outside a project (previews of templates, tools, tests):
// its own tables, no listeners unless a hub is given, and lengths set directly on the scene.
class StandaloneMotionContext : public MotionContext {
public:
    StandaloneMotionContext();
    explicit StandaloneMotionContext(ChangeHub& hub);
    StandaloneMotionContext(const StandaloneMotionContext&) = delete;
    StandaloneMotionContext& operator=(const StandaloneMotionContext&) = delete;

    ChangeHub& changeHub() override { return *m_hub; }
    const MotionTables& motionTables() const override { return m_tables; }
    MotionTables& tables() { return m_tables; }
    KeyframeRandom& keyframeRandom() override { return m_random; }
    void applySceneLength(SceneMotion& scene, TickTime length) override;

private:
    class SilentHub : public ChangeHub {
    public:
        std::int32_t notify(std::uint32_t, ChangeArgument) override { return 0; }
        void beginBatch(bool) override {}
        void endBatch(bool) override {}
    };

    SilentHub m_silent;
    ChangeHub* m_hub;
    MotionTables m_tables;
    KeyframeRandom m_random;
};

}  // namespace pm
