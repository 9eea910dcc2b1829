#pragma once

#include <string>
#include <vector>

namespace pm {
class AppRegistry;
}

namespace pm::ui {

// The four projects used last, newest first, kept in the user's registry ("Recent File List",
// values "File1" to "File4").
class RecentProjects {
public:
    static constexpr std::size_t kCount = 4;

    explicit RecentProjects(AppRegistry& registry) : m_registry(registry) {}

    std::vector<std::string> list() const;
    // Puts the project first (once), dropping the oldest beyond four.
    void add(const std::string& path);
    void remove(const std::string& path);

private:
    void write(const std::vector<std::string>& paths);

    AppRegistry& m_registry;
};

}  // namespace pm::ui
