// Triangle-list front end: vertex checks, homogeneous clipping, snapping,
// culling and the per-triangle setup both kernels draw from.
// No fused multiply-add: the kernels must see the same roundings.
#pragma GCC optimize("fp-contract=off")
#include "raster/Raster.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace standin::raster {

namespace {

// A vertex in screen space with its colour as floats 0..255.
struct ScreenVertex {
  float x, y, z, q;  // q = rhw
  float r, g, b;
  float u, v;
};

// A vertex in clip space; every attribute is linear here.
struct ClipVertex {
  float X, Y, Z, W;
  float r, g, b;
  float u, v;
};

// Vertex positions are snapped to 1/256 pixel, the precision other Direct3D
// implementations and GPUs rasterize with (8 sub-pixel bits), so an edge pixel
// goes to the same triangle as there. Coverage is then exact for the snapped
// triangle. With coordinates clamped to kCoordinateMin..Max (a span below
// 2^15 pixels) a snapped coordinate or difference is below 2^23 in magnitude,
// ex and ey below 2^31, e0 below 2^47, and an edge value anywhere in a
// bounding box (at most 2^15 pixels across) below 2^48: far inside 64 bits.
constexpr int kSubpixelBits = 8;
constexpr float kSubpixel = 256.0f;
constexpr float kCoordinateMin = -8192.0f, kCoordinateMax = 16384.0f;

struct Scissor {
  int x0, y0, x1, y1;  // [x0, x1) x [y0, y1)
};

// x, y, z and rhw of all three vertices finite: no exponent all ones.
bool AllFinite(const Vertex* v) {
  const __m128i exponent = _mm_set1_epi32(0x7F800000);
  __m128i bad = _mm_setzero_si128();
  for (int i = 0; i < 3; ++i) {
    const __m128i bits = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&v[i].x));
    bad = _mm_or_si128(bad, _mm_cmpeq_epi32(_mm_and_si128(bits, exponent), exponent));
  }
  return _mm_movemask_epi8(bad) == 0;
}

ScreenVertex ToScreen(const Vertex& v, uint32_t diffuse) {
  ScreenVertex s;
  s.x = v.x;
  s.y = v.y;
  s.z = v.z;
  s.q = v.rhw;
  s.r = static_cast<float>((diffuse >> 16) & 0xFF);
  s.g = static_cast<float>((diffuse >> 8) & 0xFF);
  s.b = static_cast<float>(diffuse & 0xFF);
  s.u = std::isfinite(v.u) ? v.u : 0.0f;
  s.v = std::isfinite(v.v) ? v.v : 0.0f;
  return s;
}

ClipVertex ToClip(const ScreenVertex& s) {
  // rhw == 0 is drawn as if w were 1.
  const float w = s.q == 0.0f ? 1.0f : 1.0f / s.q;
  return ClipVertex{s.x * w, s.y * w, s.z * w, w, s.r, s.g, s.b, s.u, s.v};
}

ScreenVertex Project(const ClipVertex& c) {
  const float q = 1.0f / c.W;
  return ScreenVertex{c.X * q, c.Y * q, c.Z * q, q, c.r, c.g, c.b, c.u, c.v};
}

ClipVertex Lerp(const ClipVertex& a, const ClipVertex& b, float t) {
  auto l = [t](float p, float q) { return p + (q - p) * t; };
  return ClipVertex{l(a.X, b.X), l(a.Y, b.Y), l(a.Z, b.Z), l(a.W, b.W),
                    l(a.r, b.r), l(a.g, b.g), l(a.b, b.b), l(a.u, b.u), l(a.v, b.v)};
}

// Sutherland-Hodgman against one plane; `dist` >= 0 is inside.
template <typename Dist>
int ClipPolygon(const ClipVertex* in, int n, ClipVertex* out, Dist dist) {
  // Each vertex's distance is taken once; the last edge closes the polygon.
  int m = 0;
  const float first = dist(in[0]);
  float da = first;
  for (int i = 0; i < n; ++i) {
    const bool last = i + 1 == n;
    const ClipVertex& a = in[i];
    const ClipVertex& b = in[last ? 0 : i + 1];
    const float db = last ? first : dist(b);
    if (da >= 0) out[m++] = a;
    if ((da >= 0) != (db >= 0)) out[m++] = Lerp(a, b, da / (da - db));
    da = db;
  }
  return m;
}

// Nearest integer, ties to even (llrint without the library call).
int64_t RoundToInt64(float v) { return _mm_cvtss_si64(_mm_set_ss(v)); }

int64_t CeilPixel(int64_t v) { return (v + (1 << kSubpixelBits) - 1) >> kSubpixelBits; }
int64_t FloorPixel(int64_t v) { return v >> kSubpixelBits; }

// Snaps, culls and sets up one screen-space triangle, then hands it on.
class TriangleSink {
 public:
  TriangleSink(const DrawPlan& plan, void (*sink)(void*, const Setup&), void* context)
      : state_(plan.state), texture_(plan.TexturePtr()),
        scissor_{plan.scissor.x0, plan.scissor.y0, plan.scissor.x1 + 1, plan.scissor.y1 + 1},
        sink_(sink), context_(context) {}

  void Emit(ScreenVertex a, ScreenVertex b, ScreenVertex c) const {
    int64_t X[3], Y[3];
    ScreenVertex* v[3] = {&a, &b, &c};
    for (int i = 0; i < 3; ++i) {
      // Clipping keeps vertices in the viewport (at most 8192 pixels wide); the
      // clamp only guards the fixed-point range.
      X[i] = RoundToInt64(ClampLikeSse(v[i]->x, kCoordinateMin, kCoordinateMax) * kSubpixel);
      Y[i] = RoundToInt64(ClampLikeSse(v[i]->y, kCoordinateMin, kCoordinateMax) * kSubpixel);
    }
    int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (Y[1] - Y[0]) * (X[2] - X[0]);
    if (area == 0) return;
    // Screen y grows downward: area > 0 means clockwise on the screen.
    if (state_.cull == Cull::Clockwise && area > 0) return;
    if (state_.cull == Cull::CounterClockwise && area < 0) return;
    if (area < 0) {
      std::swap(b, c);
      std::swap(X[1], X[2]);
      std::swap(Y[1], Y[2]);
      area = -area;
    }

    Setup s;
    const int64_t minX = std::max<int64_t>(CeilPixel(std::min({X[0], X[1], X[2]})), scissor_.x0);
    const int64_t minY = std::max<int64_t>(CeilPixel(std::min({Y[0], Y[1], Y[2]})), scissor_.y0);
    const int64_t maxX = std::min<int64_t>(FloorPixel(std::max({X[0], X[1], X[2]})), scissor_.x1 - 1);
    const int64_t maxY = std::min<int64_t>(FloorPixel(std::max({Y[0], Y[1], Y[2]})), scissor_.y1 - 1);
    if (minX > maxX || minY > maxY) return;
    s.minX = static_cast<int>(minX);
    s.minY = static_cast<int>(minY);
    s.maxX = static_cast<int>(maxX);
    s.maxY = static_cast<int>(maxY);

    // Edge from vertex i to vertex i + 1; inside is E >= 0 for this winding.
    for (int i = 0; i < 3; ++i) {
      const int j = (i + 1) % 3;
      const int64_t dx = X[j] - X[i], dy = Y[j] - Y[i];
      // Top edge (flat, interior below) or left edge (running up): a centre on it is inside.
      const bool topLeft = (dy == 0 && dx > 0) || dy < 0;
      s.e0[i] = dx * (minY * (1 << kSubpixelBits) - Y[i]) - dy * (minX * (1 << kSubpixelBits) - X[i]) -
                (topLeft ? 0 : 1);
      s.ex[i] = -dy * (1 << kSubpixelBits);
      s.ey[i] = dx * (1 << kSubpixelBits);
    }

    // Attribute planes through the unsnapped positions: snapping decides which
    // pixels a triangle covers, not the values it shows there. On the recorded
    // streams this agrees with other implementations 5 to 10 dB better than
    // planes through the snapped positions. A float triangle that is degenerate
    // or winds the other way than its snapped self (a sliver within 1/256 pixel
    // of a line) takes the snapped positions instead, whose area is exact and
    // nonzero, so the planes stay finite.
    float x0 = a.x, y0 = a.y;
    float dx1 = b.x - a.x, dy1 = b.y - a.y, dx2 = c.x - a.x, dy2 = c.y - a.y;
    const float det = dx1 * dy2 - dx2 * dy1;
    float inv = 1.0f / det;
    if (!(det > 0.0f) || !std::isfinite(inv)) {
      x0 = static_cast<float>(X[0]) / kSubpixel;
      y0 = static_cast<float>(Y[0]) / kSubpixel;
      dx1 = static_cast<float>(X[1] - X[0]) / kSubpixel;
      dy1 = static_cast<float>(Y[1] - Y[0]) / kSubpixel;
      dx2 = static_cast<float>(X[2] - X[0]) / kSubpixel;
      dy2 = static_cast<float>(Y[2] - Y[0]) / kSubpixel;
      inv = static_cast<float>(static_cast<double>(kSubpixel) * kSubpixel / static_cast<double>(area));
    }
    // The seven planes in two groups of four lanes (the last lane spare),
    // each lane computed exactly as it would be alone.
    __m128 attr[3][2];
    ScreenVertex* sv[3] = {&a, &b, &c};
    for (int i = 0; i < 3; ++i) {
      const ScreenVertex& p = *sv[i];
      const __m128 q = _mm_set1_ps(p.q);
      attr[i][0] = _mm_mul_ps(_mm_setr_ps(p.z, 1.0f, p.u, p.v), _mm_setr_ps(1.0f, p.q, p.q, p.q));
      attr[i][1] = _mm_mul_ps(_mm_setr_ps(p.r, p.g, p.b, 0.0f), q);
    }
    static_assert(Setup::kZ == 0 && Setup::kQ == 1 && Setup::kUQ == 2 && Setup::kVQ == 3 && Setup::kRQ == 4 &&
                      Setup::kGQ == 5 && Setup::kBQ == 6 && Setup::kPlanes == 7,
                  "the plane groups follow the plane order");
    const __m128 vdx1 = _mm_set1_ps(dx1), vdy1 = _mm_set1_ps(dy1), vdx2 = _mm_set1_ps(dx2), vdy2 = _mm_set1_ps(dy2);
    const __m128 vinv = _mm_set1_ps(inv);
    const __m128 ox = _mm_set1_ps(static_cast<float>(s.minX) - x0), oy = _mm_set1_ps(static_cast<float>(s.minY) - y0);
    for (int g = 0; g < 2; ++g) {
      const __m128 d1 = _mm_sub_ps(attr[1][g], attr[0][g]), d2 = _mm_sub_ps(attr[2][g], attr[0][g]);
      const __m128 dx = _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(d1, vdy2), _mm_mul_ps(d2, vdy1)), vinv);
      const __m128 dy = _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(d2, vdx1), _mm_mul_ps(d1, vdx2)), vinv);
      const __m128 c = _mm_add_ps(_mm_add_ps(attr[0][g], _mm_mul_ps(dx, ox)), _mm_mul_ps(dy, oy));
      const size_t lanes = g == 0 ? 4 : Setup::kPlanes - 4;
      float out[3][4];
      _mm_storeu_ps(out[0], dx);
      _mm_storeu_ps(out[1], dy);
      _mm_storeu_ps(out[2], c);
      std::memcpy(s.dx + 4 * g, out[0], lanes * sizeof(float));
      std::memcpy(s.dy + 4 * g, out[1], lanes * sizeof(float));
      std::memcpy(s.c + 4 * g, out[2], lanes * sizeof(float));
    }

    // Magnification or minification, judged per triangle from texel area against pixel area.
    s.linear = state_.magLinear;
    if (texture_ != nullptr) {
      const float du1 = b.u - a.u, dv1 = b.v - a.v, du2 = c.u - a.u, dv2 = c.v - a.v;
      const double texels = std::fabs(static_cast<double>(du1) * dv2 - static_cast<double>(du2) * dv1) *
                            texture_->width * texture_->height;
      const double pixels = static_cast<double>(area) / (kSubpixel * kSubpixel);
      if (texels > pixels) s.linear = state_.minLinear;
    }

    sink_(context_, s);
  }

 private:
  const State& state_;
  const Texture* texture_;
  Scissor scissor_;
  void (*sink_)(void*, const Setup&);
  void* context_;
};

}  // namespace

namespace {

#if defined(__x86_64__) || defined(__i386__)
constexpr const char* kSimd128Name = "sse41";
#else
constexpr const char* kSimd128Name = "simd128";
#endif

bool CpuRuns(Kernel kernel) {
#if defined(__x86_64__) || defined(__i386__)
  switch (kernel) {
    case Kernel::Simd128:
      return __builtin_cpu_supports("sse4.1") != 0;
    case Kernel::Avx2:
      return __builtin_cpu_supports("avx2") != 0;
    case Kernel::Avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
             __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
             __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vnni");
    default:
      return true;
  }
#elif defined(__wasm_simd128__)
  return kernel != Kernel::Avx2 && kernel != Kernel::Avx512;
#else
  return kernel == Kernel::Auto || kernel == Kernel::Reference;
#endif
}

constexpr Kernel kNamed[] = {Kernel::Auto, Kernel::Reference, Kernel::Simd128, Kernel::Avx2, Kernel::Avx512};

}  // namespace

const char* KernelName(Kernel kernel) {
  switch (kernel) {
    case Kernel::Auto:
      return "auto";
    case Kernel::Reference:
      return "reference";
    case Kernel::Simd128:
      return kSimd128Name;
    case Kernel::Avx2:
      return "avx2";
    case Kernel::Avx512:
      return "avx512";
  }
  return "?";
}

bool KernelRuns(Kernel kernel) {
  static const bool runs[] = {CpuRuns(Kernel::Auto), CpuRuns(Kernel::Reference), CpuRuns(Kernel::Simd128),
                              CpuRuns(Kernel::Avx2), CpuRuns(Kernel::Avx512)};
  return runs[static_cast<int>(kernel)];
}

Kernel BestKernel() {
  for (Kernel k : {Kernel::Avx512, Kernel::Avx2, Kernel::Simd128}) {
    if (KernelRuns(k)) return k;
  }
  return Kernel::Reference;
}

Kernel ParseKernel(const char* name, std::FILE* errors) {
  if (name == nullptr || *name == '\0') return Kernel::Auto;
  for (Kernel k : kNamed) {
    if (std::strcmp(name, KernelName(k)) != 0) continue;
    if (KernelRuns(k)) return k;
    if (errors != nullptr) {
      std::fprintf(errors, "DEMO_KERNEL=%s: this CPU cannot run that kernel; drawing with %s\n", name,
                   KernelName(BestKernel()));
    }
    return Kernel::Auto;
  }
  if (errors != nullptr) {
    std::fprintf(errors, "DEMO_KERNEL=%s: unknown kernel (reference, %s, avx2, avx512); drawing with %s\n", name,
                 kSimd128Name, KernelName(BestKernel()));
  }
  return Kernel::Auto;
}

Kernel KernelFromEnvironment() { return ParseKernel(std::getenv("DEMO_KERNEL"), stderr); }

bool FastSupported(const Target& target, const State& st, const Texture* tex) {
  if (target.format != ColorFormat::RGB565) return false;
  if (st.depthTest && target.depth != nullptr && target.depthFormat.bytes != 0) {
    const DepthFormat& f = target.depthFormat;
    if (f.bytes != 2 || f.mask != 0xFFFF || f.shift != 0) return false;
    if (st.depthFunc != Compare::LessEqual) return false;
  }
  if (tex == nullptr) {
    // White times the diffuse colour is the diffuse colour; other operations need the white.
    return st.colorOp == ColorOp::Diffuse || st.colorOp == ColorOp::Modulate;
  }
  if (st.colorOp != ColorOp::Diffuse) {
    if (st.colorOp != ColorOp::Texture && st.colorOp != ColorOp::Modulate) return false;
    if (tex->padded == nullptr || tex->format != ColorFormat::RGB565) return false;
    if (st.addressU != Address::Wrap || st.addressV != Address::Wrap) return false;
  }
  return true;
}

uint32_t DepthValue(const DepthFormat& format, float z) {
  // In double the product of a float and a mask of up to 29 bits is exact, so
  // the one rounding is that of the stored value; the fast kernel does the same.
  const uint32_t max = format.mask >> format.shift;
  const double d = static_cast<double>(ClampLikeSse(z, 0.0f, 1.0f));
  return static_cast<uint32_t>(std::llrint(d * max));
}

bool PlanDraw(const Target& target, const State& state, const Texture* texture, Kernel kernel,
              DrawPlan* plan) {
  Scissor sc{std::max(state.viewX, 0), std::max(state.viewY, 0),
             std::min(state.viewX + state.viewWidth, target.width),
             std::min(state.viewY + state.viewHeight, target.height)};
  if (sc.x0 >= sc.x1 || sc.y0 >= sc.y1 || target.color == nullptr) return false;
  if (texture != nullptr && (texture->width <= 0 || texture->height <= 0 ||
                             texture->width > kMaxTextureSize || texture->height > kMaxTextureSize)) {
    texture = nullptr;
  }
  plan->target = target;
  plan->state = state;
  plan->textured = texture != nullptr;
  if (texture != nullptr) plan->texture = *texture;
  if (kernel == Kernel::Auto || !KernelRuns(kernel)) kernel = BestKernel();
  plan->kernel = FastSupported(target, state, texture) ? kernel : Kernel::Reference;
  plan->scissor = Clip{sc.x0, sc.y0, sc.x1 - 1, sc.y1 - 1};
  return true;
}

void DrawSetup(const DrawPlan& plan, const Setup& setup, const Clip& clip, uint64_t* covered) {
  switch (plan.kernel) {
#if defined(__x86_64__) || defined(__i386__)
    case Kernel::Avx512:
      FastTriangleAvx512(plan.target, plan.state, plan.TexturePtr(), setup, clip, covered);
      return;
    case Kernel::Avx2:
      FastTriangleAvx2(plan.target, plan.state, plan.TexturePtr(), setup, clip, covered);
      return;
#endif
#if defined(__x86_64__) || defined(__i386__) || defined(__wasm_simd128__)
    case Kernel::Simd128:
      FastTriangle128(plan.target, plan.state, plan.TexturePtr(), setup, clip, covered);
      return;
#endif
    default:
      ReferenceTriangle(plan.target, plan.state, plan.TexturePtr(), setup, clip, covered);
  }
}

void DrawTriangleList(const Target& target, const State& state, const Texture* texture,
                      const Vertex* vertices, size_t count, Stats* stats, Kernel kernel) {
  DrawPlan plan;
  if (!PlanDraw(target, state, texture, kernel, &plan)) return;
  struct Immediate {
    const DrawPlan& plan;
    Clip clip;
    uint64_t covered;
  } now{plan, Clip{0, 0, target.width - 1, target.height - 1}, 0};
  SetUpTriangles(plan, vertices, count, [](void* context, const Setup& s) {
    auto* d = static_cast<Immediate*>(context);
    DrawSetup(d->plan, s, d->clip, &d->covered);
  }, &now);
  if (stats != nullptr) stats->covered += now.covered;
}

void SetUpTriangles(const DrawPlan& plan, const Vertex* vertices, size_t count,
                    void (*emit)(void* context, const Setup& setup), void* context) {
  const State& state = plan.state;
  TriangleSink sink(plan, emit, context);

  const bool clipZ = state.clipping && state.depthTest;
  const float vx0 = static_cast<float>(state.viewX), vy0 = static_cast<float>(state.viewY);
  const float vx1 = static_cast<float>(state.viewX + state.viewWidth);
  const float vy1 = static_cast<float>(state.viewY + state.viewHeight);

  // A vertex needs no clipping when lo <= (x, y, z, rhw) <= hi and rhw > 0.
  const float inf = std::numeric_limits<float>::infinity();
  const __m128 lo = _mm_setr_ps(vx0, vy0, clipZ ? 0.0f : -inf, 0.0f);
  const __m128 hi = _mm_setr_ps(vx1, vy1, clipZ ? 1.0f : inf, 1.0f / kMinClipW);
  for (size_t t = 0; t + 3 <= count; t += 3) {
    const Vertex* tri = vertices + t;
    if (!AllFinite(tri)) continue;
    ScreenVertex sv[3];
    __m128 within = _mm_castsi128_ps(_mm_set1_epi32(-1)), positive = within;
    for (int i = 0; i < 3; ++i) {
      sv[i] = ToScreen(tri[i], state.flatShade ? tri[0].diffuse : tri[i].diffuse);
      const __m128 v = _mm_loadu_ps(&tri[i].x);
      within = _mm_and_ps(within, _mm_and_ps(_mm_cmpge_ps(v, lo), _mm_cmple_ps(v, hi)));
      positive = _mm_and_ps(positive, _mm_cmpgt_ps(v, _mm_setzero_ps()));
    }
    const bool inside = _mm_movemask_ps(within) == 0xF && (_mm_movemask_ps(positive) & 8) != 0;
    if (inside) {
      sink.Emit(sv[0], sv[1], sv[2]);
      continue;
    }

    // Clip in homogeneous space. Each plane adds at most one vertex: 3 + 7.
    ClipVertex bufA[12], bufB[12];
    for (int i = 0; i < 3; ++i) bufA[i] = ToClip(sv[i]);
    int n = 3;
    ClipVertex* in = bufA;
    ClipVertex* out = bufB;
    auto apply = [&](auto dist) {
      if (n == 0) return;
      n = ClipPolygon(in, n, out, dist);
      std::swap(in, out);
    };
    apply([](const ClipVertex& c) { return c.W - kMinClipW; });
    apply([vx0](const ClipVertex& c) { return c.X - vx0 * c.W; });
    apply([vx1](const ClipVertex& c) { return vx1 * c.W - c.X; });
    apply([vy0](const ClipVertex& c) { return c.Y - vy0 * c.W; });
    apply([vy1](const ClipVertex& c) { return vy1 * c.W - c.Y; });
    if (clipZ) {
      apply([](const ClipVertex& c) { return c.Z; });
      apply([](const ClipVertex& c) { return c.W - c.Z; });
    }
    if (n < 3) continue;
    ScreenVertex p[12];
    for (int i = 0; i < n; ++i) p[i] = Project(in[i]);
    for (int i = 1; i + 1 < n; ++i) sink.Emit(p[0], p[i], p[i + 1]);
  }
}

namespace {

// Sets n values from p to v: sixteen stores, then the part already set copied
// onto the rest, doubling. memcpy runs at full vector width, where a loop of
// 2-byte stores stays scalar at -O2 (it was a tenth of a demo frame).
template <typename T>
void FillRow(T* p, size_t n, T v) {
  size_t done = std::min<size_t>(n, 16);
  for (size_t i = 0; i < done; ++i) p[i] = v;
  while (done < n) {
    const size_t k = std::min(done, n - done);
    std::memcpy(p + done, p, k * sizeof(T));
    done += k;
  }
}

// Sets an n x rows rectangle whose rows start `pitch` bytes apart: one run
// when the rows touch, else the first row filled and copied to the others
// (a call per row, not one per doubling step).
template <typename T>
void FillRect(uint8_t* first, ptrdiff_t pitch, size_t n, int rows, T v) {
  if (pitch == static_cast<ptrdiff_t>(n * sizeof(T))) {
    FillRow(reinterpret_cast<T*>(first), n * static_cast<size_t>(rows), v);
    return;
  }
  FillRow(reinterpret_cast<T*>(first), n, v);
  for (int y = 1; y < rows; ++y) std::memcpy(first + y * pitch, first, n * sizeof(T));
}

}  // namespace

void FillColor(const Target& target, int x0, int y0, int x1, int y1, uint32_t argb) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, target.width);
  y1 = std::min(y1, target.height);
  if (x0 >= x1 || y0 >= y1 || target.color == nullptr) return;
  const size_t n = static_cast<size_t>(x1 - x0);
  uint8_t* first = target.color + static_cast<ptrdiff_t>(y0) * target.pitch;
  if (target.format == ColorFormat::RGB565) {
    FillRect(first + 2 * x0, target.pitch, n, y1 - y0, ToRgb565(argb));
  } else {
    FillRect(first + 4 * x0, target.pitch, n, y1 - y0, argb & 0x00FFFFFFu);
  }
}

void FillDepth(const Target& target, int x0, int y0, int x1, int y1, float z) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, target.width);
  y1 = std::min(y1, target.height);
  const DepthFormat& f = target.depthFormat;
  if (x0 >= x1 || y0 >= y1 || target.depth == nullptr || f.bytes == 0) return;
  const uint32_t value = DepthValue(f, z) << f.shift;
  if (f.bytes == 2 && f.mask == 0xFFFF) {
    FillRect(target.depth + static_cast<ptrdiff_t>(y0) * target.depthPitch + 2 * x0, target.depthPitch,
             static_cast<size_t>(x1 - x0), y1 - y0, static_cast<uint16_t>(value));
    return;
  }
  for (int y = y0; y < y1; ++y) {
    uint8_t* row = target.depth + static_cast<ptrdiff_t>(y) * target.depthPitch;
    if (f.bytes == 2) {
      auto* p = reinterpret_cast<uint16_t*>(row);
      for (int x = x0; x < x1; ++x) p[x] = static_cast<uint16_t>((p[x] & ~f.mask) | value);
    } else {
      auto* p = reinterpret_cast<uint32_t*>(row);
      for (int x = x0; x < x1; ++x) p[x] = (p[x] & ~f.mask) | value;
    }
  }
}

void BuildPaddedTexture(const Texture& texture, std::vector<uint16_t>& out) {
  const int w = texture.width, h = texture.height, pw = w + 1;
  out.assign(static_cast<size_t>(pw) * (h + 1) + 2, 0);
  for (int y = 0; y <= h; ++y) {
    const uint8_t* row = texture.texels + static_cast<ptrdiff_t>(y % h) * texture.pitch;
    for (int x = 0; x <= w; ++x) {
      uint16_t t;
      if (texture.format == ColorFormat::RGB565) {
        std::memcpy(&t, row + 2 * (x % w), 2);
      } else {
        uint32_t p;
        std::memcpy(&p, row + 4 * (x % w), 4);
        t = ToRgb565(p);
      }
      out[static_cast<size_t>(y) * pw + x] = t;
    }
  }
}

}  // namespace standin::raster
