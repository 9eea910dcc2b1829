#pragma once

#include <cstdint>

#include "core/Project.h"
#include "render/ImageBuffer.h"
#include "render/RenderModes.h"

namespace pm::detail {

// The rows of one field as a picture of their own (every other row, half the height); the whole
// frame for FieldMode::Frame.
inline ImageBuffer fieldRows(const ImageBuffer& frame, FieldMode fields) {
    if (fields == FieldMode::Frame) {
        return frame;
    }
    ImageBuffer view = frame;
    const bool second = fields == FieldMode::Second;
    view.pixels = frame.pixels + (second ? frame.pitch : 0);
    view.pitch = frame.pitch * 2;
    view.height = second ? frame.height / 2 : (frame.height + 1) / 2;
    return view;
}

// The whole frame an interlaced field belongs to: twice the rows, half the pitch.
inline ImageBuffer frameOfField(const ImageBuffer& field, bool isFirstField) {
    ImageBuffer frame = field;
    frame.pitch = field.pitch / 2;
    frame.height = field.height * 2;
    if (!isFirstField) {
        frame.pixels = field.pixels - frame.pitch;
    }
    return frame;
}

// The project's background colour as the fill routine takes it.
inline std::uint32_t packedColour(const Project::Colour& c) {
    return static_cast<std::uint32_t>(c.r) | (static_cast<std::uint32_t>(c.g) << 8) |
           (static_cast<std::uint32_t>(c.b) << 16) | (static_cast<std::uint32_t>(c.a) << 24);
}

}  // namespace pm::detail
