#pragma once

#include <string>

namespace pm {

class MotionTables;
class SceneMotion;
class StoreKey;

// Keyframe tracks, a scene's motion and the group locks in store nodes, as project files,
// templates and undo steps keep them.
//
// A track node holds "NbOfKF" and one child per key named "%04i" with the key's value (in user
// units), normalized time, tangent and mode. Loading adds the keys with their stored tangents;
// it stops at the first key that is missing or cannot be added, keeping the keys before it.

// A failed load says in `why` (when given) which key and what is wrong with it.
bool saveTrack(StoreKey& node, const SceneMotion& scene, int parameter);
bool loadTrack(StoreKey& node, SceneMotion& scene, int parameter, std::string* why = nullptr);

// "PzKeyframes" below `sceneNode`, one child per parameter named by its store key. Loading
// deletes the scene's keys first and fails when the node is missing or any track failed.
bool saveMotion(StoreKey& sceneNode, const SceneMotion& scene);
bool loadMotion(StoreKey& sceneNode, SceneMotion& scene, std::string* why = nullptr);

// "Groups" below `root`, one child per group holding "Flags". A missing node leaves the flags.
bool saveGroups(StoreKey& root, const MotionTables& tables);
void loadGroups(StoreKey& root, MotionTables& tables);

}  // namespace pm
