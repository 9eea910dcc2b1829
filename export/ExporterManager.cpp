#include "export/ExporterManager.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace pm {

namespace {

std::string text(const char* s) {
    return s ? s : "";
}

// The button a message box would show as its default: bits 4 to 7 of the flags choose it; OK,
// the first button, otherwise.
std::int32_t defaultButton(std::uint32_t flags) {
    switch ((flags >> 4) & 0xF) {
        case 2:
            return 2;  // Cancel
        case 3:
            return 6;  // Yes
        case 4:
            return 7;  // No
        case 5:
            return 3;  // Abort
        case 6:
            return 4;  // Retry
        case 7:
            return 5;  // Ignore
        default:
            return 1;  // OK
    }
}

}  // namespace

ExporterManager::~ExporterManager() {
    // Last to first, so modules go in the reverse order of their arrival.
    while (!m_formats.empty()) {
        m_formats.pop_back();
    }
}

std::vector<std::string> ExporterManager::loadFolder(const std::string& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.path().extension() == ".mzx" && entry.is_regular_file(ec)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> started;
    for (const auto& file : files) {
        if (addModule(file.string())) {
            started.push_back(file.filename().string());
        }
    }
    return started;
}

bool ExporterManager::addModule(const std::string& path) {
    std::shared_ptr<ExporterModule> module = ExporterModule::probe(path);
    if (!module->load(m_host)) {
        const std::string name = std::filesystem::path(path).filename().string();
        m_skipped.push_back(
            name + ": " +
            (module->problem().empty() ? "the module did not start (PLGInit)" : module->problem()));
        return false;
    }
    plugin::PlugInModuleInterface* modules = module->moduleInterface();
    for (int i = 0;; ++i) {
        plugin::FormatInfoInterface* info = nullptr;
        try {
            info = static_cast<plugin::FormatInfoInterface*>(
                modules->query(i, plugin::kQueryFormatInfo, 0));
        } catch (...) {
            info = nullptr;
        }
        if (!info) {
            break;
        }
        auto format = std::make_shared<ExporterFormat>();
        format->module = module;
        format->index = i;
        try {
            format->kind = info->kind();
            format->identifier = text(info->identifier());
            format->displayName = text(info->displayName());
            format->filePattern = text(info->filePattern());
            format->fourthText = text(info->fourthText());
            info->release();
        } catch (...) {
            break;
        }
        m_formats.push_back(std::move(format));
    }
    module->unload();
    return true;
}

std::shared_ptr<const ExporterFormat> ExporterManager::formatOfKind(int kind, int n) const {
    int seen = 0;
    for (const auto& format : m_formats) {
        if ((kind == 0 || format->kind == kind) && seen++ == n) {
            return format;
        }
    }
    return nullptr;
}

int ExporterManager::nextFormatOfKind(int kind, int position) const {
    for (int i = std::max(position + 1, 0); i < static_cast<int>(m_formats.size()); ++i) {
        if (kind == 0 || m_formats[i]->kind == kind) {
            return i;
        }
    }
    return -1;
}

std::shared_ptr<const ExporterFormat> ExporterManager::findByIdentifier(
    const std::string& identifier) const {
    for (const auto& format : m_formats) {
        if (format->identifier == identifier) {
            return format;
        }
    }
    return nullptr;
}

std::unique_ptr<ExporterInstance> ExporterManager::createExporter(
    std::shared_ptr<const ExporterFormat> format) {
    if (!format || !format->module->load(m_host)) {
        return nullptr;
    }
    plugin::ExporterInterface* exporter = nullptr;
    try {
        exporter = static_cast<plugin::ExporterInterface*>(
            format->module->moduleInterface()->query(format->index, plugin::kQueryExporter, 0));
    } catch (...) {
        exporter = nullptr;
    }
    std::unique_ptr<ExporterInstance> instance;
    if (exporter) {
        instance = std::make_unique<ExporterInstance>(format, exporter, m_host);
    }
    format->module->unload();
    return instance;
}

std::int32_t HeadlessHostServices::messageBox(std::uint32_t flags, const char* message) {
    if (message) {
        std::fprintf(stderr, "pictomove: %s\n", message);
    }
    return defaultButton(flags);
}

}  // namespace pm
