#pragma once

#include <array>
#include <optional>
#include <string>

namespace pm {
class AppRegistry;
}

namespace pm::ui {

// The window layouts kept in the user's registry: the factory and dialog-mode arrangements, the
// user's default, and up to five named custom layouts. Each section holds the window placement
// ("MainWindow") and the docking state of every bar ("DockState", base64).
class LayoutStore {
public:
    static constexpr int kCustomCount = 5;
    static constexpr std::size_t kMaxNameLength = 30;
    static inline const char* const kFactory = "Layouts\\Factory";
    static inline const char* const kDefault = "DefaultLayout";

    struct Layout {
        std::string placement;  // WindowPlacement::format()
        std::string dockState;  // base64
    };

    explicit LayoutStore(AppRegistry& registry) : m_registry(registry) {}

    bool save(const std::string& section, const Layout& layout);
    // Nothing when the section has no placement that reads back (its dock state is then not
    // used either).
    std::optional<Layout> load(const std::string& section) const;

    static std::string customSection(int index);
    // The custom layouts' names by index; none where the index is free.
    std::array<std::optional<std::string>, kCustomCount> customNames() const;
    // Keeps the layout under the first free index; nothing when all five are taken or the name
    // is empty once cleaned.
    std::optional<int> addCustom(const std::string& name, const Layout& layout);
    bool deleteCustom(int index);
    // At most 30 characters, each control character and "&" a full stop.
    static std::string cleanName(const std::string& name);

private:
    AppRegistry& m_registry;
};

}  // namespace pm::ui
