#include "export/ExporterInstance.h"

#include "core/MessageIds.h"
#include "core/StringTable.h"

namespace pm {

namespace {
// Message 531 as an error box with an OK button.
constexpr std::uint32_t kErrorBox = 2u << 16;
constexpr std::uint32_t kOkButton = 1u << 20;
}  // namespace

ExporterInstance::ExporterInstance(std::shared_ptr<const ExporterFormat> format,
                                   plugin::ExporterInterface* exporter, plugin::HostServices& host)
    : m_format(std::move(format)), m_exporter(exporter), m_host(host) {
    m_loaded = m_format->module->load(m_host);
}

ExporterInstance::~ExporterInstance() {
    try {
        m_exporter->release();
    } catch (...) {
        // The run is over; a failure while letting go changes nothing for the user.
    }
    if (m_loaded) {
        m_format->module->unload();
    }
}

std::int32_t ExporterInstance::run(plugin::ExportSource& source, const char* outputPath) {
    try {
        return m_exporter->run(&source, outputPath);
    } catch (...) {
        const std::string text = strings::text(static_cast<int>(msg::kExporterFailed));
        m_host.messageBox(msg::kExporterFailed | kErrorBox | kOkButton, text.c_str());
        return 0;
    }
}

std::string ExporterInstance::presetName() const {
    try {
        const char* name = m_exporter->presetName();
        return name ? name : "";
    } catch (...) {
        return {};
    }
}

std::int32_t ExporterInstance::capabilities() const {
    try {
        return m_exporter->capabilities();
    } catch (...) {
        return 0;
    }
}

bool ExporterInstance::loadSettings(StoreKey* settings) const {
    try {
        return m_exporter->loadSettings(settings) != 0;
    } catch (...) {
        return false;
    }
}

bool ExporterInstance::saveSettings(StoreKey* settings) const {
    try {
        return m_exporter->saveSettings(settings) != 0;
    } catch (...) {
        return false;
    }
}

std::string ExporterInstance::configurationSummary() const {
    HostText text;
    try {
        m_exporter->configurationSummary(&text);
    } catch (...) {
        return {};
    }
    return text.text();
}

bool ExporterInstance::outputAudioFormat(plugin::AudioFormatDesc& format) const {
    format = plugin::AudioFormatDesc{};
    format.size = 24;
    try {
        return m_exporter->outputAudioFormat(&format) != 0;
    } catch (...) {
        return false;
    }
}

bool ExporterInstance::adjustFileName(std::string& path) const {
    HostText text(path);
    try {
        if (m_exporter->adjustFileName(&text) == 0) {
            return false;
        }
    } catch (...) {
        return false;
    }
    path = text.text();
    return true;
}

}  // namespace pm
