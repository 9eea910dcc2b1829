#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/AppRegistry.h"
#include "ui/shell/LayoutStore.h"
#include "ui/shell/WindowPlacement.h"

namespace pm::ui {
namespace {

TEST(WindowPlacement, ReadsBackItsTextAndKeepsNoWindowMinimized) {
    WindowPlacement p;
    p.flags = 0x2;
    p.show = WindowPlacement::kMinimized;
    p.left = 10;
    p.top = -20;
    p.right = 810;
    p.bottom = 580;
    const std::string text = p.format();
    EXPECT_EQ(text, "2:1:(-1,-1):(-1,-1):(10,-20,810,580)");
    const auto back = WindowPlacement::parse(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->show, WindowPlacement::kNormal);
    EXPECT_EQ(back->bottom, 580);
    EXPECT_EQ(WindowPlacement::parse("2:2:(-1,-1):(-1,-1):(1,2,3,4)")->show,
              WindowPlacement::kNormal);
    for (const char* broken : {"", "2:1:(-1,-1):(-1,-1):(10,-20,810)", "x:1:(0,0):(0,0):(1,2,3,4)",
                               "2:1:(-1,-1):(-1,-1):(1,2,3,4)junk"}) {
        EXPECT_FALSE(WindowPlacement::parse(broken)) << broken;
    }
}

TEST(LayoutStore, CustomLayoutsTakeTheFirstFreeIndexWithCleanNames) {
    QTemporaryDir dir;
    AppRegistry registry(dir.filePath("user.reg").toStdString(),
                         dir.filePath("machine.reg").toStdString());
    LayoutStore store(registry);
    const LayoutStore::Layout layout{WindowPlacement{}.format(), "AAAA"};
    EXPECT_EQ(store.addCustom("One", layout), 0);
    EXPECT_EQ(store.addCustom("Two", layout), 1);
    EXPECT_EQ(store.addCustom("Three", layout), 2);
    ASSERT_TRUE(store.deleteCustom(1));
    EXPECT_EQ(store.addCustom("Me & you\tnow", layout), 1);
    EXPECT_EQ(store.customNames()[1], "Me . you.now");
    EXPECT_EQ(store.addCustom("", layout), std::nullopt);
    EXPECT_EQ(LayoutStore::cleanName(std::string(40, 'x')).size(), 30u);
    EXPECT_EQ(store.addCustom("Four", layout), 3);
    EXPECT_EQ(store.addCustom("Five", layout), 4);
    EXPECT_EQ(store.addCustom("Six", layout), std::nullopt);
    const auto loaded = store.load(LayoutStore::customSection(4));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->dockState, "AAAA");
    // A section whose placement does not read back holds no layout.
    ASSERT_TRUE(registry.writeString("Layouts\\Broken", "MainWindow", "1:1:(0,0)"));
    EXPECT_FALSE(store.load("Layouts\\Broken"));
}

}  // namespace
}  // namespace pm::ui
