// Recorded triangle streams (TRS1): the benchmark's and the tests' input.
//
// Little-endian, no padding. Header of 48 bytes: "TRS1", u32 version (1),
// u32 width, u32 height, u32 texture count, u32 frame count, u32 max batch,
// u32 cull (0 none, 1 clockwise, 2 counter-clockwise), f32 znear, f32 zfar,
// u32 seed, u32 reserved. Then each texture: u32 side (square, 32..256) and
// side * side RGB565 texels, row 0 (v = 0) first. Then each frame: u32
// triangle count, u32 front-facing count, u64 covered pixel centres, and the
// triangles of 88 bytes: three 28-byte vertices (x, y, z, rhw, 0x00RRGGBB,
// u, v) and a u32 texture index.
#ifndef STANDIN_RASTER_TRIANGLESTREAM_H
#define STANDIN_RASTER_TRIANGLESTREAM_H

#include <cstdint>
#include <string>
#include <vector>

#include "raster/Raster.h"

namespace standin::raster {

struct StreamTexture {
  int side = 0;                 // texels, 32..256
  std::vector<uint16_t> texels;  // side * side RGB565
};

struct StreamTriangle {
  Vertex v[3];
  uint32_t texture;  // index into the textures
};

struct StreamFrame {
  uint32_t front = 0;    // triangles facing the viewer
  uint64_t covered = 0;  // pixel centres covered by the front triangles
  std::vector<StreamTriangle> triangles;
};

struct TriangleStream {
  int width = 0, height = 0;  // pixels
  uint32_t maxBatch = 0;      // triangles per draw call at most
  uint32_t cull = 0;          // 0 none, 1 clockwise, 2 counter-clockwise
  std::vector<StreamTexture> textures;
  std::vector<StreamFrame> frames;
};

// Reads a whole stream. On failure returns false and sets *error to a message
// naming the file and the problem.
bool LoadTriangleStream(const std::string& path, TriangleStream* out, std::string* error);

}  // namespace standin::raster

#endif
