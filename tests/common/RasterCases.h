// The kernels' identity cases, shared by the GoogleTest suite and the plain
// program that runs them in WebAssembly (raster_identity): fixed-seed random
// triangles and the recorded streams' first frames, on an RGB565 target with
// a 16-bit depth buffer.
#ifndef TESTS_COMMON_RASTERCASES_H
#define TESTS_COMMON_RASTERCASES_H

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "raster/Raster.h"
#include "raster/TriangleStream.h"

namespace raster_cases {

using namespace standin::raster;

// An RGB565 target with a 16-bit depth buffer, spare bytes after the last row;
// the depth rows may be wider than the colour rows.
struct Buffers {
  Buffers(int w, int h, int depthPad = 0)
      : width(w), height(h), depthPitch(w + depthPad), color(w * h + 8), depth(depthPitch * h + 8) {}
  Target target() {
    Target t;
    t.color = reinterpret_cast<uint8_t*>(color.data());
    t.pitch = width * 2;
    t.width = width;
    t.height = height;
    t.depth = reinterpret_cast<uint8_t*>(depth.data());
    t.depthPitch = depthPitch * 2;
    t.depthFormat = DepthFormat{2, 0xFFFF, 0};
    return t;
  }
  void Clear() {
    Target t = target();
    FillColor(t, 0, 0, width, height, 0);
    FillDepth(t, 0, 0, width, height, 1.0f);
  }
  // FNV-1a, 64 bits, of the colour and then the depth words.
  uint64_t Hash() const {
    uint64_t h = 0xCBF29CE484222325ull;
    for (const std::vector<uint16_t>* words : {&color, &depth}) {
      for (uint16_t w : *words) {
        h = (h ^ (w & 0xFF)) * 0x100000001B3ull;
        h = (h ^ (w >> 8)) * 0x100000001B3ull;
      }
    }
    return h;
  }
  int width, height, depthPitch;
  std::vector<uint16_t> color, depth;
};

struct TextureData {
  TextureData(int w, int h, uint32_t seed) : texels(w * h + 2) {
    std::mt19937 rng(seed);
    for (auto& t : texels) t = static_cast<uint16_t>(rng());
    tex.texels = reinterpret_cast<const uint8_t*>(texels.data());
    tex.pitch = w * 2;
    tex.width = w;
    tex.height = h;
    BuildPaddedTexture(tex, padded);
    tex.padded = padded.data();
  }
  std::vector<uint16_t> texels, padded;
  Texture tex;
};

inline State BaseState(int w, int h) {
  State st;
  st.depthTest = true;
  st.cull = Cull::None;
  st.colorOp = ColorOp::Modulate;
  st.viewWidth = w;
  st.viewHeight = h;
  return st;
}

// Eight configurations (bilinear or not, modulate or texture, depth test or
// not) of 200 fixed-seed random triangles, some reaching outside the
// viewport, behind the viewer or beyond the depth range, on an odd-sized
// target (partial blocks at the right edge), with depth rows wider than
// colour rows in half of them.
struct RandomTriangles {
  static constexpr int kConfigs = 8, kWidth = 97, kHeight = 61;
  RandomTriangles() : t1(16, 8, 7), t2(5, 3, 9), rng(1234) {}
  // The next configuration's state, texture, depth padding and vertices.
  void Next(int config, State* st, const Texture** tex, int* depthPad, std::vector<Vertex>* verts) {
    std::uniform_real_distribution<float> px(-20.0f, 120.0f), py(-20.0f, 80.0f), z(-0.1f, 1.1f);
    std::uniform_real_distribution<float> rhw(-0.2f, 2.0f), uv(-3.0f, 3.0f);
    *st = BaseState(kWidth, kHeight);
    st->magLinear = st->minLinear = (config & 1) != 0;
    st->colorOp = (config & 2) ? ColorOp::Modulate : ColorOp::Texture;
    st->depthTest = (config & 4) == 0;
    *tex = (config & 2) ? &t1.tex : &t2.tex;  // a non-power-of-two texture as well
    verts->clear();
    for (int i = 0; i < 3 * 200; ++i) {
      Vertex v{px(rng), py(rng), z(rng), i % 7 == 0 ? rhw(rng) : std::abs(rhw(rng)) + 0.05f,
               static_cast<uint32_t>(rng()), uv(rng), uv(rng)};
      verts->push_back(v);
    }
    *depthPad = config & 1 ? 5 : 0;
  }
  TextureData t1, t2;
  std::mt19937 rng;
};

// A recorded stream with its textures' padded copies and its drawing state
// (bilinear, modulate, LESSEQUAL, the stream's culling).
struct LoadedStream {
  bool Load(const std::string& path, std::string* error) {
    if (!LoadTriangleStream(path, &ts, error)) return false;
    padded.resize(ts.textures.size());
    textures.resize(ts.textures.size());
    for (size_t i = 0; i < textures.size(); ++i) {
      Texture& t = textures[i];
      t.texels = reinterpret_cast<const uint8_t*>(ts.textures[i].texels.data());
      t.pitch = ts.textures[i].side * 2;
      t.width = t.height = ts.textures[i].side;
      BuildPaddedTexture(t, padded[i]);
      t.padded = padded[i].data();
    }
    state = BaseState(ts.width, ts.height);
    state.cull = ts.cull == 1 ? Cull::Clockwise : ts.cull == 2 ? Cull::CounterClockwise : Cull::None;
    state.magLinear = state.minLinear = true;
    return true;
  }
  TriangleStream ts;
  std::vector<std::vector<uint16_t>> padded;
  std::vector<Texture> textures;
  State state;
};

}  // namespace raster_cases

#endif
