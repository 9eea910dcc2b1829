#include "render/MipSchedule.h"

#include <cmath>

namespace pm {

MipSchedule::MipSchedule(int index) : m_index(index >= 0 && index <= 3 ? index : 1) {
    fill(0);
}

int MipSchedule::valueCount() const {
    switch (m_index) {
        case 1:
        case 3:
            return 11;
        case 2:
            return 8;
        default:
            return 0;
    }
}

void MipSchedule::fill(std::uint32_t width) {
    m_scale.fill(0.0);
    m_threshold.fill(0.0);
    m_scale[0] = 1.0;
    m_threshold[0] = 1.0;
    switch (m_index) {
        case 1:
        case 3:
            m_levelCount = 12;
            break;
        case 2:
            m_levelCount = 9;
            break;
        default:
            m_levelCount = 0;
            return;
    }
    const int n = valueCount();
    for (int level = 1; level <= n; ++level) {
        const auto i = static_cast<std::size_t>(level);
        switch (m_index) {
            case 1:
                m_scale[i] = std::pow(0.7, level);
                m_threshold[i] = m_scale[i];
                break;
            case 2:
                m_scale[i] = 0.65 * std::pow(0.72, level - 1);
                m_threshold[i] = level == 1 ? 0.85 : 0.85 * m_scale[i - 1];
                break;
            default:
                m_scale[i] = 0.76 * std::pow(0.75, level - 1);
                m_threshold[i] = level == 1 ? 1.0 : m_scale[i];
                break;
        }
        if (width > 0 && m_scale[i] * width < kMinLevelWidth) {
            m_levelCount = level;
        }
    }
}

double MipSchedule::scale(int level) const {
    return level >= 0 && level <= kMaxLevels ? m_scale[static_cast<std::size_t>(level)] : 0.0;
}

double MipSchedule::threshold(int level) const {
    return level >= 0 && level <= kMaxLevels ? m_threshold[static_cast<std::size_t>(level)] : 0.0;
}

}  // namespace pm
