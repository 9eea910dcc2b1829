#pragma once

#include <memory>
#include <string>
#include <vector>

#include "export/ExporterFormat.h"
#include "export/ExporterInstance.h"

namespace pm {

// The formats of every exporter module found in the plug-in folder, in module order (modules
// sorted by file name) and entry order. Modules are unloaded again after their formats are read.
class ExporterManager {
public:
    explicit ExporterManager(plugin::HostServices& host) : m_host(host) {}
    ~ExporterManager();
    ExporterManager(const ExporterManager&) = delete;
    ExporterManager& operator=(const ExporterManager&) = delete;

    // Reads every "*.mzx" file of the folder. Returns the file names of the modules that started
    // (for the start-up screen); the others offer nothing.
    std::vector<std::string> loadFolder(const std::string& folder);
    // Adds one module file; true when it started.
    bool addModule(const std::string& path);
    // The module files that offered nothing, each with the reason: "file: reason".
    const std::vector<std::string>& skipped() const { return m_skipped; }

    const std::vector<std::shared_ptr<const ExporterFormat>>& formats() const { return m_formats; }
    // The n-th format of a kind (0 matches every kind), or null.
    std::shared_ptr<const ExporterFormat> formatOfKind(int kind, int n) const;
    // Index of the next format of a kind after `position` (-1 starts at the beginning), or -1.
    int nextFormatOfKind(int kind, int position) const;
    std::shared_ptr<const ExporterFormat> findByIdentifier(const std::string& identifier) const;

    // A new exporter object for a run or a dialog, or null when the module will not give one.
    std::unique_ptr<ExporterInstance> createExporter(std::shared_ptr<const ExporterFormat> format);

    plugin::HostServices& host() const { return m_host; }

private:
    plugin::HostServices& m_host;
    std::vector<std::shared_ptr<const ExporterFormat>> m_formats;
    std::vector<std::string> m_skipped;
};

// Host services for a program without windows: no main window, message boxes answer with their
// default button and print the text to standard error, no dialogs.
class HeadlessHostServices : public plugin::HostServices {
public:
    virtual ~HeadlessHostServices() = default;
    void* mainWindow() override { return nullptr; }
    std::int32_t messageBox(std::uint32_t flags, const char* text) override;
    void* createDialog(void*, const char*, void*, void*, std::intptr_t) override { return nullptr; }
    std::int32_t editVideoFormat(std::intptr_t, VideoFormatDesc*) override { return 0; }
    void destroy() override {}
};

}  // namespace pm
