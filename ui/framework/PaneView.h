#pragma once

#include <QWidget>

#include "ui/framework/CommandRouter.h"

namespace pm::ui {

class ChangeHubAdaptor;

// The base of the editing panes. A pane follows the project through the adaptor's signals
// (connected by the pane that needs them), offers itself to the command router, and until its
// own view is built shows its caption.
class PaneView : public QWidget, public CommandTarget {
    Q_OBJECT
public:
    PaneView(QString caption, ChangeHubAdaptor& changes, QWidget* parent = nullptr);

    const QString& caption() const { return m_caption; }
    ChangeHubAdaptor& changes() const { return m_changes; }

    // A pane handles no command until it says otherwise.
    std::optional<CommandState> commandState(int id) const override;
    bool runCommand(int id) override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_caption;
    ChangeHubAdaptor& m_changes;
};

}  // namespace pm::ui
