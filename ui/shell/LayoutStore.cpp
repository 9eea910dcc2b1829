#include "ui/shell/LayoutStore.h"

#include "app/AppRegistry.h"
#include "store/StoreKey.h"
#include "ui/shell/WindowPlacement.h"

namespace pm::ui {

namespace {

constexpr const char* kPlacement = "MainWindow";
constexpr const char* kDockState = "DockState";
constexpr const char* kName = "Name";

}  // namespace

bool LayoutStore::save(const std::string& section, const Layout& layout) {
    return m_registry.writeString(section, kDockState, layout.dockState) &&
           m_registry.writeString(section, kPlacement, layout.placement);
}

std::optional<LayoutStore::Layout> LayoutStore::load(const std::string& section) const {
    using Root = AppRegistry::Root;
    const auto placement = m_registry.readString(Root::User, section, kPlacement);
    if (!placement || !WindowPlacement::parse(*placement)) {
        return std::nullopt;
    }
    return Layout{*placement,
                  m_registry.readString(Root::User, section, kDockState).value_or(std::string())};
}

std::string LayoutStore::customSection(int index) {
    return "Layouts\\Custom" + std::to_string(index);
}

std::array<std::optional<std::string>, LayoutStore::kCustomCount> LayoutStore::customNames() const {
    std::array<std::optional<std::string>, kCustomCount> names;
    for (int i = 0; i < kCustomCount; ++i) {
        const std::string section = customSection(i);
        if (m_registry.readString(AppRegistry::Root::User, section, kPlacement)) {
            names[static_cast<std::size_t>(i)] =
                m_registry.readString(AppRegistry::Root::User, section, kName);
        }
    }
    return names;
}

std::optional<int> LayoutStore::addCustom(const std::string& name, const Layout& layout) {
    const std::string clean = cleanName(name);
    if (clean.empty()) {
        return std::nullopt;
    }
    for (int i = 0; i < kCustomCount; ++i) {
        const std::string section = customSection(i);
        // The first index whose section holds no layout.
        if (m_registry.readString(AppRegistry::Root::User, section, kPlacement)) {
            continue;
        }
        if (!save(section, layout) || !m_registry.writeString(section, kName, clean)) {
            return std::nullopt;
        }
        return i;
    }
    return std::nullopt;
}

bool LayoutStore::deleteCustom(int index) {
    if (index < 0 || index >= kCustomCount) {
        return false;
    }
    const StoreKeyPtr layouts = m_registry.openUserKey("Layouts", true);
    if (!layouts || layouts->deleteChild("Custom" + std::to_string(index)) == 0) {
        return false;
    }
    return m_registry.flushUser();
}

std::string LayoutStore::cleanName(const std::string& name) {
    std::string clean = name.substr(0, kMaxNameLength);
    for (char& c : clean) {
        if (static_cast<unsigned char>(c) < ' ' || c == '&') {
            c = '.';
        }
    }
    return clean;
}

}  // namespace pm::ui
