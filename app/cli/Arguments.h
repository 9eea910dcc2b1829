#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace pm::cli {

// A subcommand's arguments: options with a value ("-o FILE", "--size=WxH"), flags ("--json") and
// the rest in order. Anything not declared is an error, reported as a usage problem.
class Arguments {
public:
    Arguments(std::set<std::string> valueOptions, std::set<std::string> flags)
        : m_valueOptions(std::move(valueOptions)), m_flags(std::move(flags)) {}

    // False with a message in error() for an unknown option or a missing value.
    bool parse(const std::vector<std::string>& words);

    std::optional<std::string> value(const std::string& option) const;
    bool flag(const std::string& name) const { return m_set.count(name) != 0; }
    const std::vector<std::string>& positional() const { return m_positional; }
    const std::string& error() const { return m_error; }

private:
    std::set<std::string> m_valueOptions;
    std::set<std::string> m_flags;
    std::map<std::string, std::string> m_values;
    std::set<std::string> m_set;
    std::vector<std::string> m_positional;
    std::string m_error;
};

// "1920x1080" into width and height; false unless both are whole numbers from 16 to 16384.
bool parseSize(const std::string& text, int& width, int& height);
// Seconds ("12.5") or a time code ("00:00:12:50", read at hundredths of a second).
std::optional<double> parseSeconds(const std::string& text);
// A positive finite number.
std::optional<double> parsePositive(const std::string& text);

}  // namespace pm::cli
