#pragma once

namespace pm {

class StoreKey;

// Something that keeps user preferences in the settings section: the application itself and the
// editor's bars and views. Each opens or creates its own subsection by name (see
// Preferences::subsection).
class PreferenceParticipant {
public:
    virtual ~PreferenceParticipant() = default;
    // Reads its values from `settings` (save false) or writes them (save true). Reads from an
    // empty node yield the defaults.
    virtual void exchangePreferences(StoreKey& settings, bool save) = 0;
};

}  // namespace pm
