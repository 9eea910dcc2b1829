#pragma once

#include <array>
#include <cstdint>

namespace pm {

// The sizes of a picture's reduced copies and the needed scales at which each is detailed
// enough. Index 1 to 3 picks one of three fixed progressions; 0 means no reduced copies.
class MipSchedule {
public:
    static constexpr int kMaxLevels = 11;
    static constexpr int kMinLevelWidth = 100;

    explicit MipSchedule(int index = 1);

    // Fills the tables for a full picture `width` pixels wide.
    void fill(std::uint32_t width);

    int index() const { return m_index; }
    // Levels 1..levelCount() - 1 are candidates for building.
    int levelCount() const { return m_levelCount; }
    // Scale of level L against the full picture (level 0 is 1).
    double scale(int level) const;
    // Level L serves needed scales below this.
    double threshold(int level) const;
    // Values the schedule defines: 11, or 8 for schedule 2; 0 without levels.
    int valueCount() const;

private:
    int m_index;
    int m_levelCount = 0;
    std::array<double, kMaxLevels + 1> m_scale{};
    std::array<double, kMaxLevels + 1> m_threshold{};
};

}  // namespace pm
