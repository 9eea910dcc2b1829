#include "AppTestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "store/RegistryKey.h"
#include "store/StoreKey.h"

namespace pm::test {

namespace {

std::filesystem::path makeScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pm-app-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a scratch folder");
    }
    return pattern;
}

StoreKeyPtr programKey(const std::filesystem::path& file, const std::string& subkey) {
    StoreKeyPtr root = RegistryKey::openFile(file, false);
    std::string path = "SOFTWARE\\Korvane\\Pictomove";
    if (!subkey.empty()) {
        path += "\\" + subkey;
    }
    return root ? root->createPath(path) : nullptr;
}

// No test may ever read or write the real home: the whole program runs in a scratch home, and
// each test that needs a clean one makes its own ScratchHome on top.
class IsolatedHome : public ::testing::Environment {
public:
    void SetUp() override {
        m_root = makeScratchFolder();
        std::filesystem::create_directories(m_root / "home");
        ::setenv("HOME", (m_root / "home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (m_root / "home/.config").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", m_root.c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }

private:
    std::filesystem::path m_root;
};

[[maybe_unused]] ::testing::Environment* const kIsolatedHome =
    ::testing::AddGlobalTestEnvironment(new IsolatedHome);

}  // namespace

namespace {
constexpr const char* kVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"};
}

ScratchHome::ScratchHome() : m_root(makeScratchFolder()) {
    for (const char* name : kVariables) {
        const char* value = std::getenv(name);
        m_saved.emplace_back(name, value ? value : "");
    }
    std::filesystem::create_directories(home());
    std::filesystem::create_directories(runtime());
    ::setenv("HOME", home().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", config().c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", runtime().c_str(), 1);
}

ScratchHome::~ScratchHome() {
    for (const auto& [name, value] : m_saved) {
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
}

void ScratchHome::setInt(const std::filesystem::path& file, const std::string& subkey,
                         const std::string& name, std::int32_t value) {
    StoreKeyPtr key = programKey(file, subkey);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->setInt(name, value));
}

void ScratchHome::setDouble(const std::filesystem::path& file, const std::string& subkey,
                            const std::string& name, double value) {
    StoreKeyPtr key = programKey(file, subkey);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->setDouble(name, value));
}

void ScratchHome::setString(const std::filesystem::path& file, const std::string& subkey,
                            const std::string& name, const std::string& value) {
    StoreKeyPtr key = programKey(file, subkey);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->setString(name, value));
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

}  // namespace pm::test
