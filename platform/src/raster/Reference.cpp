// The plain rasterizer: one pixel at a time, every supported state and format.
// It is the yardstick for the fast kernel (same float expressions, same order)
// and draws whatever the fast kernel does not support.
#pragma GCC optimize("fp-contract=off")  // the same roundings as the fast kernels
#include <algorithm>
#include <cmath>
#include <cstring>

#include "raster/Raster.h"

namespace standin::raster {

namespace {

struct Rgb {
  int r, g, b;  // 0..255
};

Rgb Expand565(uint16_t t) {
  const int r = (t >> 11) & 31, g = (t >> 5) & 63, b = t & 31;
  return Rgb{(r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2)};
}

Rgb Texel(const Texture& tex, int i, int j) {
  const uint8_t* row = tex.texels + static_cast<ptrdiff_t>(j) * tex.pitch;
  if (tex.format == ColorFormat::RGB565) {
    uint16_t t;
    std::memcpy(&t, row + 2 * i, 2);
    return Expand565(t);
  }
  uint32_t p;
  std::memcpy(&p, row + 4 * i, 4);
  return Rgb{static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
             static_cast<int>(p & 0xFF)};
}

int AddressIndex(Address mode, int i, int size) {
  switch (mode) {
    case Address::Wrap: {
      const int m = i % size;
      return m < 0 ? m + size : m;
    }
    case Address::Mirror: {
      int m = i % (2 * size);
      if (m < 0) m += 2 * size;
      return m < size ? m : 2 * size - 1 - m;
    }
    case Address::Clamp:
    default:
      return i < 0 ? 0 : (i >= size ? size - 1 : i);
  }
}

// Texel coordinate in 1/256 texel for bilinear sampling (centre at u * size - 0.5):
// the float u * size * 256 - 128 rounded to the nearest integer, ties to even
// (the current SSE rounding mode), so the 8-bit weight is the nearest one to the
// exact fraction; flooring would shift every sample by half a step towards
// lower u. With wrap, u is first brought into 0..1 so the value stays small.
int BilinearCoordinate(Address mode, float u, int size) {
  const float scale = static_cast<float>(size) * 256.0f;
  float t;
  if (mode == Address::Wrap) {
    const float f = u - std::floor(u);
    t = ClampLikeSse(f * scale - 128.0f, -128.0f, scale - 1.0f);
  } else {
    t = ClampLikeSse(u * scale - 128.0f, -8388608.0f, 8388607.0f);
  }
  return static_cast<int>(std::lrint(t));
}

int PointIndex(Address mode, float u, int size) {
  const float s = static_cast<float>(size);
  float t;
  if (mode == Address::Wrap) {
    const float f = u - std::floor(u);
    t = ClampLikeSse(f * s, 0.0f, s - 1.0f);
  } else {
    t = ClampLikeSse(u * s, -8388608.0f, 8388607.0f);
  }
  return AddressIndex(mode, static_cast<int>(std::floor(t)), size);
}

// The blend of a and b (0..255) with weight f (0..256) on b, rounded to the
// nearest integer, halves up: (a * (256 - f) + b * f + 128) >> 8. Flooring here
// would darken every filtered texel by half a step on average.
int Lerp8(int a, int b, int f) { return (a * (256 - f) + b * f + 128) >> 8; }

Rgb Sample(const Texture& tex, const State& st, bool linear, float u, float v) {
  if (!linear) {
    return Texel(tex, PointIndex(st.addressU, u, tex.width), PointIndex(st.addressV, v, tex.height));
  }
  const int tu = BilinearCoordinate(st.addressU, u, tex.width);
  const int tv = BilinearCoordinate(st.addressV, v, tex.height);
  const int fu = tu & 255, fv = tv & 255;
  const int i0 = AddressIndex(st.addressU, tu >> 8, tex.width);
  const int i1 = AddressIndex(st.addressU, (tu >> 8) + 1, tex.width);
  const int j0 = AddressIndex(st.addressV, tv >> 8, tex.height);
  const int j1 = AddressIndex(st.addressV, (tv >> 8) + 1, tex.height);
  const Rgb a = Texel(tex, i0, j0), b = Texel(tex, i1, j0);
  const Rgb c = Texel(tex, i0, j1), d = Texel(tex, i1, j1);
  const int r0 = Lerp8(a.r, b.r, fu), g0 = Lerp8(a.g, b.g, fu), b0 = Lerp8(a.b, b.b, fu);
  const int r1 = Lerp8(c.r, d.r, fu), g1 = Lerp8(c.g, d.g, fu), b1 = Lerp8(c.b, d.b, fu);
  return Rgb{Lerp8(r0, r1, fv), Lerp8(g0, g1, fv), Lerp8(b0, b1, fv)};
}

// The texel t (0..255) times the diffuse channel d (0..255 as interpolated,
// not yet rounded), scaled back to 0..255: the float (t * d) * (1 / 255)
// rounded to nearest, ties to even. Rounding d first and then the product
// would round twice and drift up to a step from the exact t * d / 255.
int Modulate(int t, float d) {
  return static_cast<int>(std::lrint(static_cast<float>(t) * d * (1.0f / 255.0f)));
}

bool Passes(Compare f, uint32_t value, uint32_t stored) {
  switch (f) {
    case Compare::Never: return false;
    case Compare::Less: return value < stored;
    case Compare::Equal: return value == stored;
    case Compare::LessEqual: return value <= stored;
    case Compare::Greater: return value > stored;
    case Compare::NotEqual: return value != stored;
    case Compare::GreaterEqual: return value >= stored;
    case Compare::Always: default: return true;
  }
}

// A diffuse channel at the pixel, 0..255, unrounded.
float ColorChannel(float valueQ, float w) { return ClampLikeSse(valueQ * w, 0.0f, 255.0f); }

int Round(float v) { return static_cast<int>(std::lrint(v)); }

}  // namespace

void ReferenceTriangle(const Target& target, const State& st, const Texture* tex, const Setup& s,
                       const Clip& clip, uint64_t* covered) {
  // Without a texture the texture argument reads as white.
  const bool combine = st.colorOp != ColorOp::Diffuse;
  const DepthFormat& df = target.depthFormat;
  const bool depth = st.depthTest && target.depth != nullptr && df.bytes != 0;
  float row[Setup::kPlanes];
  const int y0 = std::max(s.minY, clip.y0), y1 = std::min(s.maxY, clip.y1);
  const int x0 = std::max(s.minX, clip.x0), x1 = std::min(s.maxX, clip.x1);
  for (int py = y0; py <= y1; ++py) {
    const float fy = static_cast<float>(py - s.minY);
    for (int k = 0; k < Setup::kPlanes; ++k) row[k] = s.c[k] + s.dy[k] * fy;
    for (int px = x0; px <= x1; ++px) {
      const int64_t ox = px - s.minX, oy = py - s.minY;
      bool in = true;
      for (int e = 0; e < 3; ++e) in = in && s.e0[e] + s.ex[e] * ox + s.ey[e] * oy >= 0;
      if (!in) continue;
      ++*covered;
      const float fx = static_cast<float>(ox);

      if (depth) {
        uint8_t* p = target.depth + static_cast<ptrdiff_t>(py) * target.depthPitch + px * df.bytes;
        uint32_t stored;
        if (df.bytes == 2) {
          uint16_t v16;
          std::memcpy(&v16, p, 2);
          stored = v16;
        } else {
          std::memcpy(&stored, p, 4);
        }
        const uint32_t z = DepthValue(df, row[Setup::kZ] + s.dx[Setup::kZ] * fx);
        if (!Passes(st.depthFunc, z, (stored & df.mask) >> df.shift)) continue;
        if (st.depthWrite) {
          const uint32_t nv = (stored & ~df.mask) | (z << df.shift);
          if (df.bytes == 2) {
            const uint16_t v16 = static_cast<uint16_t>(nv);
            std::memcpy(p, &v16, 2);
          } else {
            std::memcpy(p, &nv, 4);
          }
        }
      }

      const float w = 1.0f / (row[Setup::kQ] + s.dx[Setup::kQ] * fx);
      const float dr = ColorChannel(row[Setup::kRQ] + s.dx[Setup::kRQ] * fx, w);
      const float dg = ColorChannel(row[Setup::kGQ] + s.dx[Setup::kGQ] * fx, w);
      const float db = ColorChannel(row[Setup::kBQ] + s.dx[Setup::kBQ] * fx, w);
      const Rgb d{Round(dr), Round(dg), Round(db)};
      Rgb out = d;
      if (combine) {
        Rgb t{255, 255, 255};
        if (tex != nullptr) {
          const float u = (row[Setup::kUQ] + s.dx[Setup::kUQ] * fx) * w;
          const float v = (row[Setup::kVQ] + s.dx[Setup::kVQ] * fx) * w;
          t = Sample(*tex, st, s.linear, u, v);
        }
        // Without a texture the texel is white, and white times the diffuse
        // colour is the diffuse colour itself, not the float product's
        // rounding of it (which can land on the other side of a half).
        const Rgb product = tex != nullptr ? Rgb{Modulate(t.r, dr), Modulate(t.g, dg), Modulate(t.b, db)} : d;
        switch (st.colorOp) {
          case ColorOp::Texture: out = t; break;
          case ColorOp::Modulate: out = product; break;
          case ColorOp::Modulate2x:
          case ColorOp::Modulate4x: {
            const int k = st.colorOp == ColorOp::Modulate2x ? 2 : 4;
            auto m = [k](int x) { return std::min(x * k, 255); };
            out = Rgb{m(product.r), m(product.g), m(product.b)};
            break;
          }
          case ColorOp::Add: {
            auto a = [](int x, int y) { return x + y > 255 ? 255 : x + y; };
            out = Rgb{a(t.r, d.r), a(t.g, d.g), a(t.b, d.b)};
            break;
          }
          case ColorOp::Diffuse: break;
        }
      }

      uint8_t* c = target.color + static_cast<ptrdiff_t>(py) * target.pitch;
      const uint32_t rgb = (static_cast<uint32_t>(out.r) << 16) | (out.g << 8) | out.b;
      if (target.format == ColorFormat::RGB565) {
        const uint16_t v16 = ToRgb565(rgb);
        std::memcpy(c + 2 * px, &v16, 2);
      } else {
        std::memcpy(c + 4 * px, &rgb, 4);
      }
    }
  }
}

}  // namespace standin::raster
