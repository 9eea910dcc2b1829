#pragma once

#include <QMainWindow>
#include <map>
#include <memory>
#include <vector>

#include "ui/framework/CommandRouter.h"
#include "ui/framework/MessageWord.h"
#include "ui/shell/LayoutStore.h"
#include "ui/shell/RecentProjects.h"

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QToolBar;

namespace pm {
class AppRegistry;
}

namespace pm::ui {

class ChangeHubAdaptor;
class CPanZoomDoc;
class PaneView;

// The editor's main window: the menus and keys of every command, five toolbars, five docking
// panes, the status bar, and the file commands of the document. Commands go through the router:
// the pane with the focus, then the panes in order, then this frame.
class CMainFrame : public QMainWindow, public CommandTarget {
    Q_OBJECT
public:
    // Layouts are kept in `registry`'s user file.
    CMainFrame(CPanZoomDoc& document, AppRegistry& registry, QWidget* parent = nullptr);
    ~CMainFrame() override;

    QAction* action(int id) const;
    const CommandRouter& router() const { return m_router; }
    // Opens a project after asking to save the open one's changes; false when not opened.
    bool openProject(const QString& path);

    std::optional<CommandState> commandState(int id) const override;
    bool runCommand(int id) override;

    // Refreshes the enabled and checked states and the texts that follow the project.
    void refreshCommands();

    // Layouts. Once the window shows: keeps the factory arrangement and brings back the user's.
    void startLayouts();
    bool saveLayout(const std::string& section);
    // False (and nothing changed) when the section holds no layout that reads back.
    bool loadLayout(const std::string& section);
    // Keeps the current layout as a named custom one and lists it in the Window menu.
    bool addLayout(const QString& name);
    bool deleteLayout(int index);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createToolBars();
    void createPanes();
    void createStatusBar();
    QToolBar* toolBar(int id, const QString& objectName, const QString& caption,
                      const std::vector<int>& commands);
    QWidget* barOf(int id) const;
    // Asks whether to save unsaved changes: false when the user cancels (or the save fails).
    bool maybeSave();
    bool saveProject(bool askForName);
    void showError(const QString& text);
    void updateCaption();
    void rebuildLayoutMenu();
    void chooseLayoutToDelete();
    void rebuildRecentMenu();
    // Opens without asking about the open project's changes (the caller has).
    bool openChecked(const QString& path);
    LayoutStore::Layout currentLayout() const;
    // Asks whether the current layout may be replaced.
    bool mayReplaceLayout();

    CPanZoomDoc& m_document;
    std::unique_ptr<ChangeHubAdaptor> m_changes;
    CommandRouter m_router;
    std::map<int, QAction*> m_actions;
    std::map<int, QWidget*> m_bars;
    std::vector<PaneView*> m_panes;
    std::vector<QLabel*> m_statusPanes;
    LayoutStore m_layouts;
    MessageMemory m_messages;
    // Whether Reset Messages has answers to forget; read once and after each change.
    bool m_messagesKept = false;
    RecentProjects m_recent;
    QMenu* m_fileMenu = nullptr;
    std::vector<QAction*> m_recentItems;
    QMenu* m_windowMenu = nullptr;
    std::vector<QAction*> m_customLayouts;
};

}  // namespace pm::ui
