/* The interface's objects as a module written in C sees them: each is a table of plain function
 * pointers in slot order, taking the object itself first, followed by the object's fields. */
#ifndef PICTOMOVE_RAW_TABLES_H
#define PICTOMOVE_RAW_TABLES_H

#include <stdint.h>

typedef int64_t TickTime;

struct TextObject;
struct TextTable {
    const char* (*get)(const struct TextObject* self);
    void (*set)(struct TextObject* self, const char* text);
};
struct TextObject {
    const struct TextTable* table;
};

struct VideoFormatDesc {
    int32_t width;
    int32_t height;
    float pixelAspect;
    int32_t fieldOrder;
    TickTime frameDuration;
};

struct HostServices;
struct HostTable {
    void* (*mainWindow)(struct HostServices* self);
    int32_t (*messageBox)(struct HostServices* self, uint32_t flags, const char* text);
    void* (*createDialog)(struct HostServices* self, void* instance, const char* dialogTemplate,
                          void* parent, void* procedure, intptr_t parameter);
    int32_t (*editVideoFormat)(struct HostServices* self, intptr_t ignored,
                               struct VideoFormatDesc* format);
    void (*destroy)(struct HostServices* self);
};
struct HostServices {
    const struct HostTable* table;
};

struct AudioFormatDesc {
    uint32_t size;
    uint32_t formatTag;
    uint32_t channels;
    uint32_t samplesPerSecond;
    uint32_t bytesPerFrame;
    uint32_t bitsPerSample;
};

struct FrameImage {
    int32_t format;
    int32_t width;
    int32_t height;
    int32_t pitch;
    int32_t bitsPerPixel;
    uint8_t* pixels;
};

struct VideoFrame;
struct VideoFrameTable {
    void (*destroy)(struct VideoFrame* self, int32_t freeMemory);
    int32_t (*release)(struct VideoFrame* self);
    void (*setTime)(struct VideoFrame* self, TickTime time);
    TickTime* (*getTime)(struct VideoFrame* self, TickTime* out);
};
struct VideoFrame {
    const struct VideoFrameTable* table;
    int32_t refs;
    struct FrameImage image;
    int32_t fieldMode;
    float yScale;
    TickTime time;
    int32_t valid;
};

struct AudioBuffer;
struct AudioBufferTable {
    void (*destroy)(struct AudioBuffer* self, int32_t freeMemory);
    int32_t (*release)(struct AudioBuffer* self);
    void (*setTime)(struct AudioBuffer* self, TickTime time);
    TickTime* (*getTime)(struct AudioBuffer* self, TickTime* out);
    void (*setPosition)(struct AudioBuffer* self, int64_t frames);
    int64_t (*getPosition)(struct AudioBuffer* self);
};
struct AudioBuffer {
    const struct AudioBufferTable* table;
    int32_t refs;
    struct AudioFormatDesc format;
    uint32_t capacity;
    uint8_t* data;
    int64_t position;
    int32_t valid;
};

struct ExportSource;
struct ExportSourceTable {
    int32_t (*projectTitle)(struct ExportSource* self, struct TextObject* title);
    TickTime* (*duration)(struct ExportSource* self, TickTime* out);
    int32_t (*audioFormat)(struct ExportSource* self, struct AudioFormatDesc* format);
    int32_t (*audio)(struct ExportSource* self, struct AudioBuffer* buffer);
    int32_t (*videoFrame)(struct ExportSource* self, struct VideoFrame* frame);
    int32_t (*keepAlpha)(struct ExportSource* self, int32_t keep);
};
struct ExportSource {
    const struct ExportSourceTable* table;
};

#endif
