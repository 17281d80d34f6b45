// The AVX2 kernel: eight pixels of a row at a time.
//
// Coverage comes row by row from the exact span of the integer edge
// functions (RowSpan); the depth test runs before any shading, so hidden pixels
// cost only the edge and depth work. Shading evaluates the same float
// expressions as the reference kernel, lane by lane, so both draw the same
// bits. Textures are sampled from the padded RGB565 copy: one 32-bit gather
// fetches a texel and its right-hand neighbour, wrap included.
//
// Compiled for AVX2 through target attributes only (no FMA, so no fused
// multiply-add changes a rounding); the build itself stays portable and the
// kernel runs only when the CPU reports AVX2.
#include <cstring>

#include "raster/Raster.h"

// Everything below, lambdas included, is compiled for AVX2.
#pragma GCC push_options
#pragma GCC target("avx2")
#include <immintrin.h>
#define STANDIN_AVX2

namespace standin::raster {

bool CpuHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2") != 0;
  return has;
}

bool FastSupported(const Target& target, const State& st, const Texture* tex) {
  if (target.format != ColorFormat::RGB565) return false;
  if (st.depthTest && target.depth != nullptr && target.depthFormat.bytes != 0) {
    const DepthFormat& f = target.depthFormat;
    if (f.bytes != 2 || f.mask != 0xFFFF || f.shift != 0) return false;
    if (st.depthFunc != Compare::LessEqual) return false;
  }
  if (tex != nullptr && st.colorOp != ColorOp::Diffuse) {
    if (st.colorOp != ColorOp::Texture && st.colorOp != ColorOp::Modulate) return false;
    if (tex->padded == nullptr || tex->format != ColorFormat::RGB565) return false;
    if (st.addressU != Address::Wrap || st.addressV != Address::Wrap) return false;
  }
  return true;
}

namespace {

struct Channels {
  __m256i r, g, b;  // 0..255 per 32-bit lane
};

STANDIN_AVX2 inline Channels Expand565(__m256i t) {
  const __m256i m5 = _mm256_set1_epi32(31), m6 = _mm256_set1_epi32(63);
  const __m256i r = _mm256_and_si256(_mm256_srli_epi32(t, 11), m5);
  const __m256i g = _mm256_and_si256(_mm256_srli_epi32(t, 5), m6);
  const __m256i b = _mm256_and_si256(t, m5);
  return Channels{_mm256_or_si256(_mm256_slli_epi32(r, 3), _mm256_srli_epi32(r, 2)),
                  _mm256_or_si256(_mm256_slli_epi32(g, 2), _mm256_srli_epi32(g, 4)),
                  _mm256_or_si256(_mm256_slli_epi32(b, 3), _mm256_srli_epi32(b, 2))};
}

// a + ((b - a) * f >> 8), the shift arithmetic (a floor).
STANDIN_AVX2 inline __m256i Lerp8(__m256i a, __m256i b, __m256i f) {
  return _mm256_add_epi32(a, _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(b, a), f), 8));
}

// round(t * d / 255): x = t * d + 128, (x + (x >> 8)) >> 8.
STANDIN_AVX2 inline __m256i Modulate8(__m256i t, __m256i d) {
  const __m256i x = _mm256_add_epi32(_mm256_mullo_epi16(t, d), _mm256_set1_epi32(128));
  return _mm256_srli_epi32(_mm256_add_epi32(x, _mm256_srli_epi32(x, 8)), 8);
}

STANDIN_AVX2 inline __m256 Clamp(__m256 v, __m256 lo, __m256 hi) {
  return _mm256_min_ps(_mm256_max_ps(v, lo), hi);
}

// Eight 32-bit values (each <= 0xFFFF) to eight 16-bit ones.
STANDIN_AVX2 inline __m128i Pack16(__m256i v) {
  return _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

STANDIN_AVX2 inline __m128i Load16(const uint16_t* p, int n) {
  if (n == 8) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  uint16_t tmp[8] = {};
  std::memcpy(tmp, p, static_cast<size_t>(n) * 2);
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(tmp));
}

STANDIN_AVX2 inline void Store16(uint16_t* p, int n, __m128i v) {
  if (n == 8) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    return;
  }
  uint16_t tmp[8];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(tmp), v);
  std::memcpy(p, tmp, static_cast<size_t>(n) * 2);
}

// Wrapped texture coordinate for bilinear sampling: floor of the texel
// position in 1/256 texel, as the reference computes it.
STANDIN_AVX2 inline __m256i BilinearCoordinate(__m256 u, __m256 scale) {
  const __m256 f = _mm256_sub_ps(u, _mm256_floor_ps(u));
  const __m256 t = Clamp(_mm256_sub_ps(_mm256_mul_ps(f, scale), _mm256_set1_ps(128.0f)),
                         _mm256_set1_ps(-128.0f), _mm256_sub_ps(scale, _mm256_set1_ps(1.0f)));
  return _mm256_cvttps_epi32(_mm256_floor_ps(t));
}

STANDIN_AVX2 inline __m256i PointIndex(__m256 u, __m256 size) {
  const __m256 f = _mm256_sub_ps(u, _mm256_floor_ps(u));
  const __m256 t = Clamp(_mm256_mul_ps(f, size), _mm256_setzero_ps(),
                         _mm256_sub_ps(size, _mm256_set1_ps(1.0f)));
  return _mm256_cvttps_epi32(_mm256_floor_ps(t));
}

}  // namespace

STANDIN_AVX2 void FastTriangleAvx2(const Target& target, const State& st, const Texture* tex,
                                   const Setup& s, uint64_t* covered) {
  const bool useTexture = tex != nullptr && st.colorOp != ColorOp::Diffuse;
  const bool modulate = st.colorOp == ColorOp::Modulate;
  const bool depth = st.depthTest && target.depth != nullptr && target.depthFormat.bytes != 0;
  const bool depthWrite = depth && st.depthWrite;

  const __m256 laneF = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i laneI = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256 dx[Setup::kPlanes];
  for (int k = 0; k < Setup::kPlanes; ++k) dx[k] = _mm256_set1_ps(s.dx[k]);

  const int tw = useTexture ? tex->width : 1, th = useTexture ? tex->height : 1;
  const __m256 scaleU = _mm256_set1_ps(static_cast<float>(tw) * 256.0f);
  const __m256 scaleV = _mm256_set1_ps(static_cast<float>(th) * 256.0f);
  const __m256 sizeU = _mm256_set1_ps(static_cast<float>(tw));
  const __m256 sizeV = _mm256_set1_ps(static_cast<float>(th));
  const __m256i texW = _mm256_set1_epi32(tw), texH = _mm256_set1_epi32(th);
  const __m256i padPitch = _mm256_set1_epi32(tw + 1);
  const int* texels = useTexture ? reinterpret_cast<const int*>(tex->padded) : nullptr;

  const __m256 zero = _mm256_setzero_ps(), c255 = _mm256_set1_ps(255.0f);
  const __m256 z65535 = _mm256_set1_ps(65535.0f), one = _mm256_set1_ps(1.0f);
  const __m256i m8 = _mm256_set1_epi32(255), m16 = _mm256_set1_epi32(0xFFFF);
  uint64_t count = 0;

  for (int py = s.minY; py <= s.maxY; ++py) {
    const int oy = py - s.minY;
    const float fy = static_cast<float>(oy);
    __m256 row[Setup::kPlanes];
    for (int k = 0; k < Setup::kPlanes; ++k) row[k] = _mm256_set1_ps(s.c[k] + s.dy[k] * fy);
    int spanX0, spanX1;
    if (!RowSpan(s, py, &spanX0, &spanX1)) continue;
    uint16_t* crow =
        reinterpret_cast<uint16_t*>(target.color + static_cast<ptrdiff_t>(py) * target.pitch);
    uint16_t* zrow = depth ? reinterpret_cast<uint16_t*>(target.depth +
                                                         static_cast<ptrdiff_t>(py) * target.depthPitch)
                           : nullptr;

    for (int bx = spanX0; bx <= spanX1; bx += 8) {
      const int ox = bx - s.minX;
      const int n = spanX1 - bx + 1 < 8 ? spanX1 - bx + 1 : 8;
      __m256i cov = _mm256_cmpgt_epi32(_mm256_set1_epi32(n), laneI);
      // Whole 8-pixel loads and stores while the block stays inside the row:
      // lanes outside the span are written back unchanged.
      const int avail = bx + 8 <= target.width ? 8 : target.width - bx;
      count += static_cast<unsigned>(n);
      int bits;

      const __m256 xoff = _mm256_add_ps(_mm256_set1_ps(static_cast<float>(ox)), laneF);
      if (depth) {
        const __m256 z = _mm256_add_ps(row[Setup::kZ], _mm256_mul_ps(dx[Setup::kZ], xoff));
        const __m256i zi = _mm256_cvtps_epi32(Clamp(_mm256_mul_ps(z, z65535), zero, z65535));
        const __m128i old16 = Load16(zrow + bx, avail);
        const __m256i old = _mm256_cvtepu16_epi32(old16);
        cov = _mm256_andnot_si256(_mm256_cmpgt_epi32(zi, old), cov);  // LESSEQUAL
        bits = _mm256_movemask_ps(_mm256_castsi256_ps(cov));
        if (bits == 0) continue;
        if (depthWrite) {
          const __m128i mask16 = _mm_packs_epi32(_mm256_castsi256_si128(cov),
                                                 _mm256_extracti128_si256(cov, 1));
          Store16(zrow + bx, avail, _mm_blendv_epi8(old16, Pack16(zi), mask16));
        }
      }

      const __m256 w =
          _mm256_div_ps(one, _mm256_add_ps(row[Setup::kQ], _mm256_mul_ps(dx[Setup::kQ], xoff)));
      auto channel = [&](int k) {
        const __m256 v = _mm256_mul_ps(_mm256_add_ps(row[k], _mm256_mul_ps(dx[k], xoff)), w);
        return _mm256_cvtps_epi32(Clamp(v, zero, c255));
      };
      Channels out{channel(Setup::kRQ), channel(Setup::kGQ), channel(Setup::kBQ)};

      if (useTexture) {
        const __m256 u = _mm256_mul_ps(_mm256_add_ps(row[Setup::kUQ], _mm256_mul_ps(dx[Setup::kUQ], xoff)), w);
        const __m256 v = _mm256_mul_ps(_mm256_add_ps(row[Setup::kVQ], _mm256_mul_ps(dx[Setup::kVQ], xoff)), w);
        Channels t;
        if (s.linear) {
          const __m256i tu = BilinearCoordinate(u, scaleU);
          const __m256i tv = BilinearCoordinate(v, scaleV);
          const __m256i fu = _mm256_and_si256(tu, m8), fv = _mm256_and_si256(tv, m8);
          __m256i i0 = _mm256_srai_epi32(tu, 8), j0 = _mm256_srai_epi32(tv, 8);
          // -1 wraps to size - 1; the padded copy supplies the neighbour beyond the last texel.
          i0 = _mm256_add_epi32(i0, _mm256_and_si256(_mm256_srai_epi32(i0, 31), texW));
          j0 = _mm256_add_epi32(j0, _mm256_and_si256(_mm256_srai_epi32(j0, 31), texH));
          const __m256i idx = _mm256_add_epi32(_mm256_mullo_epi32(j0, padPitch), i0);
          const __m256i top = _mm256_i32gather_epi32(texels, idx, 2);
          const __m256i bottom = _mm256_i32gather_epi32(texels, _mm256_add_epi32(idx, padPitch), 2);
          const Channels a = Expand565(_mm256_and_si256(top, m16));
          const Channels b = Expand565(_mm256_srli_epi32(top, 16));
          const Channels c = Expand565(_mm256_and_si256(bottom, m16));
          const Channels d = Expand565(_mm256_srli_epi32(bottom, 16));
          t.r = Lerp8(Lerp8(a.r, b.r, fu), Lerp8(c.r, d.r, fu), fv);
          t.g = Lerp8(Lerp8(a.g, b.g, fu), Lerp8(c.g, d.g, fu), fv);
          t.b = Lerp8(Lerp8(a.b, b.b, fu), Lerp8(c.b, d.b, fu), fv);
        } else {
          const __m256i i = PointIndex(u, sizeU), j = PointIndex(v, sizeV);
          const __m256i idx = _mm256_add_epi32(_mm256_mullo_epi32(j, padPitch), i);
          t = Expand565(_mm256_and_si256(_mm256_i32gather_epi32(texels, idx, 2), m16));
        }
        if (modulate) {
          out = Channels{Modulate8(t.r, out.r), Modulate8(t.g, out.g), Modulate8(t.b, out.b)};
        } else {
          out = t;
        }
      }

      const __m256i rgb = _mm256_or_si256(
          _mm256_or_si256(_mm256_slli_epi32(_mm256_srli_epi32(out.r, 3), 11),
                          _mm256_slli_epi32(_mm256_srli_epi32(out.g, 2), 5)),
          _mm256_srli_epi32(out.b, 3));
      const __m128i mask16 =
          _mm_packs_epi32(_mm256_castsi256_si128(cov), _mm256_extracti128_si256(cov, 1));
      Store16(crow + bx, avail, _mm_blendv_epi8(Load16(crow + bx, avail), Pack16(rgb), mask16));
    }
  }
  *covered += count;
}

}  // namespace standin::raster

#pragma GCC pop_options
