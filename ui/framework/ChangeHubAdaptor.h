#pragma once

#include <QObject>
#include <cstdint>

#include "core/ChangeListener.h"

namespace pm {
class ProjectContext;
}

namespace pm::ui {

// The one place in the editor that reads the change hub's codes: it listens to a project and
// turns each broadcast into a typed signal. Lives on the user-interface thread, as edits do.
class ChangeHubAdaptor : public QObject, private ChangeListener {
    Q_OBJECT
public:
    explicit ChangeHubAdaptor(ProjectContext& context, QObject* parent = nullptr);
    ~ChangeHubAdaptor() override;
    ChangeHubAdaptor(const ChangeHubAdaptor&) = delete;
    ChangeHubAdaptor& operator=(const ChangeHubAdaptor&) = delete;

signals:
    void projectReplaced();
    void projectChanged();
    void sceneChanged();
    void currentSceneChanged();
    void cursorMoved(float time);
    // `parameters` is the bit mask of the motion parameters whose keys changed.
    void keysChanged(unsigned parameters);
    void markersChanged();
    // After every broadcast, whatever it was: commands refresh their states.
    void changed();

private:
    std::int32_t onChange(std::uint32_t code, ChangeArgument argument) override;

    ProjectContext& m_context;
};

}  // namespace pm::ui
