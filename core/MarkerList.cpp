#include "core/MarkerList.h"

#include <algorithm>
#include <cstdlib>

namespace pm {

namespace {
constexpr TickTime kFarAway = 486'000'000'000;  // 18,000 s
}

bool MarkerList::add(const Scope& scope, TickTime relativeTime, std::int32_t number,
                     TickTime* absolute) {
    // Numbers name markers across the whole project, so they are checked across it too.
    if (number != 0 && std::any_of(m_markers.begin(), m_markers.end(),
                                   [number](const Marker& m) { return m.number == number; })) {
        return false;
    }
    const TickTime time = scope.origin() + relativeTime;
    const auto at = std::upper_bound(m_markers.begin(), m_markers.end(), time,
                                     [](TickTime t, const Marker& m) { return t < m.time; });
    m_markers.insert(at, Marker{number, time});
    if (absolute) {
        *absolute = time;
    }
    return true;
}

int MarkerList::absoluteIndex(const Scope& scope, int index) const {
    if (index < 0) {
        return -1;
    }
    int seen = 0;
    for (std::size_t i = 0; i < m_markers.size(); ++i) {
        if (scope.contains(m_markers[i].time) && seen++ == index) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool MarkerList::remove(const Scope& scope, int index, TickTime* absolute) {
    const int i = absoluteIndex(scope, index);
    if (i < 0) {
        return false;
    }
    if (absolute) {
        *absolute = m_markers[i].time;
    }
    m_markers.erase(m_markers.begin() + i);
    return true;
}

int MarkerList::nearest(const Scope& scope, TickTime relativeTime) const {
    const TickTime time = scope.origin() + relativeTime;
    TickTime best = kFarAway;
    int bestIndex = -1;
    int index = -1;
    for (const Marker& m : m_markers) {
        if (!scope.contains(m.time)) {
            continue;
        }
        ++index;
        const TickTime distance = std::llabs(m.time - time);
        // Sorted by time: once the distance grows, it only grows. Equal distances (markers sharing
        // a time) do not end the scan, or a marker behind its twin could never be found.
        if (distance > best) {
            break;
        }
        if (distance < best) {
            best = distance;
            bestIndex = index;
        }
    }
    return bestIndex;
}

int MarkerList::count(const Scope& scope) const {
    return static_cast<int>(std::count_if(m_markers.begin(), m_markers.end(),
                                          [&](const Marker& m) { return scope.contains(m.time); }));
}

bool MarkerList::get(const Scope& scope, int index, Marker& out) const {
    const int i = absoluteIndex(scope, index);
    if (i < 0) {
        return false;
    }
    out = m_markers[i];
    out.time -= scope.origin();
    return true;
}

}  // namespace pm
