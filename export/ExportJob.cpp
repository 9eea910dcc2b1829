#include "export/ExportJob.h"

#include <filesystem>

#include "core/MessageIds.h"
#include "core/ProgressReporter.h"
#include "core/StringTable.h"
#include "export/ExporterInstance.h"
#include "export/ExporterManager.h"
#include "export/ProjectExportSource.h"

namespace pm {

namespace {
constexpr const char* kOurDefaultFormat = "pictomove.ffmpeg.mp4";
}

ExportJob::ExportJob(ProjectContext& context, SoundTrack* sound,
                     std::shared_ptr<ExporterInstance> exporter, std::string outputPath,
                     std::string title, ProgressReporter* progress)
    : m_context(context),
      m_sound(sound),
      m_exporter(std::move(exporter)),
      m_path(std::move(outputPath)),
      m_title(std::move(title)),
      m_progress(progress) {}

ExportJob::~ExportJob() {
    wait();
}

void ExportJob::start() {
    if (!m_thread.joinable() && !m_finished) {
        m_thread = std::thread([this] { run(); });
    }
}

int ExportJob::wait() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return m_result;
}

void ExportJob::run() {
    if (m_progress) {
        m_progress->begin(std::filesystem::path(m_path).stem().string());
    }
    {
        // The source puts the project in its export state for exactly the run.
        ProjectExportSource source(m_context, m_sound, m_progress, m_title);
        // The instance shows 531 itself for anything the exporter throws.
        m_result = m_exporter->run(source, m_path.empty() ? nullptr : m_path.c_str());
    }
    if (m_progress) {
        m_progress->end();
    }
    m_finished = true;
}

ExportFileCheck checkExportFile(const ExporterInstance& exporter, const std::string& typedPath,
                                bool projectHasAudio) {
    ExportFileCheck check;
    check.path = typedPath;
    if (!exporter.adjustFileName(check.path)) {
        check.path = typedPath;
        const std::filesystem::path typed(typedPath);
        if (!typed.has_extension()) {
            const std::string& pattern = exporter.format().filePattern;
            const auto dot = pattern.find('.');
            if (dot != std::string::npos) {
                check.path += pattern.substr(dot, pattern.find(';', dot) - dot);
            }
        }
    }
    std::error_code ec;
    check.exists = std::filesystem::exists(check.path, ec);
    plugin::AudioFormatDesc audio;
    if (exporter.outputAudioFormat(audio)) {
        const bool writesAudio =
            audio.formatTag == 1 && audio.channels != 0 && audio.samplesPerSecond != 0;
        if (writesAudio && !projectHasAudio) {
            check.audioQuestion = msg::kExportAddsSound;
        } else if (!writesAudio && projectHasAudio) {
            check.audioQuestion = msg::kExportDropsSound;
        }
    }
    return check;
}

std::shared_ptr<const ExporterFormat> preferredFileFormat(const ExporterManager& manager,
                                                          const std::string& lastIdentifier) {
    for (const std::string& id : {lastIdentifier, std::string(kOurDefaultFormat)}) {
        if (auto format = manager.findByIdentifier(id); format && format->kind == kFileExporter) {
            return format;
        }
    }
    return manager.formatOfKind(kFileExporter, 0);
}

}  // namespace pm
