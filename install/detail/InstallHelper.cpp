#include "install/detail/InstallHelper.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace pm {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// One "%d" conversion: blanks, an optional sign, at least one digit. Advances `text` past it.
std::optional<int> readNumber(const char*& text) {
    const char* p = text;
    while (isSpace(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (!isDigit(*p)) {
        return std::nullopt;
    }
    long long value = 0;
    for (; isDigit(*p); ++p) {
        if (value <= INT_MAX) {
            value = value * 10 + (*p - '0');
        }
    }
    text = p;
    if (negative) {
        return value > -static_cast<long long>(INT_MIN) ? INT_MIN : static_cast<int>(-value);
    }
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace

InstallHelper::InstallHelper(const PlatformFolders& folders, DirectXRuntime& runtime,
                             SetupLibraryLoader& setupLoader)
    : m_folders(folders), m_runtime(runtime), m_setupLoader(setupLoader) {}

int InstallHelper::getFolderPath(int which, char* path) const {
    if (path == nullptr) {
        return 0;
    }
    std::optional<std::string> folder;
    if (which == 0) {
        folder = m_folders.documentsFolder();
    } else if (which == 1) {
        folder = m_folders.sharedDataFolder();
    } else {
        return 0;
    }
    // A cut path would name a different folder, so one that does not fit is not reported.
    if (!folder || folder->empty() || folder->size() >= kFolderPathSize) {
        return 0;
    }
    std::memcpy(path, folder->c_str(), folder->size() + 1);
    return 1;
}

std::uint32_t InstallHelper::directXVersion(char* text, std::size_t textSize) const {
    DirectXVersion version;
    if (auto reported = m_runtime.diagnosticVersion()) {
        version = *reported;
    } else if (m_runtime.hasDirect3D9Library()) {
        version = DirectXVersion{9, 0, '\0'};
    }
    char letter = version.letter;
    if (letter >= 'A' && letter <= 'Z') {
        letter = static_cast<char>(letter - 'A' + 'a');
    }
    // Runtimes without a letter may report a blank or other filler; it must not count as one.
    if (letter < 'a' || letter > 'z') {
        letter = '\0';
    }
    const std::uint32_t position =
        letter == '\0' ? 0 : static_cast<std::uint32_t>(letter - 'a' + 1);

    if (text != nullptr && textSize > 0) {
        if (letter == '\0') {
            std::snprintf(text, textSize, "%u.%u", static_cast<unsigned>(version.major),
                          static_cast<unsigned>(version.minor));
        } else {
            std::snprintf(text, textSize, "%u.%u%c", static_cast<unsigned>(version.major),
                          static_cast<unsigned>(version.minor), letter);
        }
    }
    return (version.major * 256 + version.minor) * 256 + position;
}

int InstallHelper::checkDirectXVersion() const {
    char text[kVersionTextSize];
    return directXVersion(text, sizeof(text)) >= kMinimumDirectXVersion ? 1 : 0;
}

int InstallHelper::directXInstall(const char* rootPath, const char* setupLibraryPath) const {
    const std::optional<int> result =
        m_setupLoader.runSetup(setupLibraryPath, rootPath, kSetupFlags);
    if (!result) {
        return 0;
    }
    switch (*result) {
        case 0:
            return 0;
        case 1:
            return 1;
        default:
            return 2;
    }
}

std::array<int, 3> InstallHelper::parseVersion(const char* text) {
    std::array<int, 3> parts{0, 0, 0};
    if (text == nullptr) {
        return parts;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            if (*text != '.') {
                break;
            }
            ++text;
        }
        const std::optional<int> number = readNumber(text);
        if (!number) {
            break;
        }
        parts[i] = *number;
    }
    return parts;
}

int InstallHelper::compareVersionStrings(const char* first, const char* second) {
    const std::array<int, 3> a = parseVersion(first);
    const std::array<int, 3> b = parseVersion(second);
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            return a[i] > b[i] ? 1 : -1;
        }
    }
    return 0;
}

}  // namespace pm
