#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/MessageIds.h"
#include "export/PluginApi.h"

namespace pm {

class ExporterInstance;
class ExporterManager;
struct ExporterFormat;
class ProgressReporter;
class ProjectContext;
class SoundTrack;

// One Render Video run: the exporter writes the project on a worker thread of its own while the
// caller shows progress; Cancel on the progress makes the next frame request answer "stop".
class ExportJob {
public:
    // The instance stays with the job until it ends. `progress` may be null.
    ExportJob(ProjectContext& context, SoundTrack* sound,
              std::shared_ptr<ExporterInstance> exporter, std::string outputPath, std::string title,
              ProgressReporter* progress);
    ~ExportJob();  // waits for the run
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;

    void start();
    // Blocks until the exporter's run returned; the exporter's result (0 on failure).
    int wait();
    bool finished() const { return m_finished.load(); }

private:
    void run();

    ProjectContext& m_context;
    SoundTrack* m_sound;
    std::shared_ptr<ExporterInstance> m_exporter;
    std::string m_path;
    std::string m_title;
    ProgressReporter* m_progress;
    std::thread m_thread;
    std::atomic<bool> m_finished{false};
    int m_result = 0;
};

// The file-type rules of the Render Video dialog, as decisions for the caller to take.
struct ExportFileCheck {
    std::string path;       // the name the file will have
    bool exists = false;    // ask 516 before overwriting
    int audioQuestion = 0;  // msg::kExportAddsSound, msg::kExportDropsSound or none
};
// The exporter may rename the file; otherwise a name typed without extension gets the first one
// of the format's pattern ("*.avi;*.AVI" gives ".avi").
ExportFileCheck checkExportFile(const ExporterInstance& exporter, const std::string& typedPath,
                                bool projectHasAudio);

// The file format to offer first: the one last used, else our MP4 writer, else the first file
// format there is; null without any.
std::shared_ptr<const ExporterFormat> preferredFileFormat(const ExporterManager& manager,
                                                          const std::string& lastIdentifier);

}  // namespace pm
