#include "ui/shell/WindowPlacement.h"

#include <cstdio>

namespace pm::ui {

std::string WindowPlacement::format() const {
    char text[160];
    const unsigned shown = show == kMinimized ? kNormal : show;
    std::snprintf(text, sizeof text, "%x:%x:(%li,%li):(%li,%li):(%li,%li,%li,%li)", flags, shown,
                  minX, minY, maxX, maxY, left, top, right, bottom);
    return text;
}

std::optional<WindowPlacement> WindowPlacement::parse(const std::string& text) {
    WindowPlacement p;
    unsigned long flags = 0;
    unsigned long show = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%lx:%lx:(%li,%li):(%li,%li):(%li,%li,%li,%li)%n", &flags, &show,
                    &p.minX, &p.minY, &p.maxX, &p.maxY, &p.left, &p.top, &p.right, &p.bottom,
                    &used) != 10 ||
        static_cast<std::size_t>(used) != text.size()) {
        return std::nullopt;
    }
    p.flags = static_cast<unsigned>(flags);
    p.show = static_cast<unsigned>(show) == kMinimized ? kNormal : static_cast<unsigned>(show);
    return p;
}

}  // namespace pm::ui
