#include "core/ErrorInfo.h"

#include "core/MessageIds.h"
#include "core/StringTable.h"

namespace pm {

namespace {}

std::string ErrorInfo::textFor(std::uint32_t code, std::initializer_list<TextArg> args,
                               std::string_view extra) {
    int id = static_cast<int>(code & 0xFFFFu);
    if (id < msg::kInternalError) {
        id = msg::kInternalError;
    }
    const char* format = strings::find(id);
    std::string text =
        format ? formatText(format, args) : formatText("Unknown Error Value: %8x", {textArg(code)});
    if (!extra.empty()) {
        text += "\n\n";
        text += extra;
    }
    return text;
}

int ErrorInfo::report(std::uint32_t code, std::initializer_list<TextArg> args,
                      std::string_view extra) {
    if (code == 0) {
        return 1;
    }
    const std::string text = textFor(code, args, extra);
    std::lock_guard lock(m_mutex);
    if ((code & kSerious) && m_seriousCode == 0) {
        m_seriousCode = code;
        m_seriousText = text;
    }
    if (m_code == 0) {
        m_code = code;
        m_text = m_seriousCode != 0 ? m_seriousText : text;
    }
    return 0;
}

void ErrorInfo::clear() {
    std::lock_guard lock(m_mutex);
    m_code = 0;
    m_text.clear();
    m_seriousCode = 0;
    m_seriousText.clear();
}

bool ErrorInfo::hasFailure() const {
    std::lock_guard lock(m_mutex);
    return m_code != 0;
}

bool ErrorInfo::hasSerious() const {
    std::lock_guard lock(m_mutex);
    return m_seriousCode != 0;
}

std::uint32_t ErrorInfo::code() const {
    std::lock_guard lock(m_mutex);
    return m_code;
}

std::string ErrorInfo::text() const {
    std::lock_guard lock(m_mutex);
    return m_text;
}

std::uint32_t ErrorInfo::seriousCode() const {
    std::lock_guard lock(m_mutex);
    return m_seriousCode;
}

std::string ErrorInfo::seriousText() const {
    std::lock_guard lock(m_mutex);
    return m_seriousText;
}

}  // namespace pm
