#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ui/framework/CommandRouter.h"

namespace pm::ui {
namespace {

// A target that handles the ids it is given and notes every command it runs.
struct Target : CommandTarget {
    std::string name;
    std::map<int, CommandState> handles;
    std::vector<std::string>* log = nullptr;
    Target(std::string n, std::map<int, CommandState> h, std::vector<std::string>* l)
        : name(std::move(n)), handles(std::move(h)), log(l) {}
    std::optional<CommandState> commandState(int id) const override {
        const auto it = handles.find(id);
        return it == handles.end() ? std::nullopt : std::optional(it->second);
    }
    bool runCommand(int id) override {
        log->push_back(name + ":" + std::to_string(id));
        return true;
    }
};

TEST(CommandRouter, FocusThenPanesInOrderThenFrame) {
    std::vector<std::string> log;
    const CommandState on{true, false};
    Target frame("frame", {{1, on}, {2, on}, {3, on}, {4, on}}, &log);
    Target project("project", {{2, on}, {3, on}}, &log);
    Target preview("preview", {{3, on}, {4, {true, true}}}, &log);
    CommandRouter router;
    router.setFrame(&frame);
    router.addPane(&project);
    router.addPane(&preview);
    for (int id : {1, 2, 3}) {
        EXPECT_TRUE(router.run(id));
    }
    router.setFocus(&preview);
    EXPECT_TRUE(router.run(3));
    EXPECT_TRUE(router.state(4).checked);  // the state comes from the first that handles it
    EXPECT_EQ(log, (std::vector<std::string>{"frame:1", "project:2", "project:3", "preview:3"}));
}

TEST(CommandRouter, AHandlerThatDisablesACommandKeepsItFromOthers) {
    std::vector<std::string> log;
    Target frame("frame", {{7, {true, false}}}, &log);
    Target pane("pane", {{7, {false, false}}}, &log);
    CommandRouter router;
    router.setFrame(&frame);
    router.addPane(&pane);
    EXPECT_FALSE(router.state(7).enabled);
    EXPECT_FALSE(router.run(7));
    EXPECT_FALSE(router.run(8));  // nobody handles it: disabled
    EXPECT_FALSE(router.state(8).enabled);
    EXPECT_TRUE(log.empty());
    router.removePane(&pane);
    EXPECT_TRUE(router.run(7));
}

}  // namespace
}  // namespace pm::ui
