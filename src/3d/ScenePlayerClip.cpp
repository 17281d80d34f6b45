// Projection set-up, clipping and triangle emission.
//
// The view volume is a symmetric frustum around +z; a point is inside a plane
// when nx*x + ny*y + nz*z - d < 0, and a point on a plane counts as outside.
#include <math.h>

#include "DebugPrint.h"
#include "ScenePlayer.h"

void ScenePlayer::SetupProjection(float fieldOfView) {
  fov = fieldOfView;
  // Half a pixel off the size, so that the outermost edge maps inside the area.
  const float W = static_cast<float>(renderer->GetWidth()) - 0.5f;
  const float H = static_cast<float>(renderer->GetHeight()) - 0.5f;
  const float h = fieldOfView * 0.5f;
  const double tanH = tan(static_cast<double>(h));
  verticalFov = static_cast<float>(2.0 * atan(static_cast<double>(H / W) * tanH));
  xScale = static_cast<float>(W / (2.0 * tanH));
  const float v = verticalFov * 0.5f;
  yScale = static_cast<float>(-(H / (2.0 * tan(static_cast<double>(v)))));
  xCentre = W * 0.5f + 0.001f;
  yCentre = H * 0.5f + 0.001f;

  const float cosH = static_cast<float>(cos(static_cast<double>(h)));
  const float sinH = static_cast<float>(sin(static_cast<double>(h)));
  const float cosV = static_cast<float>(cos(static_cast<double>(v)));
  const float sinV = static_cast<float>(sin(static_cast<double>(v)));
  planes[kLeft] = ClipPlane{-cosH, 0.0f, -sinH, 0.0f};    // x > -z tan h
  planes[kRight] = ClipPlane{cosH, 0.0f, -sinH, 0.0f};    // x < z tan h
  planes[kTop] = ClipPlane{0.0f, cosV, -sinV, 0.0f};      // y < z tan v
  planes[kBottom] = ClipPlane{0.0f, -cosV, -sinV, 0.0f};  // y > -z tan v
  planes[kNear] = ClipPlane{0.0f, 0.0f, -1.0f, -nearZ};   // z > nearZ
  planes[kFar] = ClipPlane{0.0f, 0.0f, 1.0f, farZ};       // z < farZ
}

void ScenePlayer::SetNearPlane(float z) {
  nearZ = z;
  UpdateDepthMapping();
}

void ScenePlayer::SetFarPlane(float z) {
  farZ = z;
  UpdateDepthMapping();
}

void ScenePlayer::UpdateDepthMapping() {
  // z = depthScale / vz + depthOffset: 0 at vz = nearZ, 1 at vz = farZ.
  depthScale = nearZ * farZ / (nearZ - farZ);
  depthOffset = farZ / (farZ - nearZ);
}

int ScenePlayer::ClipPolygon(const ClipVertex* in, int n, ClipVertex* out,
                             const ClipPlane& plane) const {
  if (n <= 0) return 0;
  if (n < 3) {
    DebugPrint("\nclipBUG");
    return 0;
  }
  const float nx = plane.nx, ny = plane.ny, nz = plane.nz, d = plane.d;
  // The plane term without d; inside means term - d < 0.
  auto term = [&](const ClipVertex& p) { return nx * p.vx + ny * p.vy + nz * p.vz; };
  // The crossing point is always computed from prev towards cur.
  auto crossing = [&](const ClipVertex& prev, const ClipVertex& cur, ClipVertex& slot) {
    const float t = (d - term(prev)) / (nx * (cur.vx - prev.vx) + ny * (cur.vy - prev.vy) +
                                        nz * (cur.vz - prev.vz));
    InterpolateVertex(prev, cur, slot, t);
  };

  int count = 0;
  const bool firstInside = term(in[0]) - d < 0.0f;
  bool prevInside = firstInside;
  if (firstInside) out[count++] = in[0];
  for (int i = 1; i < n; ++i) {
    const ClipVertex& prev = in[i - 1];
    const ClipVertex& cur = in[i];
    const bool curInside = term(cur) - d < 0.0f;
    if (prevInside && curInside) {
      out[count++] = cur;
    } else if (prevInside) {
      crossing(prev, cur, out[count++]);
    } else if (curInside) {
      crossing(prev, cur, out[count++]);
      out[count++] = cur;
    }
    prevInside = curInside;
  }
  // Closing edge: in[0] is already in place when it is inside.
  if (prevInside != firstInside) crossing(in[n - 1], in[0], out[count++]);
  return count;
}

void ScenePlayer::InterpolateVertex(const ClipVertex& a, const ClipVertex& b, ClipVertex& out,
                                    float t) const {
  const float t1 = 1.0f - t;
  out.vx = a.vx * t1 + b.vx * t;
  out.vy = a.vy * t1 + b.vy * t;
  out.vz = a.vz * t1 + b.vz * t;
  out.tl.u = a.tl.u * t1 + b.tl.u * t;
  out.tl.v = a.tl.v * t1 + b.tl.v * t;
  // Per channel, fraction dropped: halfway between 0xFF and 0x00 is 0x7F.
  uint32_t diffuse = 0;
  for (int shift = 16; shift >= 0; shift -= 8) {
    const float ca = static_cast<float>((a.tl.diffuse >> shift) & 0xFF);
    const float cb = static_cast<float>((b.tl.diffuse >> shift) & 0xFF);
    const float c = t * cb + t1 * ca;
    const uint32_t byte =
        (c >= 0.0f && c < 2147483648.0f) ? (static_cast<uint32_t>(static_cast<int32_t>(c)) & 0xFF)
                                         : 0;
    diffuse |= byte << shift;
  }
  out.tl.diffuse = diffuse;
  out.clipFlags = 0;
  out.pad[0] = out.pad[1] = out.pad[2] = 0;
  // Screen fields always come from the blended view-space position.
  Project(out);
}

void ScenePlayer::EmitPolygon(const ClipVertex* p, int n) {
  if (n <= 0) return;
  if (n < 3) {
    // No triangle can be made; the records past n hold nothing of this polygon.
    DebugPrint("\nKann gar nicht %d", n);
    return;
  }
  if (n > 6) DebugPrint("\nKann auch nicht %d", n);

  // A fan around p2 that keeps the turning direction; beyond six vertices only
  // the first triangle is drawn.
  ClipVertex triangle[3];
  auto emit = [&](int i0, int i1, int i2) {
    triangle[0] = p[i0];
    triangle[1] = p[i1];
    triangle[2] = p[i2];
    renderer->AddTriangle(triangle);
  };
  renderer->AddTriangle(p);  // (p0, p1, p2) are already consecutive
  switch (n) {
    case 4:
      emit(0, 2, 3);
      break;
    case 5:
      emit(0, 2, 4);
      emit(4, 2, 3);
      break;
    case 6:
      emit(0, 2, 5);
      emit(5, 2, 4);
      emit(4, 2, 3);
      break;
    default:
      break;
  }
}
