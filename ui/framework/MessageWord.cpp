#include "ui/framework/MessageWord.h"

#include <cstdio>
#include <string>

#include "app/AppRegistry.h"
#include "store/StoreKey.h"

namespace pm::ui {

namespace {

constexpr std::uint32_t kKept = 0x80000000u;

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
    return text;
}

std::string kindKey(MessageWord message) {
    return "GUI\\Messages\\" + hex4(static_cast<unsigned>(message.kind()));
}

}  // namespace

std::vector<int> MessageWord::buttons() const {
    // Bit, answer: in the order the buttons stand.
    const std::pair<int, int> order[] = {{20, kOk},     {22, kYes},    {24, kAbort}, {25, kRetry},
                                         {26, kIgnore}, {21, kCancel}, {23, kNo},    {28, kHelp}};
    std::vector<int> out;
    bool any = false;
    for (const auto& [bit, answer] : order) {
        if ((word >> bit) & 1) {
            out.push_back(answer);
            any = any || bit <= 26;
        }
    }
    if (!any) {
        out.insert(out.begin(), kOk);
    }
    return out;
}

std::optional<int> MessageWord::defaultButton(std::uint32_t flags) {
    const unsigned choice = (flags >> 4) & 0xF;
    const int answers[] = {0, kOk, kCancel, kYes, kNo, kAbort, kRetry, kIgnore};
    if (choice == 0) {
        return std::nullopt;
    }
    return choice < 8 ? answers[choice] : kOk;
}

std::optional<int> MessageMemory::answerWithoutAsking(MessageWord message,
                                                      std::uint32_t flags) const {
    if (flags & MessageWord::kAlwaysShow) {
        return std::nullopt;
    }
    using Root = AppRegistry::Root;
    // A default value on the kind's key switches the whole kind off.
    if (m_registry.readDword(Root::User, kindKey(message), "")) {
        return MessageWord::defaultButton(flags).value_or(MessageWord::kOk);
    }
    const auto kept = m_registry.readDword(Root::User, kindKey(message), hex4(message.textId()));
    if (kept && (*kept & kKept)) {
        return static_cast<int>(*kept & 0xFFFF);
    }
    return std::nullopt;
}

int MessageMemory::remember(MessageWord message, std::uint32_t flags, int pressed,
                            bool dontShowAgain) {
    const bool offered = !(flags & MessageWord::kAlwaysShow);
    std::uint32_t value = static_cast<std::uint32_t>(pressed) & 0xFFFF;
    if (offered && dontShowAgain) {
        const int answer = MessageWord::defaultButton(flags).value_or(pressed);
        value = (static_cast<std::uint32_t>(answer) & 0xFFFF) | kKept;
    }
    m_registry.writeDword(kindKey(message), hex4(message.textId()), value);
    return static_cast<int>(value & 0xFFFF);
}

bool MessageMemory::anyKept() const {
    for (int kind = 1; kind <= 3; ++kind) {
        const StoreKeyPtr key = m_registry.openUserKey("GUI\\Messages\\" + hex4(kind), false);
        char name[64];
        if (key && key->valueName(0, name, sizeof name) > 0) {
            return true;
        }
    }
    return false;
}

bool MessageMemory::reset() {
    const StoreKeyPtr messages = m_registry.openUserKey("GUI\\Messages", true);
    if (!messages) {
        return false;
    }
    for (int kind = 1; kind <= 3; ++kind) {
        messages->deleteChild(hex4(kind));
    }
    return m_registry.flushUser();
}

}  // namespace pm::ui
