#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/AppRegistry.h"
#include "ui/shell/RecentProjects.h"

namespace pm::ui {
namespace {

TEST(RecentProjects, FourNewestFirstEachOnce) {
    QTemporaryDir dir;
    AppRegistry registry(dir.filePath("user.reg").toStdString(),
                         dir.filePath("machine.reg").toStdString());
    RecentProjects recent(registry);
    EXPECT_TRUE(recent.list().empty());
    for (const char* p : {"/a.mzp", "/b.mzp", "/c.mzp", "/d.mzp", "/e.mzp"}) {
        recent.add(p);
    }
    EXPECT_EQ(recent.list(), (std::vector<std::string>{"/e.mzp", "/d.mzp", "/c.mzp", "/b.mzp"}));
    recent.add("/c.mzp");
    EXPECT_EQ(recent.list(), (std::vector<std::string>{"/c.mzp", "/e.mzp", "/d.mzp", "/b.mzp"}));
    recent.remove("/e.mzp");
    EXPECT_EQ(recent.list(), (std::vector<std::string>{"/c.mzp", "/d.mzp", "/b.mzp"}));
    // Kept in the registry for the next start.
    RecentProjects again(registry);
    EXPECT_EQ(again.list().front(), "/c.mzp");
}

}  // namespace
}  // namespace pm::ui
