#pragma once

// The module side that every exporter module of ours shares: a fixed table of entries (each with
// identifier, displayName and pattern), one file-exporter format per entry, and an exporter
// object made for an entry on request. Compiled into each module.

#include <cstddef>
#include <new>
#include <span>

#include "export/PluginApi.h"

namespace pm::exporters {

template <typename Entry>
class EntryInfo final : public plugin::FormatInfoInterface {
public:
    explicit EntryInfo(const Entry& entry) : m_entry(entry) {}
    virtual ~EntryInfo() = default;
    void release() override { delete this; }
    std::int32_t kind() override { return 2; }  // file exporters
    const char* identifier() override { return m_entry.identifier; }
    const char* displayName() override { return m_entry.displayName; }
    const char* filePattern() override { return m_entry.pattern; }
    const char* fourthText() override { return ""; }

private:
    const Entry& m_entry;
};

// `Exporter` is constructed from an entry.
template <typename Entry, typename Exporter>
class EntryModule final : public plugin::PlugInModuleInterface {
public:
    explicit EntryModule(std::span<const Entry> entries) : m_entries(entries) {}
    virtual ~EntryModule() = default;
    void release() override { delete this; }
    void* query(std::int32_t index, std::int32_t what, std::intptr_t) override {
        if (index < 0 || static_cast<std::size_t>(index) >= m_entries.size()) {
            return nullptr;
        }
        const Entry& entry = m_entries[static_cast<std::size_t>(index)];
        if (what == plugin::kQueryFormatInfo) {
            return static_cast<plugin::FormatInfoInterface*>(new (std::nothrow)
                                                                 EntryInfo<Entry>(entry));
        }
        if (what == plugin::kQueryExporter) {
            return static_cast<plugin::ExporterInterface*>(new (std::nothrow) Exporter(entry));
        }
        return nullptr;
    }

private:
    std::span<const Entry> m_entries;
};

}  // namespace pm::exporters
