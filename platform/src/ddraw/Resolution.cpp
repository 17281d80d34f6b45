// Forced resolution: the host's setting, the scale of one axis, and the
// linear-light box filter that averages a supersampled picture down.
#include "standin/resolution.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "standin/rgb565.h"

namespace standin {

namespace {

RenderSize g_renderSize;

// ceil(n / d) for d > 0 and any sign of n.
int64_t CeilDiv(int64_t n, int64_t d) { return n >= 0 ? (n + d - 1) / d : -((-n) / d); }

// sRGB transfer tables: 8-bit stored value to 16-bit linear light, and 16-bit
// linear light to the nearest 8-bit stored value.
struct LinearLight {
  uint16_t decode5[32], decode6[64];  // RGB565 channels, widened by bit replication
  uint8_t encode[65536];

  static double Decode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
  static double Encode(double l) { return l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055; }
  static uint16_t Linear(int stored) { return uint16_t(std::lround(Decode(stored / 255.0) * 65535.0)); }

  LinearLight() {
    for (int c = 0; c < 32; ++c) decode5[c] = Linear(Widen5(uint32_t(c)));
    for (int c = 0; c < 64; ++c) decode6[c] = Linear(Widen6(uint32_t(c)));
    for (int l = 0; l < 65536; ++l) encode[l] = uint8_t(std::lround(Encode(l / 65535.0) * 255.0));
  }
};

const LinearLight& Tables() {
  static const LinearLight tables;
  return tables;
}

const uint16_t* Row(const uint16_t* pixels, int pitch, int y) {
  return reinterpret_cast<const uint16_t*>(reinterpret_cast<const uint8_t*>(pixels) +
                                           static_cast<ptrdiff_t>(y) * pitch);
}

}  // namespace

void SetRenderSize(const RenderSize& size) {
  g_renderSize = size;
  g_renderSize.ssaa = std::clamp(size.ssaa, 1, 4);
}

RenderSize CurrentRenderSize() { return g_renderSize; }

int AxisScale::Edge(int64_t i) const {
  return static_cast<int>(CeilDiv(2 * i * drawn - mode, 2 * int64_t{mode}));
}

float AxisScale::Position(float x) const {
  if (Unscaled()) return x;
  return (x + 0.5f) * (static_cast<float>(drawn) / static_cast<float>(mode)) - 0.5f;
}

int AxisScale::Nearest(int i) const {
  return static_cast<int>((2 * int64_t{i} + 1) * drawn / (2 * int64_t{mode}));
}

void BoxFilter565(const uint16_t* pixels, int width, int height, int pitch, int n, uint32_t* out,
                  int outPitch) {
  if (n == 1) {
    for (int y = 0; y < height; ++y) {
      const uint16_t* in = Row(pixels, pitch, y);
      uint32_t* o = out + static_cast<ptrdiff_t>(y) * outPitch;
      for (int x = 0; x < width; ++x) {
        const uint32_t v = in[x];
        o[x] = uint32_t{Widen5(v >> 11)} << 16 | uint32_t{Widen6((v >> 5) & 63)} << 8 | Widen5(v & 31);
      }
    }
    return;
  }
  const LinearLight& t = Tables();
  const int outWidth = width / n, outHeight = height / n;
  const uint32_t count = uint32_t(n * n);
  thread_local std::vector<uint32_t> sums;
  sums.resize(size_t(outWidth) * 3);
  for (int row = 0; row < outHeight; ++row) {
    std::fill(sums.begin(), sums.end(), 0u);
    for (int sub = 0; sub < n; ++sub) {
      const uint16_t* in = Row(pixels, pitch, row * n + sub);
      uint32_t* s = sums.data();
      for (int col = 0; col < outWidth; ++col, s += 3) {
        for (int i = 0; i < n; ++i) {
          const uint16_t v = *in++;
          s[0] += t.decode5[v >> 11];
          s[1] += t.decode6[(v >> 5) & 63];
          s[2] += t.decode5[v & 31];
        }
      }
    }
    uint32_t* o = out + static_cast<ptrdiff_t>(row) * outPitch;
    const uint32_t* s = sums.data();
    for (int col = 0; col < outWidth; ++col, s += 3) {
      o[col] = uint32_t{t.encode[(s[0] + count / 2) / count]} << 16 |
               uint32_t{t.encode[(s[1] + count / 2) / count]} << 8 | t.encode[(s[2] + count / 2) / count];
    }
  }
}

}  // namespace standin
