// Forced resolution: the host's setting, the scale of one axis, and the
// linear-light box filter that averages a supersampled picture down.
#include "standin/resolution.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <thread>

#include "raster/TileQueue.h"
#include "standin/rgb565.h"

namespace standin {

namespace {

RenderSize g_renderSize;

// ceil(n / d) for d > 0 and any sign of n.
int64_t CeilDiv(int64_t n, int64_t d) { return n >= 0 ? (n + d - 1) / d : -((-n) / d); }

// sRGB transfer tables. `linear` holds each RGB565 value's three channels,
// widened by bit replication and decoded to 16-bit linear light, packed as
// red | green << 21 | blue << 42: the sum of up to 16 samples (at most
// 16 * 65535 < 2^21 per channel) adds in one 64-bit register. `encode` maps
// 16-bit linear light to the nearest 8-bit stored value.
struct LinearLight {
  uint64_t linear[65536];
  uint8_t encode[65536];

  static double Decode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
  static double Encode(double l) { return l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055; }
  static uint64_t Linear(int stored) { return uint64_t(std::lround(Decode(stored / 255.0) * 65535.0)); }

  LinearLight() {
    uint64_t d5[32], d6[64];
    for (int c = 0; c < 32; ++c) d5[c] = Linear(Widen5(uint32_t(c)));
    for (int c = 0; c < 64; ++c) d6[c] = Linear(Widen6(uint32_t(c)));
    for (uint32_t v = 0; v < 65536; ++v) linear[v] = d5[v >> 11] | d6[(v >> 5) & 63] << 21 | d5[v & 31] << 42;
    for (int l = 0; l < 65536; ++l) encode[l] = uint8_t(std::lround(Encode(l / 65535.0) * 255.0));
  }
};

const LinearLight& Tables() {
  static const LinearLight tables;
  return tables;
}

uint32_t Widened(uint32_t v) {
  return uint32_t{Widen5(v >> 11)} << 16 | uint32_t{Widen6((v >> 5) & 63)} << 8 | Widen5(v & 31);
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

namespace {

// Output rows [first, last) of BoxFilter565 for a block side of N. A block of
// one value is its widened value (what the mean in linear light gives back
// exactly); others take the sum through the packed table.
template <int N>
void BoxRows(const uint16_t* pixels, int pitch, int outWidth, int first, int last, uint32_t* out,
             int outPitch) {
  const LinearLight& t = Tables();
  constexpr uint64_t kCount = N * N, kMask = (uint64_t{1} << 21) - 1;
  for (int row = first; row < last; ++row) {
    const uint16_t* in[N];
    for (int sub = 0; sub < N; ++sub) in[sub] = Row(pixels, pitch, row * N + sub);
    uint32_t* o = out + static_cast<ptrdiff_t>(row) * outPitch;
    for (int col = 0; col < outWidth; ++col) {
      const int x = col * N;
      const uint16_t first0 = in[0][x];
      bool uniform = true;
      for (int sub = 0; sub < N; ++sub)
        for (int i = 0; i < N; ++i) uniform &= in[sub][x + i] == first0;
      if (uniform) {
        o[col] = Widened(first0);
        continue;
      }
      uint64_t sum = 0;
      for (int sub = 0; sub < N; ++sub)
        for (int i = 0; i < N; ++i) sum += t.linear[in[sub][x + i]];
      const uint64_t r = ((sum & kMask) + kCount / 2) / kCount;
      const uint64_t g = ((sum >> 21 & kMask) + kCount / 2) / kCount;
      const uint64_t b = ((sum >> 42 & kMask) + kCount / 2) / kCount;
      o[col] = uint32_t{t.encode[r]} << 16 | uint32_t{t.encode[g]} << 8 | t.encode[b];
    }
  }
}

}  // namespace

void BoxFilter565(const uint16_t* pixels, int width, int height, int pitch, int n, uint32_t* out,
                  int outPitch) {
  const int outWidth = width / n, outHeight = height / n;
  auto rows = [&](int first, int last) {
    switch (n) {
      case 2: BoxRows<2>(pixels, pitch, outWidth, first, last, out, outPitch); break;
      case 3: BoxRows<3>(pixels, pitch, outWidth, first, last, out, outPitch); break;
      case 4: BoxRows<4>(pixels, pitch, outWidth, first, last, out, outPitch); break;
      default:
        for (int y = first; y < last; ++y) {
          const uint16_t* in = Row(pixels, pitch, y);
          uint32_t* o = out + static_cast<ptrdiff_t>(y) * outPitch;
          for (int x = 0; x < outWidth; ++x) o[x] = Widened(in[x]);
        }
    }
  };
  // A large picture is split in two bands, the upper on a second thread,
  // when the drawing may use more than one (DEMO_THREADS): the filter reads
  // every drawn sample once and is bound by that.
  constexpr int64_t kSplitSamples = 1 << 20;
  const bool twoThreads = raster::ThreadCountFromEnvironment() > 1;
  if (!twoThreads || int64_t{width} * height < kSplitSamples || outHeight < 2) {
    rows(0, outHeight);
    return;
  }
  const int middle = outHeight / 2;
  std::thread upper(rows, 0, middle);
  rows(middle, outHeight);
  upper.join();
}

}  // namespace standin
