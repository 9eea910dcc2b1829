#pragma once

// The interface between the program and its exporter plug-ins (shared objects named *.mzx in the
// plug-in folder). Both sides compile this header. Objects that cross the boundary are classes
// with virtual functions whose slot order is fixed: never reorder, insert or remove a virtual
// function here. Slot 0 of the reference-counted objects is a plain virtual `destroy`, not a
// destructor, so that the table's layout does not depend on how a compiler emits destructors.

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

#include "core/TickTime.h"
#include "core/VideoFormat.h"

namespace pm {

class StoreKey;

namespace plugin {

inline constexpr char kIdentification[] = "62365CE1-B3A5-4c37-9F63-966833BFA4F9";
inline constexpr std::uint16_t kInterfaceVersion = 1;

// The record a module exports as data under the name "PLGFileInfo".
#pragma pack(push, 1)
struct PLGFileInfo {
    char identification[37];
    char reserved[5];
    std::uint16_t version;
    std::uint32_t typeCode;
};
#pragma pack(pop)
static_assert(sizeof(PLGFileInfo) == 48);

struct AudioFormatDesc {
    std::uint32_t size = 24;
    std::uint32_t formatTag = 0;  // 1: PCM audio present, 0: no audio
    std::uint32_t channels = 0;
    std::uint32_t samplesPerSecond = 0;
    std::uint32_t bytesPerFrame = 0;  // bits per sample x channels / 8
    std::uint32_t bitsPerSample = 0;
};
static_assert(sizeof(AudioFormatDesc) == 24);

// Pixel formats of frames: 0 YUY2, 1 BGRA 32-bit, 2 YUVA 32-bit, 3 BGR 24-bit.
enum PixelFormatCode : std::int32_t { kYuy2 = 0, kBgra32 = 1, kYuva32 = 2, kBgr24 = 3 };

// Rows of pixels, top row first; a negative pitch describes a bottom-up picture.
struct FrameImage {
    std::int32_t format = kBgra32;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t pitch = 0;
    std::int32_t bitsPerPixel = 0;
    std::uint8_t* pixels = nullptr;
};

inline std::int32_t bitsPerPixelOf(std::int32_t format) {
    switch (format) {
        case kYuy2:
            return 16;
        case kBgr24:
            return 24;
        default:
            return 32;
    }
}

// Base of the media objects both sides create and release. The count starts at 1. The table has
// no destructor: a virtual one would take two slots and move every later operation. Each class
// destroys itself in slot 0, which is how both sides end an object's life.
class MediaObject {
public:
    /* 0 */ virtual void destroy(int freeMemory) = 0;
    /* 1 */ virtual int release() {
        if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            destroy(1);
            return 1;
        }
        return 0;
    }
    void addRef() { m_refs.fetch_add(1, std::memory_order_relaxed); }

protected:
    MediaObject() = default;
    ~MediaObject() = default;
    MediaObject(const MediaObject&) = delete;
    MediaObject& operator=(const MediaObject&) = delete;

    // After an object's own destructor ran: frees its memory when asked.
    static void freeStorage(void* object, int freeMemory) {
        if (freeMemory) {
            ::operator delete(object);
        }
    }

private:
    std::atomic<std::int32_t> m_refs{1};
};

// VideoFrame::fieldMode: a whole frame, the second field, and (any other value) the first field.
inline constexpr std::int32_t kWholeFrame = 3;
inline constexpr std::int32_t kSecondField = 1;
inline constexpr std::int32_t kFirstField = 2;

// A video frame to be rendered, whole or one field of it. A vertical scale of 0 asks the program
// to fit the project's frame to the frame's rows, whatever the two aspects are.
class VideoFrame final : public MediaObject {
public:
    // Allocates rows of the format (pitch rounded up to 4 bytes); `valid` tells whether it worked.
    static VideoFrame* create(std::int32_t format, std::int32_t width, std::int32_t height,
                              std::int32_t fieldMode, float yScale) {
        return new (std::nothrow) VideoFrame(format, width, height, fieldMode, yScale);
    }
    // Describes rows owned by the caller.
    static VideoFrame* wrap(const FrameImage& image, TickTime time, std::int32_t fieldMode,
                            float yScale) {
        auto* frame = new (std::nothrow) VideoFrame();
        if (frame) {
            frame->image = image;
            frame->time = time;
            frame->fieldMode = fieldMode;
            frame->yScale = yScale;
            frame->valid = image.pixels ? 1 : 0;
        }
        return frame;
    }

    /* 0 */ void destroy(int freeMemory) override {
        this->~VideoFrame();
        freeStorage(this, freeMemory);
    }
    /* 2 */ virtual void setTime(TickTime t) { time = t; }
    /* 3 */ virtual TickTime* getTime(TickTime* out) {
        *out = time;
        return out;
    }

    FrameImage image;
    std::int32_t fieldMode = kWholeFrame;
    float yScale = 1.0f;
    TickTime time = 0;
    std::int32_t valid = 0;

protected:
    VideoFrame() = default;
    VideoFrame(std::int32_t format, std::int32_t width, std::int32_t height,
               std::int32_t fieldMode_, float yScale_)
        : fieldMode(fieldMode_), yScale(yScale_) {
        image.format = format;
        image.width = width;
        image.height = height;
        image.bitsPerPixel = bitsPerPixelOf(format);
        if (width > 0 && height > 0 && width <= 65536 && height <= 65536) {
            const std::int64_t rowBytes =
                (static_cast<std::int64_t>(width) * image.bitsPerPixel / 8 + 3) & ~std::int64_t{3};
            image.pitch = static_cast<std::int32_t>(rowBytes);
            m_owned = new (std::nothrow) std::uint8_t[static_cast<std::size_t>(rowBytes * height)];
            image.pixels = m_owned;
        }
        valid = image.pixels ? 1 : 0;
    }
    ~VideoFrame() { delete[] m_owned; }

private:
    std::uint8_t* m_owned = nullptr;
};

// A buffer of interleaved PCM sample frames at a position in the project's sound.
class AudioBuffer final : public MediaObject {
public:
    static AudioBuffer* create(std::uint32_t capacity, const AudioFormatDesc& format,
                               std::int64_t position) {
        return new (std::nothrow) AudioBuffer(capacity, format, position);
    }

    /* 0 */ void destroy(int freeMemory) override {
        this->~AudioBuffer();
        freeStorage(this, freeMemory);
    }
    /* 2 */ virtual void setTime(TickTime t) {
        position = static_cast<std::int64_t>(format.samplesPerSecond) * t / kTicksPerSecond;
    }
    /* 3 */ virtual TickTime* getTime(TickTime* out) {
        *out = format.samplesPerSecond
                   ? position * kTicksPerSecond / static_cast<std::int64_t>(format.samplesPerSecond)
                   : 0;
        return out;
    }
    /* 4 */ virtual void setPosition(std::int64_t frames) { position = frames; }
    /* 5 */ virtual std::int64_t getPosition() { return position; }

    AudioFormatDesc format;
    std::uint32_t capacity = 0;
    std::uint8_t* data = nullptr;
    std::int64_t position = 0;
    std::int32_t valid = 0;

protected:
    AudioBuffer(std::uint32_t capacity_, const AudioFormatDesc& format_, std::int64_t position_)
        : format(format_), capacity(capacity_), position(position_) {
        format.size = 24;
        const std::uint64_t bytes = static_cast<std::uint64_t>(capacity) * format.bytesPerFrame;
        if (bytes > 0 && bytes < (std::uint64_t{1} << 32)) {
            data = new (std::nothrow) std::uint8_t[bytes];
        }
        valid = data ? 1 : 0;
    }
    ~AudioBuffer() { delete[] data; }
};

// The program's growable text, passed where an exporter fills in or edits a text.
class TextObject {
public:
    /* 0 */ virtual const char* get() const = 0;
    /* 1 */ virtual void set(const char* text) = 0;

protected:
    ~TextObject() = default;
};

class HostServices {
public:
    /* 0 */ virtual void* mainWindow() = 0;
    /* 1 */ virtual std::int32_t messageBox(std::uint32_t flags, const char* text) = 0;
    /* 2 */ virtual void* createDialog(void* instance, const char* dialogTemplate, void* parent,
                                       void* dialogProcedure, std::intptr_t parameter) = 0;
    /* 3 */ virtual std::int32_t editVideoFormat(std::intptr_t ignored,
                                                 VideoFormatDesc* format) = 0;
    /* 4 */ virtual void destroy() = 0;

protected:
    ~HostServices() = default;
};

class ExportSource {
public:
    /* 0 */ virtual std::int32_t projectTitle(TextObject* title) = 0;
    /* 1 */ virtual TickTime* duration(TickTime* out) = 0;
    /* 2 */ virtual std::int32_t audioFormat(AudioFormatDesc* format) = 0;
    /* 3 */ virtual std::int32_t audio(AudioBuffer* buffer) = 0;
    /* 4 */ virtual std::int32_t videoFrame(VideoFrame* frame) = 0;
    /* 5 */ virtual std::int32_t keepAlpha(std::int32_t keep) = 0;

protected:
    ~ExportSource() = default;
};

class PageSite {
public:
    /* 0 */ virtual void* sheetWindow() = 0;
    /* 1 */ virtual std::int32_t addPage(void* window) = 0;

protected:
    ~PageSite() = default;
};

// Slots 0 to 2 and 6 are never called; they keep the table's layout.
class FormatInfoInterface {
public:
    /* 0 */ virtual void reserved0() {}
    /* 1 */ virtual void reserved1() {}
    /* 2 */ virtual void reserved2() {}
    /* 3 */ virtual void release() = 0;
    /* 4 */ virtual std::int32_t kind() = 0;  // 1 direct exporter, 2 file exporter
    /* 5 */ virtual const char* identifier() = 0;
    /* 6 */ virtual void reserved6() {}
    /* 7 */ virtual const char* displayName() = 0;
    /* 8 */ virtual const char* filePattern() = 0;
    /* 9 */ virtual const char* fourthText() = 0;

protected:
    ~FormatInfoInterface() = default;
};

inline constexpr std::int32_t kHasConfigurationPages = 0x1;

// Slots 0 to 2 are never called.
class ExporterInterface {
public:
    /* 0 */ virtual void reserved0() {}
    /* 1 */ virtual void reserved1() {}
    /* 2 */ virtual void reserved2() {}
    /* 3 */ virtual void release() = 0;
    /* 4 */ virtual const char* presetName() = 0;
    /* 5 */ virtual std::int32_t capabilities() = 0;
    /* 6 */ virtual std::int32_t loadSettings(StoreKey* settings) = 0;
    /* 7 */ virtual std::int32_t saveSettings(StoreKey* settings) = 0;
    /* 8 */ virtual std::int32_t createConfigurationPages(PageSite* site) = 0;
    /* 9 */ virtual void configurationSummary(TextObject* summary) = 0;
    /* 10 */ virtual std::int32_t run(ExportSource* source, const char* outputPath) = 0;
    /* 11 */ virtual std::int32_t outputAudioFormat(AudioFormatDesc* format) = 0;
    /* 12 */ virtual std::int32_t adjustFileName(TextObject* path) = 0;

protected:
    ~ExporterInterface() = default;
};

inline constexpr std::int32_t kQueryFormatInfo = 1;
inline constexpr std::int32_t kQueryExporter = 2;

class PlugInModuleInterface {
public:
    /* 0 */ virtual void release() = 0;
    // what = 1: the FormatInfoInterface of entry `index` (null ends the list); what = 2: a new
    // ExporterInterface for entry `index`.
    /* 1 */ virtual void* query(std::int32_t index, std::int32_t what, std::intptr_t argument) = 0;

protected:
    ~PlugInModuleInterface() = default;
};

// The module's entry point, exported as "PLGInit" with C linkage.
using PLGInitFunction = PlugInModuleInterface* (*)(HostServices* host);

}  // namespace plugin
}  // namespace pm
