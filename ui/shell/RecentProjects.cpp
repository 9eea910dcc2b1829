#include "ui/shell/RecentProjects.h"

#include <algorithm>

#include "app/AppRegistry.h"

namespace pm::ui {

namespace {

constexpr const char* kSection = "Recent File List";

std::string valueName(std::size_t i) {
    return "File" + std::to_string(i + 1);
}

}  // namespace

std::vector<std::string> RecentProjects::list() const {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < kCount; ++i) {
        const auto path = m_registry.readString(AppRegistry::Root::User, kSection, valueName(i));
        if (path && !path->empty()) {
            paths.push_back(*path);
        }
    }
    return paths;
}

void RecentProjects::add(const std::string& path) {
    std::vector<std::string> paths = list();
    std::erase(paths, path);
    paths.insert(paths.begin(), path);
    if (paths.size() > kCount) {
        paths.resize(kCount);
    }
    write(paths);
}

void RecentProjects::remove(const std::string& path) {
    std::vector<std::string> paths = list();
    std::erase(paths, path);
    write(paths);
}

void RecentProjects::write(const std::vector<std::string>& paths) {
    for (std::size_t i = 0; i < kCount; ++i) {
        if (i < paths.size()) {
            m_registry.writeString(kSection, valueName(i), paths[i]);
        } else {
            m_registry.deleteUserValue(kSection, valueName(i));
        }
    }
}

}  // namespace pm::ui
