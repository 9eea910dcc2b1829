#include "export/ExporterModule.h"

#include <dlfcn.h>

#include <cstring>

namespace pm {

std::shared_ptr<ExporterModule> ExporterModule::probe(const std::string& path) {
    std::shared_ptr<ExporterModule> module(new ExporterModule(path));
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        module->m_problem = why ? why : "cannot be loaded";
        return module;
    }
    const auto* info = static_cast<const plugin::PLGFileInfo*>(dlsym(handle, "PLGFileInfo"));
    if (!info) {
        module->m_problem = "not an exporter module (no PLGFileInfo)";
    } else if (std::memcmp(info->identification, plugin::kIdentification,
                           sizeof info->identification) != 0) {
        module->m_problem = "not an exporter module (wrong identification)";
    } else if (info->version != plugin::kInterfaceVersion) {
        module->m_problem = "interface version " + std::to_string(info->version) + ", not 1";
    }
    // The text is compared byte for byte, terminator included: "4C37" is not "4c37".
    if (info &&
        std::memcmp(info->identification, plugin::kIdentification, sizeof info->identification) ==
            0 &&
        info->version == plugin::kInterfaceVersion) {
        std::memcpy(&module->m_info, info, sizeof module->m_info);
        module->m_accepted = true;
        // Kept open for the first load: opening a module maps and links it all over again.
        module->m_probed = handle;
        return module;
    }
    dlclose(handle);
    return module;
}

ExporterModule::~ExporterModule() {
    std::lock_guard lock(m_mutex);
    if (m_loadCount > 0) {
        m_loadCount = 0;
        closeLocked();
    }
    if (m_probed) {
        dlclose(m_probed);
    }
}

bool ExporterModule::load(plugin::HostServices& host) {
    std::lock_guard lock(m_mutex);
    if (m_loadCount > 0) {
        ++m_loadCount;
        return true;
    }
    if (!m_accepted || m_info.typeCode == 0) {
        return false;
    }
    void* handle = m_probed ? m_probed : dlopen(m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    m_probed = nullptr;
    if (!handle) {
        return false;
    }
    const auto init = reinterpret_cast<plugin::PLGInitFunction>(dlsym(handle, "PLGInit"));
    plugin::PlugInModuleInterface* moduleInterface = nullptr;
    if (init) {
        try {
            moduleInterface = init(&host);
        } catch (...) {
            moduleInterface = nullptr;
        }
    }
    if (!moduleInterface) {
        dlclose(handle);
        return false;
    }
    m_handle = handle;
    m_interface = moduleInterface;
    m_loadCount = 1;
    return true;
}

void ExporterModule::unload() {
    std::lock_guard lock(m_mutex);
    if (m_loadCount == 0 || --m_loadCount > 0) {
        return;
    }
    closeLocked();
}

void ExporterModule::closeLocked() {
    if (m_interface) {
        try {
            m_interface->release();
        } catch (...) {
            // A module that fails while shutting down is unloaded all the same.
        }
        m_interface = nullptr;
    }
    if (m_handle) {
        dlclose(m_handle);
        m_handle = nullptr;
    }
}

int ExporterModule::loadCount() const {
    std::lock_guard lock(m_mutex);
    return m_loadCount;
}

plugin::PlugInModuleInterface* ExporterModule::moduleInterface() const {
    std::lock_guard lock(m_mutex);
    return m_interface;
}

}  // namespace pm
