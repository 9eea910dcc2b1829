/* Calls into media objects that the program's header made, through the documented slot order
 * only, as a module written in another language would. */
#include "RawMediaCalls.h"

#include "plugins/RawTables.h"

int64_t rawFrameSetAndGetTime(void* object, int64_t time) {
    struct VideoFrame* frame = object;
    frame->table->setTime(frame, time);
    int64_t out = -1;
    return frame->table->getTime(frame, &out) == &out ? out : -2;
}

int32_t rawFrameWidth(const void* object) {
    const struct VideoFrame* frame = object;
    return frame->image.width;
}

int64_t rawFrameTimeField(const void* object) {
    const struct VideoFrame* frame = object;
    return frame->time;
}

int64_t rawBufferPositionAfter(void* object, int64_t frames) {
    struct AudioBuffer* buffer = object;
    buffer->table->setPosition(buffer, frames);
    return buffer->table->getPosition(buffer);
}

int64_t rawBufferTimeAfter(void* object, int64_t ticks, int64_t* position) {
    struct AudioBuffer* buffer = object;
    buffer->table->setTime(buffer, ticks);
    *position = buffer->position;
    int64_t out = -1;
    return buffer->table->getTime(buffer, &out) == &out ? out : -2;
}

uint32_t rawBufferRate(const void* object) {
    const struct AudioBuffer* buffer = object;
    return buffer->format.samplesPerSecond;
}

int32_t rawRelease(void* object) {
    /* Slot 1 sits at the same place in both kinds of media object. */
    struct VideoFrame* frame = object;
    return frame->table->release(frame);
}

int32_t rawReferenceCount(const void* object) {
    const struct VideoFrame* frame = object;
    return frame->refs;
}
