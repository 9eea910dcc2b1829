#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "store/FileStorage.h"

namespace pm {

class ExporterInstance;

// The presets of one exporter, kept in the store file "<folder>/<preset name>.EPF": one child
// key per preset with its "Name" (and a name per language, "Name.%4x"), "ReadOnly", and the
// exporter's own settings under "Data"; the root's "Last" is the preset used last.
class ExportPresets {
public:
    struct Entry {
        std::string name;  // as shown: the system language's name, else "Name"
        int childIndex = 0;
        bool readOnly = false;
    };

    // Opens the exporter's preset file for reading and writing, creating the folder and an
    // empty file when needed; falls back to reading only. False when neither works (the list
    // stays empty).
    bool open(const std::filesystem::path& folder, const std::string& presetName);
    void close();
    bool writable() const { return m_writable; }

    const std::vector<Entry>& entries() const { return m_entries; }
    // The entry of "Last", or the first; -1 without entries.
    int selected() const;

    // Hands the preset's settings to the exporter and remembers it as "Last".
    bool apply(int entry, ExporterInstance& exporter);
    // Saves the exporter's settings as a new preset under a name made unique ("Name (1)", ...).
    // Returns the new entry's index; a failed save leaves no trace.
    std::optional<int> add(const std::string& name, ExporterInstance& exporter);
    // Deletes a preset with everything below it; read-only presets stay.
    bool remove(int entry);

    // "Name (1)", "Name (2)", ...: the first that no entry has (letter case ignored).
    static std::string uniqueName(const std::string& name, const std::vector<Entry>& entries);
    // The value name of a preset's name in a language: "Name." and the id as "%4x".
    static std::string localizedNameKey(unsigned languageId);
    // The system's language as a language identifier (0x0409 for US English), from the
    // locale environment; 0 when unknown.
    static unsigned systemLanguageId();

private:
    void reload();

    FileStorage m_storage;
    StoreKeyPtr m_root;
    bool m_writable = false;
    std::vector<Entry> m_entries;
};

}  // namespace pm
