// Matrix arithmetic. Row-vector convention: p' = p.x*r0 + p.y*r1 + p.z*r2 + t.
#include <math.h>

#include "Scene.h"
#include "SceneFormat.h"

void Matrix::SetIdentity() {
  r0 = {1.0f, 0.0f, 0.0f};
  r1 = {0.0f, 1.0f, 0.0f};
  r2 = {0.0f, 0.0f, 1.0f};
  t = {0.0f, 0.0f, 0.0f};
}

void Matrix::SetRotation(float ax, float ay, float az) {
  float r[3][3];
  SceneFormat::RotationRows(ax, ay, az, r);
  r0 = {r[0][0], r[0][1], r[0][2]};
  r1 = {r[1][0], r[1][1], r[1][2]};
  r2 = {r[2][0], r[2][1], r[2][2]};
}

void Matrix::Scale(float fx, float fy, float fz) {
  r0 = {r0.x * fx, r0.y * fx, r0.z * fx};
  r1 = {r1.x * fy, r1.y * fy, r1.z * fy};
  r2 = {r2.x * fz, r2.y * fz, r2.z * fz};
}

namespace {

// v times the 3x3 part of m.
Vec3 Rotate(const Vec3& v, const Matrix& m) {
  return {v.x * m.r0.x + v.y * m.r1.x + v.z * m.r2.x, v.x * m.r0.y + v.y * m.r1.y + v.z * m.r2.y,
          v.x * m.r0.z + v.y * m.r1.z + v.z * m.r2.z};
}

}  // namespace

void Matrix::Compose(const Matrix& then) {
  r0 = Rotate(r0, then);
  r1 = Rotate(r1, then);
  r2 = Rotate(r2, then);
  Vec3 moved = Rotate(t, then);
  t = {moved.x + then.t.x, moved.y + then.t.y, moved.z + then.t.z};
}

Vec3 Matrix::Transform(const Vec3& p) const {
  Vec3 v = Rotate(p, *this);
  return {v.x + t.x, v.y + t.y, v.z + t.z};
}
