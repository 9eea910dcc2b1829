#include "app/cli/Arguments.h"

#include <cmath>
#include <cstdlib>

#include "core/Timecode.h"

namespace pm::cli {

bool Arguments::parse(const std::vector<std::string>& words) {
    bool onlyPositional = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (onlyPositional || word.size() < 2 || word[0] != '-') {
            m_positional.push_back(word);
            continue;
        }
        if (word == "--") {
            onlyPositional = true;
            continue;
        }
        std::string name = word;
        std::optional<std::string> inlineValue;
        if (const auto eq = word.find('='); eq != std::string::npos && word.rfind("--", 0) == 0) {
            name = word.substr(0, eq);
            inlineValue = word.substr(eq + 1);
        }
        if (m_flags.count(name)) {
            if (inlineValue) {
                m_error = name + " takes no value";
                return false;
            }
            m_set.insert(name);
        } else if (m_valueOptions.count(name)) {
            if (inlineValue) {
                m_values[name] = *inlineValue;
            } else if (i + 1 < words.size()) {
                m_values[name] = words[++i];
            } else {
                m_error = name + " needs a value";
                return false;
            }
        } else {
            m_error = "unknown option " + word;
            return false;
        }
    }
    return true;
}

std::optional<std::string> Arguments::value(const std::string& option) const {
    const auto it = m_values.find(option);
    if (it == m_values.end()) {
        return std::nullopt;
    }
    return it->second;
}

bool parseSize(const std::string& text, int& width, int& height) {
    const auto x = text.find_first_of("xX");
    if (x == std::string::npos) {
        return false;
    }
    char* end = nullptr;
    const long w = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() + x) {
        return false;
    }
    const long h = std::strtol(text.c_str() + x + 1, &end, 10);
    if (*end != '\0' || w < 16 || h < 16 || w > 16384 || h > 16384) {
        return false;
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

std::optional<double> parseSeconds(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    if (text.find(':') != std::string::npos || text.find(';') != std::string::npos) {
        return ticksToSeconds(parseTimecode(text, kTicksPerHundredth, 0));
    }
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(seconds) || seconds < 0.0) {
        return std::nullopt;
    }
    return seconds;
}

std::optional<double> parsePositive(const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(v) || v <= 0.0) {
        return std::nullopt;
    }
    return v;
}

}  // namespace pm::cli
