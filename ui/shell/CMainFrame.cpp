#include "ui/shell/CMainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>

#include "ui/framework/ChangeHubAdaptor.h"
#include "ui/framework/CommandIds.h"
#include "ui/framework/CommandTable.h"
#include "ui/framework/MessageBox.h"
#include "ui/framework/PaneView.h"
#include "ui/shell/CPanZoomDoc.h"
#include "ui/shell/WindowPlacement.h"

namespace pm::ui {

namespace {

// Raised when the bars change, so that an older dock state still lets new bars appear.
constexpr int kDockStateVersion = 1;
constexpr int kCustomLayoutFirst = 33050;

const char* const kProjectFilter = "Pictomove projects (*.mzp *.MZP);;All files (*)";

// The panes in the order the router offers them commands, with their bar ids and profile names.
struct PaneInfo {
    int id;
    const char* objectName;
    const char* caption;
    Qt::DockWidgetArea area;
};
const PaneInfo kPanes[] = {
    {cmd::kPaneProject, "BarProject", "Project", Qt::BottomDockWidgetArea},
    {cmd::kShowPreview, "BarPreview", "Preview", Qt::RightDockWidgetArea},
    {cmd::kShowConfig, "BarConfig", "Configuration", Qt::RightDockWidgetArea},
    {cmd::kShowSpline, "BarSpline", "Spline Configuration", Qt::BottomDockWidgetArea},
    {cmd::kShowInfo, "BarInfo", "Info", Qt::LeftDockWidgetArea},
};

// Status bar panes: width in pixels, 0 stretching.
const int kStatusWidths[] = {0, 60, 60, 16, 100, 60, 85};
constexpr int kModePane = 5;

bool isProjectFile(const QUrl& url) {
    return url.isLocalFile() && url.toLocalFile().endsWith(".mzp", Qt::CaseInsensitive);
}

}  // namespace

CMainFrame::CMainFrame(CPanZoomDoc& document, AppRegistry& registry, QWidget* parent)
    : QMainWindow(parent),
      m_document(document),
      m_changes(std::make_unique<ChangeHubAdaptor>(document.context())),
      m_layouts(registry),
      m_messages(registry),
      m_recent(registry) {
    setObjectName("MainWindow");
    setAcceptDrops(true);
    m_router.setFrame(this);
    createActions();
    createMenus();
    createToolBars();
    createPanes();
    createStatusBar();
    rebuildLayoutMenu();
    m_messagesKept = m_messages.anyKept();
    connect(m_changes.get(), &ChangeHubAdaptor::changed, this, &CMainFrame::refreshCommands);
    connect(&m_document, &CPanZoomDoc::stateChanged, this, &CMainFrame::refreshCommands);
    // The pane that holds the focus is offered each command first.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        PaneView* pane = nullptr;
        for (QWidget* w = now; w != nullptr && pane == nullptr; w = w->parentWidget()) {
            pane = qobject_cast<PaneView*>(w);
        }
        m_router.setFocus(pane);
        refreshCommands();
    });
    resize(1280, 800);
    refreshCommands();
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::action(int id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::createActions() {
    for (const Command& command : commandTable()) {
        auto* a = new QAction(QString::fromStdString(command.text), this);
        QList<QKeySequence> keys;
        for (const std::string& key : command.keys) {
            keys.append(QKeySequence(QString::fromStdString(key)));
        }
        a->setShortcuts(keys);
        a->setStatusTip(QString::fromStdString(command.prompt));
        a->setToolTip(QString::fromStdString(plainText(command)));
        // Toolbar buttons show the short name, without the mnemonic, dots or key label.
        a->setIconText(QString::fromStdString(plainText(command)).replace('&', "&&"));
        a->setData(command.id);
        const int id = command.id;
        connect(a, &QAction::triggered, this, [this, id] {
            m_router.run(id);
            refreshCommands();
        });
        addAction(a);  // keys work whatever menu or bar shows the action
        m_actions.emplace(id, a);
    }
}

void CMainFrame::createMenus() {
    for (const Menu& menu : mainMenu()) {
        QMenu* m = menuBar()->addMenu(QString::fromStdString(menu.title));
        if (!menu.ids.empty() && menu.ids.front() == cmd::kLayoutDefault) {
            m_windowMenu = m;
        }
        if (!menu.ids.empty() && menu.ids.front() == cmd::kNew) {
            m_fileMenu = m;
            connect(m, &QMenu::aboutToShow, this, &CMainFrame::rebuildRecentMenu);
        }
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::refreshCommands);
        for (const int id : menu.ids) {
            if (id == 0) {
                m->addSeparator();
            } else if (QAction* a = action(id)) {
                m->addAction(a);
            }
        }
    }
}

QToolBar* CMainFrame::toolBar(int id, const QString& objectName, const QString& caption,
                              const std::vector<int>& commands) {
    QToolBar* bar = addToolBar(caption);
    bar->setObjectName(objectName);
    for (const int c : commands) {
        if (c == 0) {
            bar->addSeparator();
        } else if (QAction* a = action(c)) {
            bar->addAction(a);
        }
    }
    m_bars.emplace(id, bar);
    return bar;
}

void CMainFrame::createToolBars() {
    using namespace cmd;
    toolBar(kShowMainBar, "Main", tr("Main"), {kNew, kOpen, kSave, 0, kUndo, kRedo});
    toolBar(kShowNavigationBar, "Navigation", tr("Navigation"),
            {kBegin, kPreviousScene, kPlay, kStop, kNextScene, kEnd});
    toolBar(kShowModeBar, "EditMode", tr("Edit Mode"), {kEditProject, kEditScene});
    toolBar(kShowPreviewBar, "PreviewOptions", tr("Preview Options"),
            {kPreviewOptionFirst, kPreviewOptionFirst + 1, kPreviewOptionFirst + 2,
             kPreviewOptionFirst + 3, kPreviewOptionFirst + 4, kPreviewOptionFirst + 5});
    addToolBarBreak();
    QToolBar* tools = toolBar(kShowToolsBar, "Toolbar", tr("Toolbar"),
                              {kToolFirst, kToolFirst + 1, kToolFirst + 2, kToolFirst + 3,
                               kToolFirst + 4, kToolFirst + 5, kToolFirst + 6});
    addToolBar(Qt::LeftToolBarArea, tools);
}

void CMainFrame::createPanes() {
    for (const PaneInfo& info : kPanes) {
        auto* dock = new QDockWidget(tr(info.caption), this);
        dock->setObjectName(info.objectName);
        auto* pane = new PaneView(tr(info.caption), *m_changes, dock);
        dock->setWidget(pane);
        addDockWidget(info.area, dock);
        m_router.addPane(pane);
        m_panes.push_back(pane);
        m_bars.emplace(info.id, dock);
    }
    // A plain area in the middle until the workspace view exists.
    auto* centre = new QLabel(this);
    centre->setAutoFillBackground(true);
    centre->setBackgroundRole(QPalette::Dark);
    setCentralWidget(centre);
}

void CMainFrame::createStatusBar() {
    for (const int width : kStatusWidths) {
        auto* label = new QLabel(statusBar());
        if (width > 0) {
            label->setMinimumWidth(width);
            statusBar()->addPermanentWidget(label);
        } else {
            statusBar()->addWidget(label, 1);
        }
        m_statusPanes.push_back(label);
    }
    m_bars.emplace(cmd::kShowStatusBar, statusBar());
}

QWidget* CMainFrame::barOf(int id) const {
    const auto it = m_bars.find(id);
    return it == m_bars.end() ? nullptr : it->second;
}

std::optional<CommandState> CMainFrame::commandState(int id) const {
    using namespace cmd;
    switch (id) {
        case kNew:
        case kOpen:
        case kSave:
        case kSaveAs:
        case kExit:
        case kAbout:
            return CommandState{true, false};
        case kLayoutDefault:
            return CommandState{true, false};
        case kResetMessages:
            return CommandState{m_messagesKept, false};
        case kLayoutAdd:
        case kLayoutDelete: {
            // The menu lists every custom layout: its items count them without reading the
            // registry at each refresh.
            const auto used = static_cast<int>(m_customLayouts.size());
            return CommandState{id == kLayoutAdd ? used < LayoutStore::kCustomCount : used > 0,
                                false};
        }
        case kUndo:
            return CommandState{m_document.canUndo(), false};
        case kRedo:
            return CommandState{m_document.canRedo(), false};
        default:
            break;
    }
    if (QWidget* bar = barOf(id)) {
        // The spline pane belongs to scene editing, which is not built yet.
        return CommandState{id != kShowSpline, bar->isVisible()};
    }
    return std::nullopt;
}

bool CMainFrame::runCommand(int id) {
    using namespace cmd;
    switch (id) {
        case kNew:
            if (maybeSave()) {
                m_document.newDocument();
            }
            return true;
        case kOpen: {
            if (!maybeSave()) {
                return true;
            }
            const QString path = QFileDialog::getOpenFileName(this, tr("Open Project"), QString(),
                                                              tr(kProjectFilter));
            if (!path.isEmpty()) {
                openChecked(path);
            }
            return true;
        }
        case kSave:
            return saveProject(!m_document.hasPath());
        case kSaveAs:
            return saveProject(true);
        case kExit:
            close();
            return true;
        case kUndo:
            return m_document.undo();
        case kRedo:
            return m_document.redo();
        case kResetMessages:
            m_messages.reset();
            m_messagesKept = m_messages.anyKept();
            return true;
        case kLayoutDefault:
            if (mayReplaceLayout()) {
                loadLayout(LayoutStore::kFactory);
            }
            return true;
        case kLayoutAdd: {
            bool ok = false;
            const QString name = QInputDialog::getText(this, tr("Add Layout"), tr("Name:"),
                                                       QLineEdit::Normal, QString(), &ok);
            if (ok) {
                addLayout(name.left(static_cast<int>(LayoutStore::kMaxNameLength)));
            }
            return true;
        }
        case kLayoutDelete:
            chooseLayoutToDelete();
            return true;
        case kAbout:
            QMessageBox::about(this, tr("About Pictomove"),
                               tr("<p><b>Pictomove</b> 2.00.01.05</p><p>Moves a camera over still "
                                  "pictures to make videos.</p><p>This program uses the FreeImage "
                                  "library.</p>"));
            return true;
        default:
            break;
    }
    if (QWidget* bar = barOf(id)) {
        if (auto* dock = qobject_cast<QDockWidget*>(bar)) {
            dock->setVisible(!dock->isVisible());
        } else {
            bar->setVisible(!bar->isVisible());
        }
        return true;
    }
    return false;
}

void CMainFrame::refreshCommands() {
    for (const auto& [id, a] : m_actions) {
        const CommandState s = m_router.state(id);
        a->setEnabled(s.enabled);
        const bool checkable = barOf(id) != nullptr;
        a->setCheckable(checkable);
        if (checkable) {
            a->setChecked(s.checked);
        }
    }
    // The undo and redo items name their step.
    const auto named = [this](int id, const QString& name) {
        const Command* c = findCommand(id);
        QString text = QString::fromStdString(c->text);
        if (!name.isEmpty()) {
            text += ' ' + QString(name).replace('&', "&&");
        }
        action(id)->setText(text);
    };
    named(cmd::kUndo, m_document.undoName());
    named(cmd::kRedo, m_document.redoName());
    m_statusPanes[kModePane]->setText(tr("Edit Project"));
    updateCaption();
}

void CMainFrame::updateCaption() {
    setWindowTitle(tr("%1[*] - Pictomove").arg(m_document.title()));
    setWindowModified(m_document.modified());
}

bool CMainFrame::openProject(const QString& path) {
    return maybeSave() && openChecked(path);
}

bool CMainFrame::openChecked(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QString error;
    if (!m_document.open(absolute, &error)) {
        m_recent.remove(absolute.toStdString());
        showError(error);
        return false;
    }
    m_recent.add(absolute.toStdString());
    return true;
}

void CMainFrame::rebuildRecentMenu() {
    for (QAction* a : m_recentItems) {
        delete a;
    }
    m_recentItems.clear();
    QAction* placeholder = action(cmd::kRecentFirst);
    const std::vector<std::string> paths = m_recent.list();
    placeholder->setVisible(paths.empty());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const QString path = QString::fromStdString(paths[i]);
        auto* a = new QAction(
            QStringLiteral("&%1 %2").arg(i + 1).arg(QString(path).replace('&', "&&")), this);
        a->setStatusTip(path);
        connect(a, &QAction::triggered, this, [this, path] { openProject(path); });
        m_fileMenu->insertAction(placeholder, a);
        m_recentItems.push_back(a);
    }
}

bool CMainFrame::maybeSave() {
    if (!m_document.modified()) {
        return true;
    }
    const auto answer = QMessageBox::question(
        this, tr("Pictomove"), tr("Save the changes to %1?").arg(m_document.title()),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Cancel) {
        return false;
    }
    return answer == QMessageBox::Discard || saveProject(!m_document.hasPath());
}

bool CMainFrame::saveProject(bool askForName) {
    QString path = m_document.path();
    if (askForName) {
        path = QFileDialog::getSaveFileName(this, tr("Save Project As"), path, tr(kProjectFilter));
        if (path.isEmpty()) {
            return false;
        }
        if (!path.endsWith(".mzp", Qt::CaseInsensitive)) {
            path += ".mzp";
        }
    }
    QString error;
    if (!m_document.saveAs(path, &error)) {
        showError(error);
        return false;
    }
    m_recent.add(QFileInfo(path).absoluteFilePath().toStdString());
    return true;
}

void CMainFrame::showError(const QString& text) {
    QMessageBox::warning(this, tr("Pictomove"), text);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (maybeSave()) {
        saveLayout(LayoutStore::kDefault);
        event->accept();
    } else {
        event->ignore();
    }
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && isProjectFile(urls.front())) {
        event->acceptProposedAction();
    }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && isProjectFile(urls.front())) {
        event->acceptProposedAction();
        openProject(urls.front().toLocalFile());
    }
}

LayoutStore::Layout CMainFrame::currentLayout() const {
    WindowPlacement p;
    p.show = isMaximized()   ? WindowPlacement::kMaximized
             : isMinimized() ? WindowPlacement::kMinimized
                             : WindowPlacement::kNormal;
    const QRect r = normalGeometry().isValid() ? normalGeometry() : geometry();
    p.left = r.left();
    p.top = r.top();
    p.right = r.left() + r.width();
    p.bottom = r.top() + r.height();
    return {p.format(), saveState(kDockStateVersion).toBase64().toStdString()};
}

bool CMainFrame::saveLayout(const std::string& section) {
    return m_layouts.save(section, currentLayout());
}

bool CMainFrame::loadLayout(const std::string& section) {
    const auto layout = m_layouts.load(section);
    if (!layout) {
        return false;
    }
    const auto p = WindowPlacement::parse(layout->placement);
    if (p->right > p->left && p->bottom > p->top) {
        setGeometry(static_cast<int>(p->left), static_cast<int>(p->top),
                    static_cast<int>(p->right - p->left), static_cast<int>(p->bottom - p->top));
    }
    restoreState(QByteArray::fromBase64(QByteArray::fromStdString(layout->dockState)),
                 kDockStateVersion);
    if (p->show == WindowPlacement::kMaximized) {
        showMaximized();
    } else {
        showNormal();
    }
    refreshCommands();
    return true;
}

void CMainFrame::startLayouts() {
    saveLayout(LayoutStore::kFactory);
    loadLayout(LayoutStore::kDefault);
    rebuildLayoutMenu();
}

bool CMainFrame::addLayout(const QString& name) {
    const bool added = m_layouts.addCustom(name.toStdString(), currentLayout()).has_value();
    rebuildLayoutMenu();
    refreshCommands();
    return added;
}

void CMainFrame::chooseLayoutToDelete() {
    QStringList names;
    std::vector<int> indexes;
    const auto custom = m_layouts.customNames();
    for (int i = 0; i < LayoutStore::kCustomCount; ++i) {
        if (const auto& n = custom[static_cast<std::size_t>(i)]) {
            names << QString::fromStdString(*n);
            indexes.push_back(i);
        }
    }
    bool ok = false;
    const QString chosen =
        QInputDialog::getItem(this, tr("Delete Layout"), tr("Name:"), names, 0, false, &ok);
    if (ok && names.contains(chosen)) {
        deleteLayout(indexes[static_cast<std::size_t>(names.indexOf(chosen))]);
    }
}

bool CMainFrame::deleteLayout(int index) {
    const bool deleted = m_layouts.deleteCustom(index);
    rebuildLayoutMenu();
    refreshCommands();
    return deleted;
}

bool CMainFrame::mayReplaceLayout() {
    constexpr std::uint32_t kLayoutWillBeLost = 500 | 1u << 22 | 1u << 23;  // Yes, No
    const int answer = showMessage(this, m_messages, {kLayoutWillBeLost}, 0,
                                   tr("The current layout will be lost if you load a new layout.\n"
                                      "Do you wish to continue?"));
    m_messagesKept = m_messages.anyKept();
    return answer == MessageWord::kYes;
}

void CMainFrame::rebuildLayoutMenu() {
    for (QAction* a : m_customLayouts) {
        removeAction(a);
        delete a;
    }
    m_customLayouts.clear();
    if (m_windowMenu == nullptr) {
        return;
    }
    // After "Default", in index order.
    const QList<QAction*> items = m_windowMenu->actions();
    QAction* before = items.size() > 1 ? items[1] : nullptr;
    const auto names = m_layouts.customNames();
    for (int i = 0; i < LayoutStore::kCustomCount; ++i) {
        const auto& name = names[static_cast<std::size_t>(i)];
        if (!name) {
            continue;
        }
        auto* a = new QAction(
            QStringLiteral("%1\tCtrl+%2").arg(QString::fromStdString(*name)).arg(i + 1), this);
        a->setShortcut(QKeySequence(QStringLiteral("Ctrl+%1").arg(i + 1)));
        a->setData(kCustomLayoutFirst + i);
        const std::string section = LayoutStore::customSection(i);
        connect(a, &QAction::triggered, this, [this, section] {
            if (mayReplaceLayout()) {
                loadLayout(section);
            }
        });
        m_windowMenu->insertAction(before, a);
        addAction(a);
        m_customLayouts.push_back(a);
    }
}

}  // namespace pm::ui
