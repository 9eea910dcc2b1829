#include "app/Preferences.h"

#include "app/PreferenceParticipant.h"
#include "store/NullKey.h"
#include "store/StoreKey.h"

namespace pm {

void Preferences::attach(PreferenceSlot slot, PreferenceParticipant* participant) {
    m_slots.at(static_cast<std::size_t>(slot)) = participant;
}

void Preferences::detach(PreferenceParticipant* participant) {
    for (auto& slot : m_slots) {
        if (slot == participant) {
            slot = nullptr;
        }
    }
}

PreferenceParticipant* Preferences::participant(PreferenceSlot slot) const {
    return m_slots.at(static_cast<std::size_t>(slot));
}

void Preferences::load(StoreKey& settings) {
    exchange(settings, false);
}

void Preferences::save(StoreKey& settings) {
    exchange(settings, true);
}

void Preferences::restoreDefaults() {
    StoreKeyPtr empty = NullKey::create();
    exchange(*empty, false);
}

void Preferences::exchange(StoreKey& settings, bool save) {
    // Each slot is read when its turn comes: a participant may make another leave or join.
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        if (PreferenceParticipant* participant = m_slots[i]) {
            participant->exchangePreferences(settings, save);
        }
    }
}

StoreKeyPtr Preferences::subsection(StoreKey& settings, std::string_view name, bool save) {
    StoreKeyPtr key = save ? settings.createChild(name) : settings.openChild(name);
    return key ? key : NullKey::create();
}

}  // namespace pm
