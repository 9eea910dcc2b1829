#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "app/AppRegistry.h"
#include "ui/framework/MessageWord.h"

namespace pm::ui {
namespace {

struct TempRegistry {
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("pm-messages-" + std::to_string(std::random_device{}()));
    TempRegistry() { std::filesystem::create_directories(dir); }
    ~TempRegistry() { std::filesystem::remove_all(dir); }
    AppRegistry registry{dir / "user.reg", dir / "machine.reg"};
};

constexpr std::uint32_t kOkButton = 1u << 20, kCancelButton = 1u << 21, kYesButton = 1u << 22,
                        kNoButton = 1u << 23, kHelpButton = 1u << 28;

TEST(MessageWord, ButtonsStandInTheirOrderWithOneOkWhenNoneIsNamed) {
    EXPECT_EQ((MessageWord{500 | kNoButton | kYesButton}.buttons()),
              (std::vector<int>{MessageWord::kYes, MessageWord::kNo}));
    EXPECT_EQ((MessageWord{3u << 16 | kCancelButton | kOkButton}.buttons()),
              (std::vector<int>{MessageWord::kOk, MessageWord::kCancel}));
    EXPECT_EQ((MessageWord{42 | kHelpButton}.buttons()),
              (std::vector<int>{MessageWord::kOk, MessageWord::kHelp}));
    EXPECT_EQ(MessageWord{2u << 16}.kind(), MessageWord::Kind::Error);
    EXPECT_EQ(MessageWord::defaultButton(0), std::nullopt);
    EXPECT_EQ(MessageWord::defaultButton(4u << 4), MessageWord::kNo);
    EXPECT_EQ(MessageWord::defaultButton(12u << 4), MessageWord::kOk);
}

TEST(MessageMemory, ATickedBoxKeepsTheDefaultAnswerAndResetForgetsIt) {
    TempRegistry t;
    MessageMemory memory(t.registry);
    // An info box with OK and Cancel, OK the default: ticked and cancelled, OK is kept.
    const MessageWord deleting{514 | 3u << 16 | kOkButton | kCancelButton};
    const std::uint32_t okDefault = 1u << 4;
    EXPECT_EQ(memory.answerWithoutAsking(deleting, okDefault), std::nullopt);
    EXPECT_FALSE(memory.anyKept());
    EXPECT_EQ(memory.remember(deleting, okDefault, MessageWord::kCancel, true), MessageWord::kOk);
    EXPECT_EQ(memory.answerWithoutAsking(deleting, okDefault), MessageWord::kOk);
    EXPECT_TRUE(memory.anyKept());

    // Not ticked: the answer is stored, but asked again next time.
    const MessageWord question{500 | kYesButton | kNoButton};
    memory.remember(question, 0, MessageWord::kNo, false);
    EXPECT_EQ(memory.answerWithoutAsking(question, 0), std::nullopt);
    // A guide's kept answer survives Reset Messages; the info's does not.
    const MessageWord guide{77 | 4u << 16};
    memory.remember(guide, 0, MessageWord::kOk, true);
    ASSERT_TRUE(memory.reset());
    EXPECT_EQ(memory.answerWithoutAsking(deleting, okDefault), std::nullopt);
    EXPECT_FALSE(memory.anyKept());
    EXPECT_EQ(memory.answerWithoutAsking(guide, 0), MessageWord::kOk);
}

TEST(MessageMemory, AlwaysShownMessagesIgnoreTheMemoryAndASwitchedOffKind) {
    TempRegistry t;
    MessageMemory memory(t.registry);
    const MessageWord warning{600 | 1u << 16 | kYesButton | kNoButton};
    // A default value on the kind's key switches every warning off, answering the default.
    ASSERT_TRUE(t.registry.writeDword("GUI\\Messages\\0001", "", 1));
    EXPECT_EQ(memory.answerWithoutAsking(warning, 4u << 4), MessageWord::kNo);
    EXPECT_EQ(memory.answerWithoutAsking(warning, 0), MessageWord::kOk);
    EXPECT_EQ(memory.answerWithoutAsking(warning, MessageWord::kAlwaysShow), std::nullopt);
    // Always shown: the box is not offered, so a tick keeps nothing.
    EXPECT_EQ(memory.remember(warning, MessageWord::kAlwaysShow, MessageWord::kYes, true),
              MessageWord::kYes);
    EXPECT_EQ(memory.answerWithoutAsking(warning, MessageWord::kAlwaysShow), std::nullopt);
}

}  // namespace
}  // namespace pm::ui
