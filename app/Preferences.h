#pragma once

#include <array>
#include <string_view>

#include "store/StoreKeyPtr.h"

namespace pm {

class PreferenceParticipant;
class StoreKey;

// The places in the fixed order in which participants load and save their preferences.
enum class PreferenceSlot : int {
    Application = 0,
    ProjectBar,
    PreviewBar,
    ConfigBar,
    SplineBar,
    InfoBar,
    ActiveView,
};
inline constexpr int kPreferenceSlotCount = 7;

// The participants of the preferences, visited in slot order whatever order they joined in. A
// slot holds at most one participant; the editor's bars and the active view join when they are
// created and leave when they go.
class Preferences {
public:
    void attach(PreferenceSlot slot, PreferenceParticipant* participant);
    void detach(PreferenceParticipant* participant);
    PreferenceParticipant* participant(PreferenceSlot slot) const;

    void load(StoreKey& settings);
    void save(StoreKey& settings);
    // Loads from a node that holds nothing, so every participant takes its defaults; nothing is
    // written.
    void restoreDefaults();

    // A participant's subsection: created when saving; when loading, the stored one or, when
    // there is none, an empty node whose reads give the defaults. Never null.
    static StoreKeyPtr subsection(StoreKey& settings, std::string_view name, bool save);

private:
    void exchange(StoreKey& settings, bool save);

    std::array<PreferenceParticipant*, kPreferenceSlotCount> m_slots{};
};

}  // namespace pm
