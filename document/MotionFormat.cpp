#include "document/MotionFormat.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/MotionContext.h"
#include "core/MotionTables.h"
#include "core/SceneMotion.h"
#include "store/StoreKey.h"

namespace pm {

namespace {

constexpr const char* kKeyCount = "NbOfKF";
constexpr const char* kValue = "PzKFrValue";
constexpr const char* kTime = "PzKFrTime";
constexpr const char* kSlope = "PzKFrSlope";
constexpr const char* kInLength = "PzKFrInLength";
constexpr const char* kOutLength = "PzKFrOutLength";
constexpr const char* kUserDefine = "PzKFrUserDefine";
constexpr const char* kMode = "PzKFInterpolationMode";
constexpr const char* kMotionNode = "PzKeyframes";
constexpr const char* kGroupsNode = "Groups";
constexpr const char* kFlags = "Flags";

// The order in which parameters are written, as earlier files have them.
constexpr std::array<int, kParameterCount> kWriteOrder{PosX,  PosY,  CamAngleA, CamAngleB, CamDist,
                                                       Angle, Scale, OffX,      OffY,      Blur};

std::string keyNodeName(int index) {
    char name[16];
    std::snprintf(name, sizeof name, "%04i", index);
    return name;
}

}  // namespace

bool saveTrack(StoreKey& node, const SceneMotion& scene, int parameter) {
    const int count = scene.keyCount(parameter);
    bool ok = node.setInt(kKeyCount, count) != 0;
    for (int i = 0; i < count && ok; ++i) {
        KeyframeDesc key;
        if (!scene.getKey(parameter, i, key)) {
            return false;
        }
        StoreKeyPtr child = node.createChild(keyNodeName(i));
        if (!child) {
            return false;
        }
        ok = child->setDouble(kValue, key.value) && child->setDouble(kTime, key.time) &&
             child->setDouble(kSlope, key.slope) && child->setDouble(kInLength, key.inLength) &&
             child->setDouble(kOutLength, key.outLength) &&
             child->setInt(kUserDefine, key.userDefined) &&
             child->setInt(kMode, static_cast<std::int32_t>(key.mode));
    }
    return ok;
}

bool loadTrack(StoreKey& node, SceneMotion& scene, int parameter, std::string* why) {
    const auto refuse = [&](const std::string& key, const std::string& problem) {
        if (why != nullptr) {
            *why = "key " + key + ": " + problem;
        }
        return false;
    };
    const std::int32_t count = node.getInt(kKeyCount, 0);
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string name = keyNodeName(i);
        StoreKeyPtr child = node.openChild(name);
        if (!child) {
            return refuse(
                name, "missing (" + std::string(kKeyCount) + " is " + std::to_string(count) + ")");
        }
        KeyframeDesc key;
        key.value = static_cast<float>(child->getDouble(kValue, 0.0));
        key.time = static_cast<float>(child->getDouble(kTime, 0.0));
        key.slope = static_cast<float>(child->getDouble(kSlope, 0.0));
        key.inLength = static_cast<float>(child->getDouble(kInLength, 0.0));
        key.outLength = static_cast<float>(child->getDouble(kOutLength, 0.0));
        key.userDefined = child->getInt(kUserDefine, 0);
        // A mode we do not know (or none) is kept as it is and evaluated as Linear, so that a
        // file from a newer program still loads and saves its keys unchanged.
        key.mode = static_cast<InterpolationMode>(child->getInt(kMode, 0));
        // A tangent that is not a number would poison every value of its segments.
        if (!std::isfinite(key.slope) || !std::isfinite(key.inLength) ||
            !std::isfinite(key.outLength)) {
            return refuse(name, "a tangent is not a number");
        }
        if (!(key.time >= 0.0f && key.time <= 1.0f)) {
            return refuse(name, "its time is outside 0 to 1");
        }
        if (!scene.addStoredKey(parameter, key)) {
            return refuse(name,
                          "its value is outside the parameter's range, or its time is "
                          "that of an earlier key");
        }
    }
    return true;
}

bool saveMotion(StoreKey& sceneNode, const SceneMotion& scene) {
    StoreKeyPtr motion = sceneNode.createChild(kMotionNode);
    if (!motion) {
        return false;
    }
    const MotionTables& tables = scene.context().motionTables();
    for (const int p : kWriteOrder) {
        StoreKeyPtr track = motion->createChild(tables.parameter(p).storeKey);
        if (!track || !saveTrack(*track, scene, p)) {
            return false;
        }
    }
    return true;
}

bool loadMotion(StoreKey& sceneNode, SceneMotion& scene, std::string* why) {
    StoreKeyPtr motion = sceneNode.openChild(kMotionNode);
    if (!motion) {
        if (why != nullptr) {
            *why = std::string(kMotionNode) + " is missing";
        }
        return false;
    }
    scene.deleteAllKeys();
    const MotionTables& tables = scene.context().motionTables();
    bool ok = true;
    for (int p = 0; p < kParameterCount; ++p) {
        // A read-only store yields no node for a missing track, which loads as an empty track.
        StoreKeyPtr track = motion->createChild(tables.parameter(p).storeKey);
        std::string problem;
        if (track && !loadTrack(*track, scene, p, &problem)) {
            if (ok && why != nullptr) {
                *why =
                    std::string(kMotionNode) + "/" + tables.parameter(p).storeKey + ", " + problem;
            }
            ok = false;
        }
    }
    return ok;
}

bool saveGroups(StoreKey& root, const MotionTables& tables) {
    StoreKeyPtr groups = root.createChild(kGroupsNode);
    if (!groups) {
        return false;
    }
    for (const GroupInfo& group : tables.groups()) {
        StoreKeyPtr child = groups->createChild(group.storeKey);
        if (!child || !child->setInt(kFlags, static_cast<std::int32_t>(group.flags))) {
            return false;
        }
    }
    return true;
}

void loadGroups(StoreKey& root, MotionTables& tables) {
    StoreKeyPtr groups = root.openChild(kGroupsNode);
    if (!groups) {
        return;
    }
    for (int g = 0; g < kGroupCount; ++g) {
        if (StoreKeyPtr child = groups->openChild(tables.group(g).storeKey)) {
            tables.setLocked(g, (child->getInt(kFlags, 1) & kGroupLocked) != 0);
        }
    }
}

}  // namespace pm
