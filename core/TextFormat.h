#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace pm {

// One argument of a printf-style message text. Texts come from the string table and arguments from
// anywhere (file names included), so formatting is typed: a conversion takes whatever argument it
// gets, a missing argument prints as nothing, and nothing reads past the list.
using TextArg = std::variant<std::int64_t, double, std::string>;

// Formats `format` with printf conversions (flags, width, precision; d i u x X o c s f e g %).
std::string formatText(std::string_view format, std::initializer_list<TextArg> args);

// Builds the argument list from ordinary values.
template <typename T>
TextArg textArg(T&& value) {
    using U = std::decay_t<T>;
    if constexpr (std::is_integral_v<U>) {
        return static_cast<std::int64_t>(value);
    } else if constexpr (std::is_floating_point_v<U>) {
        return static_cast<double>(value);
    } else {
        return std::string(std::forward<T>(value));
    }
}

}  // namespace pm
