#include "core/TextFormat.h"

#include <cstdio>
#include <string>

namespace pm {

namespace {

std::int64_t asInteger(const TextArg& arg) {
    if (const auto* i = std::get_if<std::int64_t>(&arg)) {
        return *i;
    }
    if (const auto* d = std::get_if<double>(&arg)) {
        return static_cast<std::int64_t>(*d);
    }
    return 0;
}

double asReal(const TextArg& arg) {
    if (const auto* d = std::get_if<double>(&arg)) {
        return *d;
    }
    if (const auto* i = std::get_if<std::int64_t>(&arg)) {
        return static_cast<double>(*i);
    }
    return 0.0;
}

std::string asString(const TextArg& arg) {
    if (const auto* s = std::get_if<std::string>(&arg)) {
        return *s;
    }
    if (const auto* i = std::get_if<std::int64_t>(&arg)) {
        return std::to_string(*i);
    }
    return std::to_string(std::get<double>(arg));
}

// Formats one value with a printf directive that this file built from checked characters only.
template <typename T>
std::string formatOne(const std::string& directive, T value) {
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, directive.c_str(), value);
    if (n < 0) {
        return {};
    }
    if (static_cast<std::size_t>(n) < sizeof buffer) {
        return std::string(buffer, static_cast<std::size_t>(n));
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), directive.c_str(), value);
    big.resize(static_cast<std::size_t>(n));
    return big;
}

}  // namespace

std::string formatText(std::string_view format, std::initializer_list<TextArg> args) {
    std::string out;
    auto next = args.begin();
    std::size_t i = 0;
    while (i < format.size()) {
        const char ch = format[i];
        if (ch != '%') {
            out += ch;
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        if (j < format.size() && format[j] == '%') {
            out += '%';
            i = j + 1;
            continue;
        }
        std::string directive = "%";
        while (j < format.size() &&
               std::string_view("-+ #0").find(format[j]) != std::string_view::npos) {
            directive += format[j++];
        }
        // Widths and precisions are capped so one argument cannot ask for a huge buffer.
        const auto digits = [&] {
            std::size_t start = j;
            while (j < format.size() && j - start < 3 && format[j] >= '0' && format[j] <= '9') {
                directive += format[j++];
            }
            while (j < format.size() && format[j] >= '0' && format[j] <= '9') {
                ++j;
            }
        };
        digits();
        if (j < format.size() && format[j] == '.') {
            directive += format[j++];
            digits();
        }
        // Length modifiers say nothing about a typed argument.
        while (j < format.size() &&
               std::string_view("hlLqjzt").find(format[j]) != std::string_view::npos) {
            ++j;
        }
        if (j >= format.size()) {
            out.append(format.substr(i));
            break;
        }
        const char conversion = format[j];
        const TextArg arg = next != args.end() ? *next++ : TextArg{std::string()};
        switch (conversion) {
            case 'd':
            case 'i':
                out += formatOne(directive + "lld", static_cast<long long>(asInteger(arg)));
                break;
            case 'u':
            case 'x':
            case 'X':
            case 'o':
                out += formatOne(directive + "ll" + conversion,
                                 static_cast<unsigned long long>(asInteger(arg)));
                break;
            case 'c':
                out += formatOne(directive + "c", static_cast<int>(asInteger(arg)));
                break;
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
                out += formatOne(directive + conversion, asReal(arg));
                break;
            case 's':
                out += formatOne(directive + "s", asString(arg).c_str());
                break;
            default:
                // Not a conversion: keep the text as it stands.
                out.append(format.substr(i, j - i + 1));
                if (next != args.begin()) {
                    --next;
                }
                break;
        }
        i = j + 1;
    }
    return out;
}

}  // namespace pm
