#pragma once

#include <cstdint>
#include <vector>

#include "core/TickTime.h"

namespace pm {

struct Marker {
    std::int32_t number = 0;  // 0: no number; other numbers are unique
    TickTime time = 0;        // absolute project time
};

// Markers sorted by time. Views see them through a scope: the whole project, or one scene's span
// with times relative to its start.
class MarkerList {
public:
    struct Scope {
        TickTime start = 0;
        TickTime end = 0;
        bool whole = true;
        bool contains(TickTime t) const { return whole || (t >= start && t <= end); }
        TickTime origin() const { return whole ? 0 : start; }
    };
    static Scope wholeProject() { return {}; }
    static Scope span(TickTime start, TickTime end) { return {start, end, false}; }

    // Inserts after markers at the same time. Fails when a non-zero number is already used.
    bool add(const Scope& scope, TickTime relativeTime, std::int32_t number, TickTime* absolute);
    bool remove(const Scope& scope, int index, TickTime* absolute);
    // Index in scope of the closest marker, -1 when the scope has none.
    int nearest(const Scope& scope, TickTime relativeTime) const;
    int count(const Scope& scope) const;
    bool get(const Scope& scope, int index, Marker& out) const;  // time relative to the scope
    void clear() { m_markers.clear(); }
    const std::vector<Marker>& all() const { return m_markers; }

private:
    int absoluteIndex(const Scope& scope, int index) const;

    std::vector<Marker> m_markers;
};

}  // namespace pm
