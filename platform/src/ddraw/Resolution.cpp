// Forced resolution: the host's setting, the scale of one axis, and the
// linear-light box filter that averages a supersampled picture down.
#include "standin/resolution.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <thread>

#include "raster/Raster.h"
#include "raster/TileQueue.h"
#include "standin/rgb565.h"

#if defined(__x86_64__)
// GCC 12 reports the deliberately undefined pass-through operand inside its
// own AVX-512 intrinsic headers as (maybe) uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#define STANDIN_WIDE_BOX_FILTER 1
#endif

namespace standin {

namespace {

RenderSize g_renderSize;

// ceil(n / d) for d > 0 and any sign of n.
int64_t CeilDiv(int64_t n, int64_t d) { return n >= 0 ? (n + d - 1) / d : -((-n) / d); }

// sRGB transfer tables. `linear` holds each RGB565 value's three channels,
// widened by bit replication and decoded to 16-bit linear light, packed as
// red | green << 21 | blue << 42: the sum of up to 16 samples (at most
// 16 * 65535 < 2^21 per channel) adds in one 64-bit register. `encode` maps
// 16-bit linear light to the nearest 8-bit stored value (three bytes of
// padding after it, so that a 32-bit gather may read any entry). `d5` and
// `d6` are the decoded values of each 5- and 6-bit channel value, `low5`,
// `high5`, `low6` and `high6` their low and high bytes.
struct LinearLight {
  uint64_t linear[65536];
  uint8_t encode[65536 + 3];
  uint16_t d5[32], d6[64];
  uint8_t low5[32], high5[32], low6[64], high6[64];

  static double Decode(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
  static double Encode(double l) { return l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055; }
  static uint64_t Linear(int stored) { return uint64_t(std::lround(Decode(stored / 255.0) * 65535.0)); }

  LinearLight() {
    for (int c = 0; c < 32; ++c) d5[c] = uint16_t(Linear(Widen5(uint32_t(c))));
    for (int c = 0; c < 64; ++c) d6[c] = uint16_t(Linear(Widen6(uint32_t(c))));
    for (int c = 0; c < 32; ++c) low5[c] = uint8_t(d5[c]), high5[c] = uint8_t(d5[c] >> 8);
    for (int c = 0; c < 64; ++c) low6[c] = uint8_t(d6[c]), high6[c] = uint8_t(d6[c] >> 8);
    for (uint32_t v = 0; v < 65536; ++v)
      linear[v] = uint64_t{d5[v >> 11]} | uint64_t{d6[(v >> 5) & 63]} << 21 | uint64_t{d5[v & 31]} << 42;
    for (int l = 0; l < 65536; ++l) encode[l] = uint8_t(std::lround(Encode(l / 65535.0) * 255.0));
    encode[65536] = encode[65537] = encode[65538] = 0;
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

#ifdef STANDIN_WIDE_BOX_FILTER
#define STANDIN_WIDE_TARGET __attribute__((target("avx2,avx512f,avx512bw")))

// The sums of each horizontal pair of 16-bit lanes, in 32-bit lanes.
STANDIN_WIDE_TARGET inline __m512i PairSums(__m512i v) {
  return _mm512_add_epi32(_mm512_and_si512(v, _mm512_set1_epi32(0xFFFF)), _mm512_srli_epi32(v, 16));
}

// One output row of an N x N filter (N = 2 or 4) from 32 samples of each of
// its N input rows at a time: the channels decoded by 16-bit permutes of the
// 5- and 6-bit tables, summed per block, divided, and encoded by a gather.
// Returns the columns done; the caller finishes the row. A block of one value
// comes out as its widened value here too (the tables round-trip).
template <int N>
STANDIN_WIDE_TARGET int BoxRowWide(const uint16_t* const* in, int outWidth, uint32_t* o, const LinearLight& t) {
  constexpr int kOut = 32 / N;  // output pixels per step
  constexpr int kShift = N == 2 ? 2 : 4;
  const __m512i t5 = _mm512_loadu_si512(t.d5);
  const __m512i t6lo = _mm512_loadu_si512(t.d6);
  const __m512i t6hi = _mm512_loadu_si512(t.d6 + 32);
  const __m512i mask5 = _mm512_set1_epi16(31), mask6 = _mm512_set1_epi16(63);
  const int* encode = reinterpret_cast<const int*>(t.encode);
  int col = 0;
  for (; col + kOut <= outWidth; col += kOut) {
    __m512i sum[3] = {_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512()};
    for (int sub = 0; sub < N; ++sub) {
      const __m512i v = _mm512_loadu_si512(in[sub] + col * N);
      sum[0] = _mm512_add_epi32(sum[0], PairSums(_mm512_permutexvar_epi16(_mm512_srli_epi16(v, 11), t5)));
      sum[1] = _mm512_add_epi32(
          sum[1], PairSums(_mm512_permutex2var_epi16(t6lo, _mm512_and_si512(_mm512_srli_epi16(v, 5), mask6), t6hi)));
      sum[2] = _mm512_add_epi32(sum[2], PairSums(_mm512_permutexvar_epi16(_mm512_and_si512(v, mask5), t5)));
    }
    if constexpr (N == 2) {
      __m512i rgb = _mm512_setzero_si512();
      for (int c = 0; c < 3; ++c) {
        const __m512i mean = _mm512_srli_epi32(_mm512_add_epi32(sum[c], _mm512_set1_epi32(2)), kShift);
        const __m512i code = _mm512_and_si512(_mm512_i32gather_epi32(mean, encode, 1), _mm512_set1_epi32(0xFF));
        rgb = _mm512_or_si512(_mm512_slli_epi32(rgb, 8), code);
      }
      _mm512_storeu_si512(o + col, rgb);
    } else {
      __m256i rgb = _mm256_setzero_si256();
      for (int c = 0; c < 3; ++c) {
        // Pairs of pair sums: each 64-bit lane's low half holds its block.
        const __m256i block = _mm512_cvtepi64_epi32(_mm512_add_epi32(sum[c], _mm512_srli_epi64(sum[c], 32)));
        const __m256i mean = _mm256_srli_epi32(_mm256_add_epi32(block, _mm256_set1_epi32(8)), kShift);
        const __m256i code = _mm256_and_si256(_mm256_i32gather_epi32(encode, mean, 1), _mm256_set1_epi32(0xFF));
        rgb = _mm256_or_si256(_mm256_slli_epi32(rgb, 8), code);
      }
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + col), rgb);
    }
  }
  return col;
}

#define STANDIN_AVX2_TARGET __attribute__((target("avx2")))

STANDIN_AVX2_TARGET inline __m256i PairSums(__m256i v) {
  return _mm256_add_epi32(_mm256_and_si256(v, _mm256_set1_epi32(0xFFFF)), _mm256_srli_epi32(v, 16));
}

// A 5- or 6-bit channel table as byte shuffles: the low and the high bytes of
// each 16 entries, in both 128-bit lanes.
struct ShuffleTable {
  __m256i lo[4], hi[4];
};

STANDIN_AVX2_TARGET void LoadShuffleTable(const uint8_t* low, const uint8_t* high, int count, ShuffleTable* t) {
  for (int part = 0; part * 16 < count; ++part) {
    t->lo[part] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low + part * 16)));
    t->hi[part] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(high + part * 16)));
  }
}

// One byte of each entry (`part`: the low or the high bytes), for indices
// held in both bytes of each 16-bit lane; the part of 16 chosen by the
// index's bits 4 and 5.
template <int kParts>
STANDIN_AVX2_TARGET inline __m256i ShuffleBytes(const __m256i* part, __m256i both) {
  const __m256i bit4 = _mm256_slli_epi16(both, 3);
  __m256i v = _mm256_blendv_epi8(_mm256_shuffle_epi8(part[0], both), _mm256_shuffle_epi8(part[1], both), bit4);
  if constexpr (kParts == 4) {
    const __m256i upper =
        _mm256_blendv_epi8(_mm256_shuffle_epi8(part[2], both), _mm256_shuffle_epi8(part[3], both), bit4);
    v = _mm256_blendv_epi8(v, upper, _mm256_slli_epi16(both, 2));
  }
  return v;
}

// The table's entries for sixteen 16-bit indices below 16 * kParts.
template <int kParts>
STANDIN_AVX2_TARGET inline __m256i Lookup(const ShuffleTable& t, __m256i index) {
  const __m256i both = _mm256_or_si256(index, _mm256_slli_epi16(index, 8));
  return _mm256_blendv_epi8(ShuffleBytes<kParts>(t.lo, both), ShuffleBytes<kParts>(t.hi, both),
                            _mm256_set1_epi16(int16_t(0xFF00)));
}

// Pair sums of the three channels of 16 samples from each of N rows at x.
template <int N>
STANDIN_AVX2_TARGET inline void ChannelSums(const uint16_t* const* in, int x, const ShuffleTable& t5,
                                            const ShuffleTable& t6, __m256i* sum) {
  const __m256i mask5 = _mm256_set1_epi16(31), mask6 = _mm256_set1_epi16(63);
  sum[0] = sum[1] = sum[2] = _mm256_setzero_si256();
  for (int sub = 0; sub < N; ++sub) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in[sub] + x));
    sum[0] = _mm256_add_epi32(sum[0], PairSums(Lookup<2>(t5, _mm256_srli_epi16(v, 11))));
    sum[1] = _mm256_add_epi32(sum[1], PairSums(Lookup<4>(t6, _mm256_and_si256(_mm256_srli_epi16(v, 5), mask6))));
    sum[2] = _mm256_add_epi32(sum[2], PairSums(Lookup<2>(t5, _mm256_and_si256(v, mask5))));
  }
}

// BoxRowWide in 256-bit vectors: 16 samples of a row at a time, the channels
// decoded by byte shuffles instead of 16-bit permutes.
template <int N>
STANDIN_AVX2_TARGET int BoxRowAvx2(const uint16_t* const* in, int outWidth, uint32_t* o, const LinearLight& t) {
  static_assert(N == 2 || N == 4, "2 x 2 or 4 x 4 blocks");
  constexpr int kShift = N == 2 ? 2 : 4;
  ShuffleTable t5{}, t6{};
  LoadShuffleTable(t.low5, t.high5, 32, &t5);
  LoadShuffleTable(t.low6, t.high6, 64, &t6);
  const int* encode = reinterpret_cast<const int*>(t.encode);
  int col = 0;
  for (; col + 8 <= outWidth; col += 8) {
    __m256i block[3];
    if constexpr (N == 2) {
      ChannelSums<N>(in, col * 2, t5, t6, block);
    } else {
      // Two steps of 16 samples; their pairs of pair sums, four blocks each.
      __m256i a[3], b[3];
      ChannelSums<N>(in, col * 4, t5, t6, a);
      ChannelSums<N>(in, col * 4 + 16, t5, t6, b);
      const __m256i even = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
      for (int c = 0; c < 3; ++c) {
        const __m256i pa = _mm256_permutevar8x32_epi32(_mm256_add_epi32(a[c], _mm256_srli_epi64(a[c], 32)), even);
        const __m256i pb = _mm256_permutevar8x32_epi32(_mm256_add_epi32(b[c], _mm256_srli_epi64(b[c], 32)), even);
        block[c] = _mm256_permute2x128_si256(pa, pb, 0x20);
      }
    }
    __m256i rgb = _mm256_setzero_si256();
    for (int c = 0; c < 3; ++c) {
      const __m256i mean = _mm256_srli_epi32(_mm256_add_epi32(block[c], _mm256_set1_epi32(N * N / 2)), kShift);
      const __m256i code = _mm256_and_si256(_mm256_i32gather_epi32(encode, mean, 1), _mm256_set1_epi32(0xFF));
      rgb = _mm256_or_si256(_mm256_slli_epi32(rgb, 8), code);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + col), rgb);
  }
  return col;
}
#endif

// Which vectors the filter uses: those of the drawing kernel (DEMO_KERNEL
// forcing a narrower kernel forces a narrower filter too).
enum class FilterPath { Plain, Avx2, Avx512 };

FilterPath ChooseFilter() {
#ifdef STANDIN_WIDE_BOX_FILTER
  raster::Kernel kernel = raster::ParseKernel(std::getenv("DEMO_KERNEL"), nullptr);
  if (kernel == raster::Kernel::Auto) kernel = raster::BestKernel();
  if (kernel == raster::Kernel::Avx512) return FilterPath::Avx512;
  if (kernel == raster::Kernel::Avx2) return FilterPath::Avx2;
#endif
  return FilterPath::Plain;
}

// Output rows [first, last) of BoxFilter565 for a block side of N. A block of
// one value is its widened value (what the mean in linear light gives back
// exactly); others take the sum through the packed table.
template <int N>
void BoxRows(const uint16_t* pixels, int pitch, int outWidth, int first, int last, uint32_t* out,
             int outPitch, FilterPath path) {
  const LinearLight& t = Tables();
  constexpr uint64_t kCount = N * N, kMask = (uint64_t{1} << 21) - 1;
  for (int row = first; row < last; ++row) {
    const uint16_t* in[N];
    for (int sub = 0; sub < N; ++sub) in[sub] = Row(pixels, pitch, row * N + sub);
    uint32_t* o = out + static_cast<ptrdiff_t>(row) * outPitch;
    int col = 0;
#ifdef STANDIN_WIDE_BOX_FILTER
    if constexpr (N == 2 || N == 4) {
      if (path == FilterPath::Avx512) col = BoxRowWide<N>(in, outWidth, o, t);
      if (path == FilterPath::Avx2) col = BoxRowAvx2<N>(in, outWidth, o, t);
    }
#endif
    for (; col < outWidth; ++col) {
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
  (void)path;
}

}  // namespace

void BoxFilter565(const uint16_t* pixels, int width, int height, int pitch, int n, uint32_t* out,
                  int outPitch) {
  const int outWidth = width / n, outHeight = height / n;
  const FilterPath path = ChooseFilter();
  auto rows = [&](int first, int last) {
    switch (n) {
      case 2: BoxRows<2>(pixels, pitch, outWidth, first, last, out, outPitch, path); break;
      case 3: BoxRows<3>(pixels, pitch, outWidth, first, last, out, outPitch, path); break;
      case 4: BoxRows<4>(pixels, pitch, outWidth, first, last, out, outPitch, path); break;
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
