/* Slot calls on media objects written in C, for the tests of the interface's table layout. */
#ifndef PICTOMOVE_RAW_MEDIA_CALLS_H
#define PICTOMOVE_RAW_MEDIA_CALLS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Slot 2 with `time`, then what slot 3 gives. */
int64_t rawFrameSetAndGetTime(void* frame, int64_t time);
int32_t rawFrameWidth(const void* frame);
int64_t rawFrameTimeField(const void* frame);
/* Slot 4 with `frames`, then what slot 5 gives. */
int64_t rawBufferPositionAfter(void* buffer, int64_t frames);
/* Slot 2 with `ticks` (the position it set goes to `position`), then what slot 3 gives. */
int64_t rawBufferTimeAfter(void* buffer, int64_t ticks, int64_t* position);
uint32_t rawBufferRate(const void* buffer);
/* Slot 1: non-zero when the object was destroyed. */
int32_t rawRelease(void* object);
int32_t rawReferenceCount(const void* object);

#ifdef __cplusplus
}
#endif

#endif
