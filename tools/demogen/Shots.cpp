#include "Shots.h"

#include <cstdio>
#include <cstdlib>

namespace demogen {

Camera ShotCamera(int shot, float u) {
  float a = 0, radius = 10, height = 3;
  V3 target{0, 2.2f, 0};
  float e = Smooth(u);
  switch (shot % 9) {
    case 0:  // descent into the hall
      a = 0.5f + 0.28f * u; radius = 26.0f - 12.0f * e; height = 14.0f - 6.5f * e; target = {0, 1.8f, 0};
      break;
    case 1:  // low orbit inside the colonnade
      a = 1.9f + 1.1f * u; radius = 7.0f; height = 2.0f;
      break;
    case 2:  // high orbit, looking down on the inlay
      a = 3.4f + 0.8f * u; radius = 7.5f - 0.8f * u; height = 7.0f; target = {0, 1.5f, 0};
      break;
    case 3:  // close around the orb
      a = 5.2f - 1.3f * u; radius = 4.8f; height = 3.4f - 0.7f * u; target = {0, 2.5f, 0};
      break;
    case 4:  // from above
      a = 0.3f + 0.8f * u; radius = 6.0f; height = 15.5f; target = {0, 0.8f, 0};
      break;
    case 5:  // slow push towards the orb
      a = 2.4f; radius = 8.5f - 4.0f * e; height = 2.9f; target = {0, 2.6f, 0};
      break;
    case 6:  // fast orbit
      a = 3.0f + 2.0f * u; radius = 7.2f; height = 4.5f + 1.5f * std::sin(u * kPi); target = {0, 2.0f, 0};
      break;
    case 7:  // low dolly along the colonnade
      a = 5.6f + 0.9f * u; radius = 8.0f; height = 1.3f;
      target = {2.0f * std::cos(a + 0.9f), 2.2f, -2.0f * std::sin(a + 0.9f)};
      break;
    case 8:  // pull back and rise
      a = 0.62f + 0.33f * u; radius = 5.5f + 19.0f * e; height = 2.6f + 12.0f * e; target = {0, 2.0f, 0};
      break;
  }
  return {{radius * std::cos(a), height, -radius * std::sin(a)}, target};
}

View MakeView(const Camera& c) {
  View v;
  v.eye = c.eye;
  v.forward = Normalize(c.target - c.eye);
  v.right = Normalize(Cross(v.forward, V3{0, 1, 0}));
  v.up = Cross(v.right, v.forward);
  return v;
}

vef::MatrixBlock CameraBlock(const View& v) {
  Mat m;
  m.r0 = {v.right[0], v.up[0], -v.forward[0]};
  m.r1 = {v.right[1], v.up[1], -v.forward[1]};
  m.r2 = {v.right[2], v.up[2], -v.forward[2]};
  V3 angles = AnglesOf(m);
  Mat check = Rotation(angles);
  float error = std::fabs(check.r0[0] - m.r0[0]) + std::fabs(check.r1[1] - m.r1[1]) + std::fabs(check.r2[2] - m.r2[2]) +
                std::fabs(check.r0[1] - m.r0[1]) + std::fabs(check.r1[2] - m.r1[2]) + std::fabs(check.r2[0] - m.r2[0]);
  if (error > 1e-3f) {
    std::fprintf(stderr, "demogen: internal error: camera angles do not reproduce the view (%g)\n", double(error));
    std::abort();
  }
  vef::MatrixBlock block;
  block.angles = F3(angles);
  block.translation = vef::Float3{{-Dot(v.right, v.eye), -Dot(v.up, v.eye), Dot(v.forward, v.eye)}};
  return block;
}

bool InView(const View& view, V3 centre, float radius) {
  V3 p = view.ToCamera(centre);
  const float h = kPi / 8.0f;
  const float v = std::atan((599.5f / 799.5f) * std::tan(h));
  if (p[2] < 0.1f - radius || p[2] > 1000.0f + radius) return false;
  if (-std::cos(h) * p[0] - std::sin(h) * p[2] > radius) return false;
  if (std::cos(h) * p[0] - std::sin(h) * p[2] > radius) return false;
  if (std::cos(v) * p[1] - std::sin(v) * p[2] > radius) return false;
  if (-std::cos(v) * p[1] - std::sin(v) * p[2] > radius) return false;
  return true;
}

}  // namespace demogen
