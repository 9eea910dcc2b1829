#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "core/MessageIds.h"
#include "core/ProjectContext.h"
#include "document/ProjectDocument.h"
#include "document/UndoHistory.h"
#include "ui/shell/CPanZoomDoc.h"

namespace pm::ui {
namespace {

// One user action as the editor does it: a scene added, recorded as one undo step.
void addScene(CPanZoomDoc& doc) {
    Project& project = doc.context().project();
    ASSERT_GE(project.insertSceneAt(project.projectLength(), "", 3 * kTicksPerSecond), 0);
    doc.document().history().record(msg::kKeyframeAdded);
}

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(CPanZoomDoc, SaveOpenUndoAndRedoFollowTheUnsavedMark) {
    QTemporaryDir dir;
    const QString path = dir.filePath("show.mzp");
    CPanZoomDoc doc;
    EXPECT_EQ(doc.title(), "Untitled");
    EXPECT_FALSE(doc.modified());
    // A new project may start with the default scene.
    const int base = doc.context().project().sceneCount();
    addScene(doc);
    EXPECT_TRUE(doc.modified());
    EXPECT_EQ(doc.undoName(), "Keyframe Added");

    QString error;
    ASSERT_TRUE(doc.saveAs(path, &error)) << error.toStdString();
    EXPECT_FALSE(doc.modified());
    EXPECT_EQ(doc.title(), "show.mzp");

    // Undone past the save and redone back to it: unsaved, then saved again.
    ASSERT_TRUE(doc.undo());
    EXPECT_TRUE(doc.modified());
    EXPECT_EQ(doc.context().project().sceneCount(), base);
    ASSERT_TRUE(doc.redo());
    EXPECT_FALSE(doc.modified());
    EXPECT_EQ(doc.context().project().sceneCount(), base + 1);

    // Undone, then a different step recorded where the saved one stood: unsaved.
    ASSERT_TRUE(doc.undo());
    addScene(doc);
    EXPECT_TRUE(doc.modified());

    CPanZoomDoc other;
    ASSERT_TRUE(other.open(path, &error)) << error.toStdString();
    EXPECT_FALSE(other.modified());
    EXPECT_EQ(other.context().project().sceneCount(), base + 1);
    EXPECT_FALSE(other.canUndo());
}

TEST(CPanZoomDoc, ABrokenFileIsNamedAndLeavesANewProject) {
    QTemporaryDir dir;
    const QString path = dir.filePath("broken.mzp");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a project at all");
    f.close();
    CPanZoomDoc doc;
    const int base = doc.context().project().sceneCount();
    addScene(doc);
    QString error;
    EXPECT_FALSE(doc.open(path, &error));
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
    EXPECT_EQ(doc.context().project().sceneCount(), base);
    EXPECT_FALSE(doc.modified());
    EXPECT_FALSE(doc.hasPath());
}

TEST(CPanZoomDoc, AFailedSaveKeepsTheOldFileAndTheUnsavedMark) {
    QTemporaryDir dir;
    const QString path = dir.filePath("show.mzp");
    CPanZoomDoc doc;
    addScene(doc);
    QString error;
    ASSERT_TRUE(doc.saveAs(path, &error));
    const QByteArray saved = contents(path);
    addScene(doc);
    // A folder where the file should go.
    const QString folder = dir.filePath("folder.mzp");
    ASSERT_TRUE(QDir().mkdir(folder));
    EXPECT_FALSE(doc.saveAs(folder, &error));
    EXPECT_TRUE(error.contains(folder)) << error.toStdString();
    EXPECT_TRUE(doc.modified());
    EXPECT_EQ(contents(path), saved);
    EXPECT_EQ(doc.path(), path);
}

}  // namespace
}  // namespace pm::ui
