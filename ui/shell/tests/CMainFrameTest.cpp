#include <gtest/gtest.h>

#include <QAction>
#include <QDockWidget>
#include <QMenuBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>

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

TEST(CMainFrame, EveryCommandIsAnActionWithItsKeys) {
    CPanZoomDoc doc;
    CMainFrame frame(doc);
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
    CPanZoomDoc doc;
    CMainFrame frame(doc);
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
    CPanZoomDoc doc;
    CMainFrame frame(doc);
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
}

}  // namespace
}  // namespace pm::ui
