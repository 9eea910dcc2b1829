#include <gtest/gtest.h>

#include <QAction>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>

#include "app/AppRegistry.h"
#include "core/MessageIds.h"
#include "core/ProjectContext.h"
#include "document/ProjectDocument.h"
#include "document/UndoHistory.h"
#include "ui/framework/CommandIds.h"
#include "ui/framework/CommandTable.h"
#include "ui/shell/CMainFrame.h"
#include "ui/shell/CPanZoomDoc.h"

namespace pm::ui {
namespace {

// The user's registry in a folder of the test's own.
struct TestRegistry {
    QTemporaryDir dir;
    AppRegistry registry{dir.filePath("user.reg").toStdString(),
                         dir.filePath("machine.reg").toStdString()};
};

TEST(CMainFrame, EveryCommandIsAnActionWithItsKeys) {
    TestRegistry reg;
    CPanZoomDoc doc;
    CMainFrame frame(doc, reg.registry);
    for (const Command& c : commandTable()) {
        QAction* a = frame.action(c.id);
        ASSERT_NE(a, nullptr) << c.id;
        ASSERT_EQ(a->shortcuts().size(), static_cast<qsizetype>(c.keys.size())) << c.id;
        for (std::size_t i = 0; i < c.keys.size(); ++i) {
            EXPECT_FALSE(a->shortcuts()[static_cast<qsizetype>(i)].isEmpty())
                << c.id << " " << c.keys[i];
        }
        EXPECT_EQ(a->statusTip().toStdString(), c.prompt);
    }
    EXPECT_EQ(frame.menuBar()->actions().size(), static_cast<qsizetype>(mainMenu().size()));
    // What is built is enabled; what is not yet built is there and disabled.
    EXPECT_TRUE(frame.action(cmd::kOpen)->isEnabled());
    EXPECT_TRUE(frame.action(cmd::kExit)->isEnabled());
    EXPECT_FALSE(frame.action(cmd::kRenderVideo)->isEnabled());
    EXPECT_FALSE(frame.action(cmd::kUndo)->isEnabled());
}

TEST(CMainFrame, PanesAndBarsAreMadeInOrderWithTheirProfileNames) {
    TestRegistry reg;
    CPanZoomDoc doc;
    CMainFrame frame(doc, reg.registry);
    QStringList docks;
    for (QDockWidget* d : frame.findChildren<QDockWidget*>()) {
        docks << d->objectName();
    }
    EXPECT_EQ(docks,
              (QStringList{"BarProject", "BarPreview", "BarConfig", "BarSpline", "BarInfo"}));
    QStringList bars;
    for (QToolBar* t : frame.findChildren<QToolBar*>()) {
        bars << t->objectName();
    }
    EXPECT_EQ(bars, (QStringList{"Main", "Navigation", "EditMode", "PreviewOptions", "Toolbar"}));

    frame.show();
    QAction* preview = frame.action(cmd::kShowPreview);
    frame.refreshCommands();
    EXPECT_TRUE(preview->isChecked());
    preview->trigger();
    EXPECT_FALSE(frame.findChild<QDockWidget*>("BarPreview")->isVisible());
    EXPECT_FALSE(preview->isChecked());
    frame.action(cmd::kShowStatusBar)->trigger();
    EXPECT_FALSE(frame.statusBar()->isVisible());
}

TEST(CMainFrame, TheCaptionAndTheUndoItemFollowTheDocument) {
    QTemporaryDir dir;
    TestRegistry reg;
    CPanZoomDoc doc;
    CMainFrame frame(doc, reg.registry);
    EXPECT_EQ(frame.windowTitle(), "Untitled[*] - Pictomove");
    EXPECT_FALSE(frame.isWindowModified());
    Project& project = doc.context().project();
    const int base = project.sceneCount();
    ASSERT_GE(project.insertSceneAt(0, "", 3 * kTicksPerSecond), 0);
    doc.document().history().record(msg::kKeyframeAdded);
    frame.refreshCommands();
    EXPECT_TRUE(frame.isWindowModified());
    EXPECT_EQ(frame.action(cmd::kUndo)->text(), "&Undo Keyframe Added");
    EXPECT_TRUE(frame.action(cmd::kUndo)->isEnabled());
    frame.action(cmd::kUndo)->trigger();
    EXPECT_EQ(project.sceneCount(), base);
    EXPECT_FALSE(frame.isWindowModified());
    EXPECT_TRUE(frame.action(cmd::kRedo)->isEnabled());

    QString error;
    ASSERT_TRUE(doc.saveAs(dir.filePath("trip.mzp"), &error));
    EXPECT_EQ(frame.windowTitle(), "trip.mzp[*] - Pictomove");

    // Opened, the project is first among the recent ones in the File menu.
    ASSERT_TRUE(frame.openProject(dir.filePath("trip.mzp")));
    QMenu* file = frame.menuBar()->actions()[0]->menu();
    emit file->aboutToShow();
    QStringList items;
    for (QAction* a : file->actions()) {
        if (a->isVisible()) {
            items << a->text();
        }
    }
    EXPECT_TRUE(items.contains("&1 " + dir.filePath("trip.mzp"))) << items.join("|").toStdString();
    EXPECT_FALSE(items.contains("Recent Projects"));
}

TEST(CMainFrame, ALayoutBringsBackItsBarsAndCustomOnesAreListed) {
    TestRegistry reg;
    CPanZoomDoc doc;
    CMainFrame frame(doc, reg.registry);
    frame.show();
    frame.startLayouts();
    auto* info = frame.findChild<QDockWidget*>("BarInfo");
    ASSERT_TRUE(info->isVisible());
    info->hide();
    frame.showMinimized();
    ASSERT_TRUE(frame.saveLayout("Layouts\\Test"));
    frame.showNormal();
    info->show();
    ASSERT_TRUE(frame.loadLayout("Layouts\\Test"));
    EXPECT_FALSE(info->isVisible());
    EXPECT_FALSE(frame.isMinimized());  // a minimized window comes back normal
    EXPECT_FALSE(frame.loadLayout("Layouts\\Nothing"));

    // Custom layouts go to the first free index and show after Default with their key.
    ASSERT_TRUE(frame.addLayout("Wide & tall"));
    ASSERT_TRUE(frame.addLayout("Second"));
    ASSERT_TRUE(frame.deleteLayout(0));
    ASSERT_TRUE(frame.addLayout("Third"));
    QStringList items;
    for (QAction* a : frame.menuBar()->actions()[5]->menu()->actions()) {
        items << a->text();
    }
    ASSERT_GE(items.size(), 4);
    EXPECT_EQ(items.mid(0, 3), (QStringList{"&Default", "Third\tCtrl+1", "Second\tCtrl+2"}));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(frame.addLayout("More"));
    }
    frame.refreshCommands();
    EXPECT_FALSE(frame.action(cmd::kLayoutAdd)->isEnabled());  // five are kept
    EXPECT_FALSE(frame.addLayout("Sixth"));
    EXPECT_TRUE(frame.action(cmd::kLayoutDelete)->isEnabled());
}

}  // namespace
}  // namespace pm::ui
