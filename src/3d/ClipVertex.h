// The frame pipeline's working vertex and clip plane.
#ifndef CLIPVERTEX_H
#define CLIPVERTEX_H

#include <stdint.h>

// One pre-transformed, pre-lit screen vertex as the device reads it
// (flexible vertex format XYZRHW | DIFFUSE | TEX1 = 0x144), 28 bytes.
struct TLVertex {
  float x;           // screen x, pixels, pixel centres at integers
  float y;           // screen y, pixels, growing downward
  float z;           // depth, 0 at the near plane .. 1 at the far plane
  float rhw;         // 1 / view-space z
  uint32_t diffuse;  // 0xAARRGGBB (the pipeline writes alpha 0)
  float u;           // texture coordinate
  float v;           // texture coordinate
};
static_assert(sizeof(TLVertex) == 28, "TLVertex is the 28-byte FVF 0x144 vertex");

// A TLVertex followed by its view-space position, 44 bytes. Arrays of these are
// what Renderer::AddTriangle reads (it copies the TLVertex prefix of each).
struct ClipVertex {
  TLVertex tl;        // screen form; x, y, z, rhw are derived from vx, vy, vz
  float vx, vy, vz;   // view space: x right, y up, z away from the viewer
  uint8_t clipFlags;  // 16: z < 0 (nearer than nearZ), 32: z > 1 (beyond farZ), else 0
  uint8_t pad[3];     // carries nothing
};
static_assert(sizeof(ClipVertex) == 44, "ClipVertex is 44 bytes");

// A plane of the view volume: (x, y, z) is inside when nx*x + ny*y + nz*z - d < 0;
// a point on the plane counts as outside.
struct ClipPlane {
  float nx, ny, nz, d;
};

#endif
