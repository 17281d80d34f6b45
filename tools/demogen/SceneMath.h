// Small helpers of the scene generator: float vectors (the tools' shared
// helpers), the scene file's row-vector transform and its rotation angles,
// and easing.
#ifndef DEMOGEN_SCENEMATH_H
#define DEMOGEN_SCENEMATH_H

#include <algorithm>
#include <cmath>

#include "SceneFormat.h"
#include "SceneWriter.h"
#include "Vector3.h"

namespace demogen {

constexpr float kPi = 3.14159265358979f;

using V3 = vef::Vector3<float>;  // x, y, z
using vef::operator+;
using vef::operator-;
using vef::operator*;
using vef::Cross;
using vef::Dot;

// a / |a|, rounded as a * (1 / |a|).
inline V3 Normalize(const V3& a) { return vef::Norm(a); }
inline vef::Float3 F3(const V3& v) { return {{v[0], v[1], v[2]}}; }

// Row-vector transform p' = p.x*r0 + p.y*r1 + p.z*r2 + t, as in the scene file.
struct Mat {
  V3 r0{1, 0, 0}, r1{0, 1, 0}, r2{0, 0, 1}, t{0, 0, 0};
};

// The rotation that a matrix block's angles stand for.
inline Mat Rotation(const V3& a) {
  float r[3][3];
  SceneFormat::RotationRows(a[0], a[1], a[2], r);
  Mat m;
  m.r0 = {r[0][0], r[0][1], r[0][2]};
  m.r1 = {r[1][0], r[1][1], r[1][2]};
  m.r2 = {r[2][0], r[2][1], r[2][2]};
  return m;
}

// Angles (ax, ay, az) whose Rotation() is the proper rotation m.
inline V3 AnglesOf(const Mat& m) {
  const float r[3][3] = {{m.r0[0], m.r0[1], m.r0[2]}, {m.r1[0], m.r1[1], m.r1[2]}, {m.r2[0], m.r2[1], m.r2[2]}};
  float a[3];
  SceneFormat::RotationAngles(r, 1e-5f, a);
  return {a[0], a[1], a[2]};
}

// 0 below 0, 1 above 1, and 3u^2 - 2u^3 between.
inline float Smooth(float u) {
  u = std::clamp(u, 0.0f, 1.0f);
  return u * u * (3.0f - 2.0f * u);
}
inline float Fraction(float x) { return x - std::floor(x); }

}  // namespace demogen

#endif
