#pragma once

#include <array>

#include "core/GroupInfo.h"
#include "core/MotionParameter.h"
#include "core/ParameterInfo.h"

namespace pm {

// The parameter and group tables a project shares among its scenes: ranges, defaults and
// smoothing of the ten parameters, and the groups with their lock flags.
class MotionTables {
public:
    MotionTables();

    const ParameterInfo& parameter(int index) const { return m_parameters.at(index); }
    const GroupInfo& group(int index) const { return m_groups.at(index); }
    const std::array<ParameterInfo, kParameterCount>& parameters() const { return m_parameters; }
    const std::array<GroupInfo, kGroupCount>& groups() const { return m_groups; }

    // The first group from index 1 on that contains the parameter; -1 for an invalid index.
    int groupOf(int parameter) const;
    bool isLocked(int group) const;
    void setLocked(int group, bool locked);

    // The parameters a new key of `parameter` touches under the current locks: every parameter
    // when "All" is locked, else the parameter's group when that is locked, else the parameter
    // alone. Returned as [first, first + count).
    struct Range {
        int first = 0;
        int count = 0;
    };
    Range lockedRange(int parameter) const;

    // The position smoothing setting becomes the smoothing of both position parameters.
    void setPositionSmoothing(double smoothing);
    double positionSmoothing() const { return m_parameters[PosX].smoothing; }

    // Replaces display names once the string table is loaded.
    void setParameterDisplayName(int index, std::string name);
    void setGroupDisplayName(int index, std::string name);

private:
    std::array<ParameterInfo, kParameterCount> m_parameters;
    std::array<GroupInfo, kGroupCount> m_groups;
};

}  // namespace pm
