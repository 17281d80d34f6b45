// Pose evaluation: animation channels sampled at a model time exactly as glTF
// 2.0 defines them, node transforms composed through the hierarchy, skinned and
// morphed vertex positions baked in world space.
#ifndef VEFEXPORT_POSE_H
#define VEFEXPORT_POSE_H

#include <vector>

#include "Model.h"

namespace vefexport {

// Samples channel `c` at time `t` (seconds) into `out` (c.width values).
// Before the first key the first value holds, after the last key the last.
// STEP holds a key's value until the next key; LINEAR interpolates, rotations
// by spherical interpolation along the shorter arc; CUBICSPLINE is the Hermite
// spline with the stored tangents scaled by the key interval. Rotations come
// back normalised.
void SampleChannel(const Channel& c, double t, std::vector<double>* out);

struct Pose {
  std::vector<Affine> global;               // per node: node space to world space
  std::vector<std::vector<double>> weights; // per node: morph weights in effect (empty: none)
};

// Evaluates the whole model at time `t` of animation `animation` (-1: rest pose).
void EvaluatePose(const Model& m, int animation, double t, Pose* pose);
// The same for an animation of `m` or one made from its channels (null: rest pose).
void EvaluatePose(const Model& m, const Animation* animation, double t, Pose* pose);

// Every animation of `m` at once: all their channels, named "all", as long as
// the longest. A node moved by several keeps the last one's value.
Animation AllAnimations(const Model& m);

// World-space positions of one primitive drawn by node `node` in `pose`: morph
// targets blended with the node's weights, then skinned (the joint matrices
// are inverse(global of the mesh node) x global(joint) x inverseBind, and the
// result goes through the mesh node's global transform) or, without a skin,
// the node's global transform. Weights that do not add up to 1 are
// normalised; a vertex with zero total weight stays at the mesh node.
void BakePrimitive(const Model& m, const Pose& pose, int node, const Primitive& p,
                   std::vector<std::array<float, 3>>* world);

// True when node `node`'s primitive needs per-frame baking: the node has a
// skin, or the primitive has morph targets.
bool IsDeforming(const Model& m, int node, const Primitive& p);

}  // namespace vefexport

#endif
