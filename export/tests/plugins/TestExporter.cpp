// A small exporter module for the host's tests, built several times with different defects.
#include <dlfcn.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "export/PluginApi.h"

using namespace pm::plugin;

namespace {

// Counters that the test program exports: init calls, module releases, exporter releases, runs.
int* events() {
    static int* counters = static_cast<int*>(dlsym(RTLD_DEFAULT, "pmTestPluginEvents"));
    return counters;
}
void count(int which) {
    if (int* e = events()) {
        ++e[which];
    }
}

#if defined(PLUGIN_ELEVEN_DIRECT)
constexpr int kEntries = 11;
#elif defined(PLUGIN_NO_ENTRIES)
constexpr int kEntries = 0;
#else
constexpr int kEntries = 2;
#endif

class Info : public FormatInfoInterface {
public:
    explicit Info(int index) : m_index(index), m_id("test." + std::to_string(index)) {}
    // After the fixed slots, so the table keeps its layout.
    virtual ~Info() = default;
    void release() override { delete this; }
    std::int32_t kind() override {
#if defined(PLUGIN_ELEVEN_DIRECT)
        return 1;
#else
        return m_index == 0 ? 2 : 1;
#endif
    }
    const char* identifier() override {
        return m_id.c_str();
    }
    const char* displayName() override {
        return m_index == 0 ? "Test File" : "Test Direct";
    }
    const char* filePattern() override {
        return "*.tst";
    }
    const char* fourthText() override {
        return "fourth";
    }

private:
    int m_index;
    std::string m_id;
};

class Exporter : public ExporterInterface {
public:
    virtual ~Exporter() = default;
    void release() override {
        count(2);
        delete this;
    }
    const char* presetName() override { return "Test Preset"; }
    std::int32_t capabilities() override { return 0; }
    std::int32_t loadSettings(pm::StoreKey*) override { return 1; }
    std::int32_t saveSettings(pm::StoreKey*) override { return 1; }
    std::int32_t createConfigurationPages(PageSite*) override { return 0; }
    void configurationSummary(TextObject* summary) override { summary->set("4 x 4, no sound"); }
    std::int32_t run(ExportSource* source, const char* outputPath) override {
        count(3);
        if (outputPath && std::strcmp(outputPath, "throw") == 0) {
            throw std::runtime_error("disk on fire");
        }
        pm::TickTime length = 0;
        source->duration(&length);
        VideoFrame* frame = VideoFrame::create(kBgra32, 4, 4, kWholeFrame, 1.0f);
        frame->setTime(length / 2);
        const std::int32_t ok = frame->valid && source->videoFrame(frame);
        frame->release();
        return ok;
    }
    std::int32_t outputAudioFormat(AudioFormatDesc* format) override {
        format->formatTag = 1;
        format->channels = 2;
        format->samplesPerSecond = 48000;
        format->bitsPerSample = 16;
        format->bytesPerFrame = 4;
        return 1;
    }
    std::int32_t adjustFileName(TextObject* path) override {
        std::string name = path->get();
        if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".tst") == 0) {
            return 0;
        }
        path->set((name + ".tst").c_str());
        return 1;
    }
};

class Module : public PlugInModuleInterface {
public:
    virtual ~Module() = default;
    void release() override {
        count(1);
        delete this;
    }
    void* query(std::int32_t index, std::int32_t what, std::intptr_t) override {
        if (index < 0 || index >= kEntries) {
            return nullptr;
        }
        if (what == kQueryFormatInfo) {
            return static_cast<FormatInfoInterface*>(new Info(index));
        }
        if (what == kQueryExporter) {
            return static_cast<ExporterInterface*>(new Exporter());
        }
        return nullptr;
    }
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) PLGFileInfo PLGFileInfo = {
#if defined(PLUGIN_WRONG_CASE)
    "62365CE1-B3A5-4C37-9F63-966833BFA4F9",
#else
    "62365CE1-B3A5-4c37-9F63-966833BFA4F9",
#endif
    {0, 0, 0, 0, 0},
#if defined(PLUGIN_VERSION_TWO)
    2,
#else
    1,
#endif
    7,
};

#if !defined(PLUGIN_NO_INIT)
__attribute__((visibility("default"))) PlugInModuleInterface* PLGInit(HostServices*) {
    count(0);
    return new Module();
}
#endif
}
