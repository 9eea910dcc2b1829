#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "export/ExporterFormat.h"

namespace pm {

class StoreKey;

// An exporter object created for one run or for the Render Video dialog. It keeps its module
// loaded for its whole life.
class ExporterInstance {
public:
    ExporterInstance(std::shared_ptr<const ExporterFormat> format,
                     plugin::ExporterInterface* exporter, plugin::HostServices& host);
    ~ExporterInstance();
    ExporterInstance(const ExporterInstance&) = delete;
    ExporterInstance& operator=(const ExporterInstance&) = delete;

    const ExporterFormat& format() const { return *m_format; }
    plugin::ExporterInterface& exporter() const { return *m_exporter; }

    // Runs the export. Anything the exporter throws ends the run with result 0, and message 531
    // is shown through the host's message box.
    std::int32_t run(plugin::ExportSource& source, const char* outputPath);

    // The exporter's calls, shielded: a throwing exporter answers as a failing one.
    std::string presetName() const;
    std::int32_t capabilities() const;
    bool loadSettings(StoreKey* settings) const;
    bool saveSettings(StoreKey* settings) const;
    std::string configurationSummary() const;
    bool outputAudioFormat(plugin::AudioFormatDesc& format) const;
    bool adjustFileName(std::string& path) const;

private:
    std::shared_ptr<const ExporterFormat> m_format;
    plugin::ExporterInterface* m_exporter;
    plugin::HostServices& m_host;
    bool m_loaded = false;
};

// A text object that exporters fill in.
class HostText : public plugin::TextObject {
public:
    HostText() = default;
    explicit HostText(std::string text) : m_text(std::move(text)) {}
    virtual ~HostText() = default;
    const char* get() const override { return m_text.c_str(); }
    void set(const char* text) override { m_text = text ? text : ""; }
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};

}  // namespace pm
