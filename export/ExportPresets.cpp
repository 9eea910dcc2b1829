#include "export/ExportPresets.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "export/ExporterInstance.h"
#include "store/StoreKey.h"

namespace pm {

namespace {

constexpr std::size_t kNameLength = 260;

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

bool ExportPresets::open(const std::filesystem::path& folder, const std::string& presetName) {
    close();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::filesystem::path file = folder / (presetName + ".EPF");
    if (m_storage.open(file, FileStorage::kOpenOrCreate)) {
        m_writable = true;
    } else if (m_storage.open(file, FileStorage::kReadOnly)) {
        m_writable = false;
    } else {
        return false;
    }
    m_root = m_storage.root();
    if (!m_root) {
        close();
        return false;
    }
    reload();
    return true;
}

void ExportPresets::close() {
    m_entries.clear();
    m_root.reset();
    if (m_storage.isOpen()) {
        m_storage.close();
    }
    m_writable = false;
}

void ExportPresets::reload() {
    m_entries.clear();
    const std::string localized = localizedNameKey(systemLanguageId());
    char child[kNameLength + 1];
    for (int i = 0; m_root && m_root->childName(i, child, sizeof child); ++i) {
        StoreKeyPtr preset = m_root->openChild(child);
        if (!preset) {
            continue;
        }
        Entry e;
        e.name = preset->readString(localized);
        if (e.name.empty()) {
            e.name = preset->readString("Name");
        }
        e.name = e.name.substr(0, kNameLength);
        e.childIndex = i;
        e.readOnly = preset->getInt("ReadOnly", 0) != 0 || !m_writable;
        m_entries.push_back(std::move(e));
    }
}

int ExportPresets::selected() const {
    if (m_entries.empty()) {
        return -1;
    }
    const int last = m_root ? m_root->getInt("Last", -1) : -1;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].childIndex == last) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

bool ExportPresets::apply(int entry, ExporterInstance& exporter) {
    if (entry < 0 || entry >= static_cast<int>(m_entries.size())) {
        return false;
    }
    const Entry& e = m_entries[static_cast<std::size_t>(entry)];
    StoreKeyPtr preset = m_root->openChildAt(e.childIndex);
    StoreKeyPtr data = preset ? preset->openChild("Data") : StoreKeyPtr();
    if (!data || !exporter.loadSettings(data.get())) {
        return false;
    }
    if (m_writable) {
        m_root->setInt("Last", e.childIndex);
    }
    return true;
}

std::optional<int> ExportPresets::add(const std::string& name, ExporterInstance& exporter) {
    if (!m_writable || name.empty()) {
        return std::nullopt;
    }
    const std::string unique = uniqueName(name.substr(0, kNameLength - 1), m_entries);
    // Preset keys are named by the preset: a name already used by a key gets a number.
    StoreKeyPtr preset = m_root->createChild(unique);
    StoreKeyPtr data = preset ? preset->createChild("Data") : StoreKeyPtr();
    if (!data || !exporter.saveSettings(data.get()) || !preset->setString("Name", unique)) {
        data.reset();
        preset.reset();
        m_root->deleteChild(unique);
        return std::nullopt;
    }
    data.reset();
    preset.reset();
    reload();
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].name == unique) {
            m_root->setInt("Last", m_entries[i].childIndex);
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

bool ExportPresets::remove(int entry) {
    if (!m_writable || entry < 0 || entry >= static_cast<int>(m_entries.size()) ||
        m_entries[static_cast<std::size_t>(entry)].readOnly) {
        return false;
    }
    if (!m_root->deleteChildAt(m_entries[static_cast<std::size_t>(entry)].childIndex)) {
        return false;
    }
    reload();
    return true;
}

std::string ExportPresets::uniqueName(const std::string& name, const std::vector<Entry>& entries) {
    const auto taken = [&](const std::string& candidate) {
        const std::string key = lower(candidate);
        return std::any_of(entries.begin(), entries.end(),
                           [&](const Entry& e) { return lower(e.name) == key; });
    };
    if (!taken(name)) {
        return name;
    }
    for (int i = 1;; ++i) {
        const std::string candidate = name + " (" + std::to_string(i) + ")";
        if (!taken(candidate)) {
            return candidate;
        }
    }
}

std::string ExportPresets::localizedNameKey(unsigned languageId) {
    char key[32];
    std::snprintf(key, sizeof key, "Name.%4x", languageId);
    return key;
}

unsigned ExportPresets::systemLanguageId() {
    const char* locale = std::getenv("LC_ALL");
    if (!locale || !*locale) {
        locale = std::getenv("LC_MESSAGES");
    }
    if (!locale || !*locale) {
        locale = std::getenv("LANG");
    }
    if (!locale) {
        return 0;
    }
    const std::string l(locale);
    struct Known {
        const char* prefix;
        unsigned id;
    };
    // The most specific first.
    static const Known kKnown[] = {
        {"en_GB", 0x0809}, {"en", 0x0409}, {"ja", 0x0411}, {"de", 0x0407},
        {"fr", 0x040c},    {"es", 0x0c0a}, {"it", 0x0410}, {"nl", 0x0413},
    };
    for (const Known& k : kKnown) {
        if (l.rfind(k.prefix, 0) == 0) {
            return k.id;
        }
    }
    return 0;
}

}  // namespace pm
