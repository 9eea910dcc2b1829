#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "export/PluginApi.h"

namespace pm {

// One exporter module file. Its identification record is read once; the module itself is loaded
// only while something uses it (load counts nest) and unloaded again when the last user is done.
class ExporterModule {
public:
    // Reads the module's identification record. The result exists for every file, but only an
    // accepted module can be loaded.
    static std::shared_ptr<ExporterModule> probe(const std::string& path);
    ~ExporterModule();
    ExporterModule(const ExporterModule&) = delete;
    ExporterModule& operator=(const ExporterModule&) = delete;

    const std::string& path() const { return m_path; }
    bool accepted() const { return m_accepted; }
    // Why the module was not accepted (empty when it was).
    const std::string& problem() const { return m_problem; }
    const plugin::PLGFileInfo& fileInfo() const { return m_info; }

    // Loads the file and starts the module through PLGInit, or counts one more user.
    bool load(plugin::HostServices& host);
    void unload();
    int loadCount() const;
    plugin::PlugInModuleInterface* moduleInterface() const;

private:
    explicit ExporterModule(std::string path) : m_path(std::move(path)) {}
    void closeLocked();

    std::string m_path;
    bool m_accepted = false;
    std::string m_problem;
    plugin::PLGFileInfo m_info{};
    mutable std::mutex m_mutex;
    void* m_handle = nullptr;
    void* m_probed = nullptr;  // still open from probe(), until the first load
    plugin::PlugInModuleInterface* m_interface = nullptr;
    int m_loadCount = 0;
};

}  // namespace pm
