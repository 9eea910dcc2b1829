#include "core/MotionTables.h"

#include <numbers>
#include <utility>

#include "core/StringTable.h"

namespace pm {

namespace {

constexpr float kThirdPi = static_cast<float>(std::numbers::pi / 3.0);        // 1.0471976
constexpr float kThousandPi = static_cast<float>(std::numbers::pi * 1000.0);  // 3141.5928

ParameterInfo makeParameter(const char* key, int nameId, float lo, float hi, float def,
                            bool logarithmic = false) {
    ParameterInfo p;
    p.storeKey = key;
    p.displayName = strings::text(nameId);
    p.kind = 2;
    p.minimum = lo;
    p.maximum = hi;
    p.defaultValue = def;
    // 60 is the built-in smoothing; the position entries take the settings' value once read.
    p.smoothing = 60.0f;
    p.logarithmic = logarithmic;
    return p;
}

GroupInfo makeGroup(int nameId, const char* key, int first, int count, int rowKind, bool locked) {
    GroupInfo g;
    g.displayName = strings::text(nameId);
    g.storeKey = key;
    g.firstParameter = first;
    g.count = count;
    g.rowKind = rowKind;
    g.flags = locked ? kGroupLocked : 0;
    return g;
}

}  // namespace

MotionTables::MotionTables()
    : m_parameters{
          makeParameter("PosX", 7100, -2.0f, 3.0f, 0.5f),
          makeParameter("PosY", 7101, -2.0f, 3.0f, 0.5f),
          makeParameter("Scale", 7102, 0.0f, 45.0f, 0.85f, true),
          makeParameter("CamAngleA", 7103, -kThirdPi, kThirdPi, 0.0f),
          makeParameter("CamAngleB", 7104, -kThirdPi, kThirdPi, 0.0f),
          makeParameter("Angle", 7105, -kThousandPi, kThousandPi, 0.0f),
          makeParameter("CamDist", 7106, 0.0f, 100.0f, 80.0f),
          makeParameter("OffX", 7107, -1.0f, 1.0f, 0.0f),
          makeParameter("OffY", 7108, -1.0f, 1.0f, 0.0f),
          makeParameter("Blur", 7109, 0.0f, 100.0f, 0.0f),
      },
      m_groups{
          makeGroup(7120, "All", 0, 10, 1, false),
          makeGroup(7121, "LookAt", 0, 2, 2, true),
          makeGroup(7122, "Scale", 2, 1, 1, true),
          makeGroup(7123, "Camera", 3, 4, 5, true),
          makeGroup(7124, "Offset", 7, 2, 1, true),
          makeGroup(7125, "Blur", 9, 1, 1, true),
      } {}

int MotionTables::groupOf(int parameter) const {
    if (!isValidParameter(parameter)) {
        return -1;
    }
    for (int g = 1; g < kGroupCount; ++g) {
        if (m_groups[g].contains(parameter)) {
            return g;
        }
    }
    return 0;
}

bool MotionTables::isLocked(int group) const {
    return group >= 0 && group < kGroupCount && m_groups[group].locked();
}

void MotionTables::setLocked(int group, bool locked) {
    if (group < 0 || group >= kGroupCount) {
        return;
    }
    auto& flags = m_groups[group].flags;
    flags = locked ? (flags | kGroupLocked) : (flags & ~kGroupLocked);
}

MotionTables::Range MotionTables::lockedRange(int parameter) const {
    if (m_groups[GroupAll].locked()) {
        return {m_groups[GroupAll].firstParameter, m_groups[GroupAll].count};
    }
    const int g = groupOf(parameter);
    if (g > 0 && m_groups[g].locked()) {
        return {m_groups[g].firstParameter, m_groups[g].count};
    }
    return {parameter, 1};
}

void MotionTables::setPositionSmoothing(double smoothing) {
    m_parameters[PosX].smoothing = static_cast<float>(smoothing);
    m_parameters[PosY].smoothing = static_cast<float>(smoothing);
}

void MotionTables::setParameterDisplayName(int index, std::string name) {
    m_parameters.at(index).displayName = std::move(name);
}

void MotionTables::setGroupDisplayName(int index, std::string name) {
    m_groups.at(index).displayName = std::move(name);
}

}  // namespace pm
