#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/AppRegistry.h"

namespace pm::test {

// A fresh folder standing in for the user's home: HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR
// point into it while the object lives, and it is removed afterwards.
class ScratchHome {
public:
    ScratchHome();
    ~ScratchHome();
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;

    const std::filesystem::path& root() const { return m_root; }
    std::filesystem::path home() const { return m_root / "home"; }
    std::filesystem::path config() const { return m_root / "home/.config"; }
    std::filesystem::path runtime() const { return m_root / "run"; }
    std::filesystem::path userRegistry() const { return m_root / "user.conf"; }
    std::filesystem::path machineRegistry() const { return m_root / "machine.conf"; }
    AppRegistry registry() const { return AppRegistry(userRegistry(), machineRegistry()); }

    // Writes one value under the program's key (and subkey) of a registry file.
    static void setInt(const std::filesystem::path& file, const std::string& subkey,
                       const std::string& name, std::int32_t value);
    static void setDouble(const std::filesystem::path& file, const std::string& subkey,
                          const std::string& name, double value);
    static void setString(const std::filesystem::path& file, const std::string& subkey,
                          const std::string& name, const std::string& value);

private:
    std::filesystem::path m_root;
    std::vector<std::pair<std::string, std::string>> m_saved;
};

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& text);

}  // namespace pm::test
