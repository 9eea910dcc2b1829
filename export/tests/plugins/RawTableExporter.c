/* An exporter module written in C against the interface as documented: every object is a table
 * of plain function pointers in slot order, with the object itself as the first argument. It
 * knows nothing of the program's C++ header, so a table that the header lays out differently
 * makes it call the wrong function.
 *
 * A run writes 64 x 36 BGRA frames, two a second, to the output path, and beside it
 * "<output>.log": one line for every call it made to the program and what came back, and for
 * every call the program made to it. */

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

#include "RawTables.h"

enum { kWidth = 64, kHeight = 36, kBgra32 = 1 };
static const TickTime kStep = 13500000; /* half a second */

/* ---- Our own objects ---- */

static struct HostServices* g_host;
static char g_events[4096];

static void note(const char* text) {
    if (strlen(g_events) + strlen(text) + 2 < sizeof g_events) {
        strcat(g_events, text);
        strcat(g_events, "\n");
    }
}

/* A slot the program must never call. */
static void neverCalled(void* self) {
    (void)self;
    fprintf(stderr, "raw table exporter: a reserved slot was called\n");
    abort();
}

struct OwnText {
    struct TextObject base;
    char text[512];
};
static const char* ownTextGet(const struct TextObject* self) {
    return ((const struct OwnText*)self)->text;
}
static void ownTextSet(struct TextObject* self, const char* text) {
    struct OwnText* own = (struct OwnText*)self;
    snprintf(own->text, sizeof own->text, "%s", text ? text : "");
}
static const struct TextTable kOwnTextTable = {ownTextGet, ownTextSet};

/* Media objects made here, as a module that does not share the program's code must. */
static void frameDestroy(struct VideoFrame* self, int32_t freeMemory) {
    free(self->image.pixels);
    if (freeMemory) {
        free(self);
    }
}
static int32_t frameRelease(struct VideoFrame* self) {
    if (--self->refs == 0) {
        self->table->destroy(self, 1);
        return 1;
    }
    return 0;
}
static void frameSetTime(struct VideoFrame* self, TickTime time) {
    self->time = time;
}
static TickTime* frameGetTime(struct VideoFrame* self, TickTime* out) {
    *out = self->time;
    return out;
}
static const struct VideoFrameTable kFrameTable = {frameDestroy, frameRelease, frameSetTime,
                                                   frameGetTime};

static void bufferDestroy(struct AudioBuffer* self, int32_t freeMemory) {
    free(self->data);
    if (freeMemory) {
        free(self);
    }
}
static int32_t bufferRelease(struct AudioBuffer* self) {
    if (--self->refs == 0) {
        self->table->destroy(self, 1);
        return 1;
    }
    return 0;
}
static void bufferSetTime(struct AudioBuffer* self, TickTime time) {
    self->position = (int64_t)self->format.samplesPerSecond * time / 27000000;
}
static TickTime* bufferGetTime(struct AudioBuffer* self, TickTime* out) {
    *out = self->position * 27000000 / (int64_t)self->format.samplesPerSecond;
    return out;
}
static void bufferSetPosition(struct AudioBuffer* self, int64_t frames) {
    self->position = frames;
}
static int64_t bufferGetPosition(struct AudioBuffer* self) {
    return self->position;
}
static const struct AudioBufferTable kBufferTable = {bufferDestroy,     bufferRelease,
                                                     bufferSetTime,     bufferGetTime,
                                                     bufferSetPosition, bufferGetPosition};

/* ---- The format entry ---- */

struct FormatInfoTable {
    void (*reserved0)(void* self);
    void (*reserved1)(void* self);
    void (*reserved2)(void* self);
    void (*release)(void* self);
    int32_t (*kind)(void* self);
    const char* (*identifier)(void* self);
    void (*reserved6)(void* self);
    const char* (*displayName)(void* self);
    const char* (*filePattern)(void* self);
    const char* (*fourthText)(void* self);
};
struct FormatInfo {
    const struct FormatInfoTable* table;
};
static void infoRelease(void* self) {
    (void)self;
}
static int32_t infoKind(void* self) {
    (void)self;
    return 2;
}
static const char* infoIdentifier(void* self) {
    (void)self;
    return "pictomove.test.rawtable";
}
static const char* infoDisplayName(void* self) {
    (void)self;
    return "Raw table test frames";
}
static const char* infoFilePattern(void* self) {
    (void)self;
    return "*.frames";
}
static const char* infoFourthText(void* self) {
    (void)self;
    return "fourth";
}
static const struct FormatInfoTable kInfoTable = {
    neverCalled,    neverCalled, neverCalled,     infoRelease,     infoKind,
    infoIdentifier, neverCalled, infoDisplayName, infoFilePattern, infoFourthText};
static struct FormatInfo g_info = {&kInfoTable};

/* ---- The exporter ---- */

struct Exporter;
struct ExporterTable {
    void (*reserved0)(void* self);
    void (*reserved1)(void* self);
    void (*reserved2)(void* self);
    void (*release)(struct Exporter* self);
    const char* (*presetName)(struct Exporter* self);
    int32_t (*capabilities)(struct Exporter* self);
    int32_t (*loadSettings)(struct Exporter* self, void* settings);
    int32_t (*saveSettings)(struct Exporter* self, void* settings);
    int32_t (*createConfigurationPages)(struct Exporter* self, void* site);
    void (*configurationSummary)(struct Exporter* self, struct TextObject* summary);
    int32_t (*run)(struct Exporter* self, struct ExportSource* source, const char* outputPath);
    int32_t (*outputAudioFormat)(struct Exporter* self, struct AudioFormatDesc* format);
    int32_t (*adjustFileName)(struct Exporter* self, struct TextObject* path);
};
struct Exporter {
    const struct ExporterTable* table;
};

static void exporterRelease(struct Exporter* self) {
    free(self);
}
static const char* exporterPresetName(struct Exporter* self) {
    (void)self;
    note("called presetName");
    return "Raw Table Test";
}
static int32_t exporterCapabilities(struct Exporter* self) {
    (void)self;
    note("called capabilities");
    return 0;
}
static int32_t exporterLoadSettings(struct Exporter* self, void* settings) {
    (void)self;
    note(settings ? "called loadSettings" : "called loadSettings without settings");
    return 1;
}
static int32_t exporterSaveSettings(struct Exporter* self, void* settings) {
    (void)self;
    (void)settings;
    note("called saveSettings");
    return 1;
}
static int32_t exporterPages(struct Exporter* self, void* site) {
    (void)self;
    (void)site;
    note("called createConfigurationPages");
    return 0;
}
static void exporterSummary(struct Exporter* self, struct TextObject* summary) {
    (void)self;
    note("called configurationSummary");
    summary->table->set(summary, "64 x 36, two frames a second");
}
static int32_t exporterAudioFormat(struct Exporter* self, struct AudioFormatDesc* format) {
    (void)self;
    note("called outputAudioFormat");
    format->formatTag = 1;
    format->channels = 2;
    format->samplesPerSecond = 48000;
    format->bitsPerSample = 16;
    format->bytesPerFrame = 4;
    return 1;
}
static int32_t exporterAdjustFileName(struct Exporter* self, struct TextObject* path) {
    (void)self;
    char line[600];
    snprintf(line, sizeof line, "called adjustFileName with %s", path->table->get(path));
    note(line);
    return 0;
}

static void callHost(void) {
    char line[200];
    struct VideoFormatDesc format = {720, 576, 1.0f, 0, 1080000};
    void* window = g_host->table->mainWindow(g_host);
    const int32_t answer = g_host->table->messageBox(g_host, 0, "raw table exporter: hello");
    void* dialog = g_host->table->createDialog(g_host, NULL, "page", NULL, NULL, 0);
    const int32_t edited = g_host->table->editVideoFormat(g_host, 0, &format);
    snprintf(line, sizeof line, "host window %s, message box %d, dialog %s, video format %d",
             window ? "set" : "none", (int)answer, dialog ? "made" : "none", (int)edited);
    note(line);
}

static int32_t readSound(struct ExportSource* source, char* line, size_t size) {
    struct AudioBuffer* buffer = calloc(1, sizeof *buffer);
    if (!buffer) {
        return 0;
    }
    buffer->table = &kBufferTable;
    buffer->refs = 1;
    buffer->format = (struct AudioFormatDesc){24, 1, 2, 48000, 4, 16};
    buffer->capacity = 4800;
    buffer->data = malloc(4800 * 4);
    buffer->valid = buffer->data != NULL;
    /* One second in: the host reads the position, however it was set. */
    buffer->table->setTime(buffer, 27000000);
    const int32_t ok = source->table->audio(source, buffer);
    long long loud = 0;
    for (uint32_t i = 0; ok && i < 4800 * 2; ++i) {
        int16_t v;
        memcpy(&v, buffer->data + 2 * i, 2);
        loud += v < 0 ? -v : v;
    }
    snprintf(line, size, "audio %d at %lld, level %lld", (int)ok,
             (long long)buffer->table->getPosition(buffer), loud / (4800 * 2));
    buffer->table->release(buffer);
    return ok;
}

static int32_t writeFrames(struct ExportSource* source, TickTime duration, FILE* out) {
    struct VideoFrame* frame = calloc(1, sizeof *frame);
    if (!frame) {
        return 0;
    }
    frame->table = &kFrameTable;
    frame->refs = 1;
    frame->image = (struct FrameImage){kBgra32, kWidth, kHeight, kWidth * 4, 32, NULL};
    frame->image.pixels = malloc(kWidth * 4 * kHeight);
    frame->fieldMode = 3;
    frame->yScale = 0.0f;
    frame->valid = frame->image.pixels != NULL;
    int32_t ok = frame->valid;
    int frames = 0;
    for (TickTime t = 0; ok && t < duration; t += kStep) {
        frame->table->setTime(frame, t);
        ok = source->table->videoFrame(source, frame) &&
             fwrite(frame->image.pixels, kWidth * 4, kHeight, out) == kHeight;
        frames += ok;
    }
    char line[64];
    snprintf(line, sizeof line, "frames %d", frames);
    note(line);
    frame->table->release(frame);
    return ok;
}

static int32_t exporterRun(struct Exporter* self, struct ExportSource* source,
                           const char* outputPath) {
    (void)self;
    char line[700];
    if (!outputPath) {
        return 0;
    }
    callHost();
    struct OwnText title = {{&kOwnTextTable}, ""};
    const int32_t hasTitle = source->table->projectTitle(source, &title.base);
    snprintf(line, sizeof line, "title %d %s", (int)hasTitle, title.text);
    note(line);
    TickTime duration = -1;
    const TickTime* given = source->table->duration(source, &duration);
    snprintf(line, sizeof line, "duration %lld%s", (long long)duration,
             given == &duration ? "" : " (another pointer came back)");
    note(line);
    struct AudioFormatDesc sound = {24, 0, 0, 0, 0, 0};
    const int32_t hasSound = source->table->audioFormat(source, &sound);
    snprintf(line, sizeof line, "sound %d: tag %u, %u channels, %u Hz, %u bits", (int)hasSound,
             sound.formatTag, sound.channels, sound.samplesPerSecond, sound.bitsPerSample);
    note(line);
    const int32_t flattened = source->table->keepAlpha(source, 0);
    snprintf(line, sizeof line, "keep alpha was %d", (int)flattened);
    note(line);
    readSound(source, line, sizeof line);
    note(line);

    FILE* out = fopen(outputPath, "wb");
    int32_t ok = out != NULL && writeFrames(source, duration, out);
    if (out && fclose(out) != 0) {
        ok = 0;
    }
    char logPath[1024];
    snprintf(logPath, sizeof logPath, "%s.log", outputPath);
    FILE* log = fopen(logPath, "w");
    if (!log || fputs(g_events, log) < 0 || fclose(log) != 0) {
        ok = 0;
    }
    return ok;
}

static const struct ExporterTable kExporterTable = {
    neverCalled,           neverCalled,          neverCalled,          exporterRelease,
    exporterPresetName,    exporterCapabilities, exporterLoadSettings, exporterSaveSettings,
    exporterPages,         exporterSummary,      exporterRun,          exporterAudioFormat,
    exporterAdjustFileName};

/* ---- The module ---- */

struct Module;
struct ModuleTable {
    void (*release)(struct Module* self);
    void* (*query)(struct Module* self, int32_t index, int32_t what, intptr_t argument);
};
struct Module {
    const struct ModuleTable* table;
};

static void moduleRelease(struct Module* self) {
    (void)self;
    g_host = NULL;
}
static void* moduleQuery(struct Module* self, int32_t index, int32_t what, intptr_t argument) {
    (void)self;
    (void)argument;
    if (index != 0) {
        return NULL;
    }
    if (what == 1) {
        return &g_info;
    }
    if (what == 2) {
        struct Exporter* exporter = malloc(sizeof *exporter);
        if (exporter) {
            exporter->table = &kExporterTable;
        }
        return exporter;
    }
    return NULL;
}
static const struct ModuleTable kModuleTable = {moduleRelease, moduleQuery};
static struct Module g_module = {&kModuleTable};

#pragma pack(push, 1)
struct FileInfo {
    char identification[37];
    char reserved[5];
    uint16_t version;
    uint32_t typeCode;
};
#pragma pack(pop)

EXPORT const struct FileInfo PLGFileInfo = {
    "62365CE1-B3A5-4c37-9F63-966833BFA4F9", {0}, 1, 0x52415754};

EXPORT struct Module* PLGInit(struct HostServices* host) {
    g_host = host;
    g_events[0] = '\0';
    return &g_module;
}
