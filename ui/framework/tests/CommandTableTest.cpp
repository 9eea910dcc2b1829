#include <gtest/gtest.h>

#include <set>

#include "ui/framework/CommandIds.h"
#include "ui/framework/CommandTable.h"

namespace pm::ui {
namespace {

TEST(CommandTable, EveryIdIsThereOnceWithItsKeys) {
    std::set<int> ids;
    std::set<std::string> keys;
    for (const Command& c : commandTable()) {
        EXPECT_TRUE(ids.insert(c.id).second) << "twice: " << c.id;
        EXPECT_FALSE(c.text.empty()) << c.id;
        EXPECT_FALSE(c.prompt.empty()) << c.id;
        for (const std::string& k : c.keys) {
            // A key bound twice would fire neither command.
            EXPECT_TRUE(keys.insert(k).second) << k << " bound twice, again by " << c.id;
        }
    }
    const struct {
        int id;
        std::vector<std::string> keys;
    } cases[] = {
        {cmd::kNew, {"Ctrl+N"}},
        {cmd::kSaveAs, {"Shift+F2"}},
        {cmd::kUndo, {"Ctrl+Z", "Ctrl+Backspace"}},
        {cmd::kPlay, {"Space"}},
        {cmd::kStop, {"Esc"}},
        // The menu says Page Down for the previous scene, the key is Page Up.
        {cmd::kPreviousScene, {"PgUp"}},
        {cmd::kNextScene, {"PgDown"}},
        {cmd::kToolFirst + 6, {"Shift+F5"}},
        {cmd::kAddKeysFirst + 4, {"H"}},
        {cmd::kResetKeysFirst + 5, {"Shift+F"}},
        {cmd::kPreviewOptionFirst + 3, {"Shift+F9"}},
        {cmd::kPreviewOptionFirst + 5, {"Shift+F7"}},
        {cmd::kAddTimeFirst + 6, {"Alt+4", "Num+Alt+4"}},
        {cmd::kShowSpline, {"F12"}},
        {cmd::kHelpContents, {"F1"}},
        {cmd::kExit, {"Alt+F4"}},
    };
    for (const auto& c : cases) {
        const Command* found = findCommand(c.id);
        ASSERT_NE(found, nullptr) << c.id;
        EXPECT_EQ(found->keys, c.keys) << c.id;
    }
    EXPECT_EQ(findCommand(12345), nullptr);
}

TEST(CommandTable, MenusHoldOnlyKnownCommands) {
    std::set<int> shown;
    for (const Menu& menu : mainMenu()) {
        EXPECT_FALSE(menu.ids.empty()) << menu.title;
        for (const int id : menu.ids) {
            if (id != 0) {
                EXPECT_NE(findCommand(id), nullptr) << menu.title << " " << id;
                EXPECT_TRUE(shown.insert(id).second) << id << " in two menus";
            }
        }
    }
    EXPECT_EQ(shown.size(), commandTable().size() - 1);  // all but Apply Changes (dialog mode)
}

TEST(CommandTable, PlainTextDropsMnemonicsDotsAndTheKeyLabel) {
    EXPECT_EQ(plainText(*findCommand(cmd::kOpen)), "Open Project");
    EXPECT_EQ(plainText(*findCommand(cmd::kToolFirst + 2)), "Scale & Move");
    EXPECT_EQ(plainText(*findCommand(cmd::kPreviousScene)), "Previous Scene");
}

}  // namespace
}  // namespace pm::ui
