#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pm::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Sets or clears environment variables and restores their earlier values when it goes.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const std::string& name, const std::string& value);
    void unset(const std::string& name);

private:
    void remember(const std::string& name);

    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// HOME and the XDG variables pointed into a temporary folder, so no test sees the real home.
class IsolatedHome {
public:
    IsolatedHome();

    const std::filesystem::path& home() const { return m_home; }
    ScopedEnvironment& environment() { return m_environment; }

private:
    TemporaryFolder m_folder;
    std::filesystem::path m_home;
    ScopedEnvironment m_environment;
};

void writeFile(const std::filesystem::path& path, const std::string& text);

}  // namespace pm::test
