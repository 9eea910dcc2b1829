#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace pm {
class AppRegistry;
}

namespace pm::ui {

// What a message identifier word says: the string id of the text (also the name its answer is
// kept under), the kind, and the buttons. The flags word beside it chooses the default button and
// whether the message always shows.
struct MessageWord {
    enum class Kind { Question = 0, Warning = 1, Error = 2, Info = 3, Guide = 4 };
    // Button answers, as the buttons' ids.
    static constexpr int kOk = 1, kCancel = 2, kAbort = 3, kRetry = 4, kIgnore = 5, kYes = 6,
                         kNo = 7, kHelp = 9;
    static constexpr std::uint32_t kAlwaysShow = 1;

    std::uint32_t word = 0;

    int textId() const { return static_cast<int>(word & 0xFFFF); }
    Kind kind() const { return static_cast<Kind>((word >> 16) & 0xF); }
    // The buttons in the order they stand: OK, Yes, Abort, Retry, Ignore, Cancel, No, Help; one OK
    // when the word names none of the first seven.
    std::vector<int> buttons() const;
    bool hasDetails() const { return (word >> 29) & 1; }
    // The button the flags make the default; none leaves the first button the default and the
    // pressed one the answer a ticked "don't show" box keeps.
    static std::optional<int> defaultButton(std::uint32_t flags);
};

// The answers kept for messages the user asked not to see again, under "GUI\Messages\%04x" (the
// kind) of the program's key, one value "%04x" (the text id) each; bit 31 marks a kept answer.
class MessageMemory {
public:
    explicit MessageMemory(AppRegistry& registry) : m_registry(registry) {}

    // The answer to give without showing the message; nothing when it must show.
    std::optional<int> answerWithoutAsking(MessageWord message, std::uint32_t flags) const;
    // Stores the answer of one showing and returns it.
    int remember(MessageWord message, std::uint32_t flags, int pressed, bool dontShowAgain);
    // Whether any warning, error or info answer is kept (Reset Messages is enabled then).
    bool anyKept() const;
    // Forgets the answers of warnings, errors and infos; guides keep theirs.
    bool reset();

private:
    AppRegistry& m_registry;
};

}  // namespace pm::ui
