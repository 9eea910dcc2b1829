#pragma once

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>

#include "core/TextFormat.h"

namespace pm {

// The shared record through which operations hand failures to the user: the first failure since
// the last clear, and beside it the first serious (internal) one. The command that started the
// operation shows and clears it. Workers may report from any thread.
class ErrorInfo {
public:
    static constexpr std::uint32_t kSerious = 1u << 28;

    // Records a failure by string-table id (low 16 bits) with printf-style arguments and an
    // optional extra text. Returns 0 so that a failing operation can `return errors.report(...)`;
    // code 0 is success, records nothing and returns 1.
    int report(std::uint32_t code, std::initializer_list<TextArg> args = {},
               std::string_view extra = {});
    void clear();

    bool hasFailure() const;
    bool hasSerious() const;
    std::uint32_t code() const;
    std::string text() const;
    std::uint32_t seriousCode() const;
    std::string seriousText() const;

    // The text a code stands for, as the record would store it.
    static std::string textFor(std::uint32_t code, std::initializer_list<TextArg> args,
                               std::string_view extra = {});

private:
    mutable std::mutex m_mutex;
    std::uint32_t m_code = 0;
    std::string m_text;
    std::uint32_t m_seriousCode = 0;
    std::string m_seriousText;
};

}  // namespace pm
