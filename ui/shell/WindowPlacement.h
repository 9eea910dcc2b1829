#pragma once

#include <optional>
#include <string>

namespace pm::ui {

// Where the main window stands, as a layout keeps it in its "MainWindow" value:
// "flags:show:(minX,minY):(maxX,maxY):(left,top,right,bottom)", the first two in hexadecimal.
struct WindowPlacement {
    static constexpr unsigned kNormal = 1;
    static constexpr unsigned kMinimized = 2;
    static constexpr unsigned kMaximized = 3;

    unsigned flags = 0;
    unsigned show = kNormal;
    long minX = -1, minY = -1;
    long maxX = -1, maxY = -1;
    long left = 0, top = 0, right = 0, bottom = 0;

    // A minimized window is kept as a normal one: a layout never brings a window back minimized.
    std::string format() const;
    // Nothing unless the text gives all ten numbers.
    static std::optional<WindowPlacement> parse(const std::string& text);
    bool operator==(const WindowPlacement&) const = default;
};

}  // namespace pm::ui
