// The software rasterizer behind IDirect3DDevice7::DrawPrimitive.
//
// Conventions (those of Direct3D 7 for pre-transformed vertices):
// - Screen x grows right, y grows down. Pixel centres lie at integer
//   coordinates: pixel (x, y) is covered when the point (x, y) is inside.
// - Vertex positions are snapped to 1/256 pixel (x * 256 rounded to the
//   nearest integer, ties to even), the 8 sub-pixel bits other Direct3D
//   implementations and GPUs rasterize with, so edge pixels fall as they do
//   there. Coverage is exact for the snapped triangle: the edge functions, the
//   winding (culling) and the bounding box are computed on the snapped
//   integers. A pixel centre exactly on an edge belongs to the triangle for
//   which that edge is a left edge or a flat top edge, so triangles sharing an
//   edge never share a pixel and never leave a gap.
// - The attribute planes below (depth, rhw and the perspective-divided values)
//   go through the unsnapped positions; only a triangle whose float area is
//   zero or of the other sign than its snapped one takes the snapped positions.
// - A vertex's clip-space w is 1 / rhw. Texture coordinates and the diffuse
//   colour are interpolated perspective-correctly (value * rhw and rhw are
//   linear in screen space); depth z is linear in screen space.
// - Clipping happens in homogeneous space: against the viewport in x and y,
//   against 0 <= z <= w when depth testing is on and clipping is enabled, and
//   always against w >= kMinClipW, so a vertex behind the viewer (rhw < 0) is
//   clipped away, never drawn mirrored. A vertex with rhw == 0 is taken with
//   w = 1. A triangle with a non-finite x, y, z or rhw is not drawn.
// - Depth is stored as round(z * max) in the depth format's bits, z clamped
//   to 0..1 (for a 16-bit buffer, round(z * 65535)): the integer nearest to
//   the exact product, not to its float rounding. The only exact tie, z = 0.5,
//   goes up (to 32768 for 16 bits). A NaN z is taken as 0.
// - Texel centres lie at (i + 0.5) / size. Point sampling takes texel
//   floor(u * size); bilinear sampling centres at u * size - 0.5 and blends
//   the 2 x 2 neighbours with 8-bit weights, each channel expanded to 8 bits
//   first (5-bit c becomes c << 3 | c >> 2, 6-bit c becomes c << 2 | c >> 4):
//   the two rows across with fu, then those across with fv, each blend
//   (a * (256 - f) + b * f + 128) >> 8, rounded to nearest, halves up. The
//   position u * size * 256 - 128 (in 1/256 texel) is rounded to the nearest
//   integer, ties to even, whose low 8 bits are the weight f.
// - The diffuse colour is interpolated in float (0..255 per channel, clamped).
//   Alone it is rounded to nearest, ties to even. MODULATE rounds once, the
//   product: each 8-bit channel is the float (texel * diffuse) * (1 / 255)
//   rounded to nearest, ties to even (MODULATE2X/4X multiply that, saturated). Output is
//   truncated to the target's format (RGB565 keeps the top 5/6/5 bits), no
//   dithering.
//
// Two kernels draw the same pictures: a plain per-pixel reference that handles
// every supported state and format, and a fast vector kernel for the states
// the demo uses (RGB565 target, 16-bit depth, LESSEQUAL, diffuse or texture x
// diffuse, wrap addressing, RGB565 texture), built for 128-bit vectors
// (SSE4.1 or WebAssembly SIMD), AVX2 and AVX-512. All evaluate the same float
// expressions in the same order, so their pictures are bit-identical.
#ifndef STANDIN_RASTER_RASTER_H
#define STANDIN_RASTER_RASTER_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace standin::raster {

// Smallest clip-space w kept by the clipper: points closer to the eye plane
// (or behind it) are cut off.
constexpr float kMinClipW = 1e-5f;

enum class ColorFormat {
  RGB565,    // 16 bits: red 15..11, green 10..5, blue 4..0
  XRGB8888,  // 32 bits: 0x00RRGGBB
};

// A depth buffer's layout: `bytes` per pixel (0: no depth buffer), the depth
// bits `mask` and their lowest bit `shift`. Bits outside the mask (stencil)
// are kept as they are.
struct DepthFormat {
  int bytes = 0;      // 0, 2 or 4
  uint32_t mask = 0;  // e.g. 0xFFFF for D16, 0xFFFFFF00 for D24S8
  int shift = 0;      // e.g. 8 for D24S8
};

// Where drawing goes. Both buffers have `width` x `height` pixels.
struct Target {
  uint8_t* color = nullptr;  // first row
  int pitch = 0;             // bytes from one row to the next
  ColorFormat format = ColorFormat::RGB565;
  int width = 0;   // pixels
  int height = 0;  // pixels
  uint8_t* depth = nullptr;  // first row, or null
  int depthPitch = 0;        // bytes
  DepthFormat depthFormat;
};

// A texture in its own pixel format, plus the padded RGB565 copy the fast
// kernel samples (see BuildPaddedTexture).
struct Texture {
  const uint8_t* texels = nullptr;  // first row (v = 0)
  int pitch = 0;                    // bytes
  ColorFormat format = ColorFormat::RGB565;
  int width = 0;   // texels, 1..kMaxTextureSize
  int height = 0;  // texels, 1..kMaxTextureSize
  // (width + 1) x (height + 1) RGB565 texels, rows of width + 1, column
  // `width` repeating column 0 and row `height` repeating row 0, followed by
  // at least one spare texel; null when not built (only the reference kernel
  // runs then).
  const uint16_t* padded = nullptr;
};

constexpr int kMaxTextureSize = 4096;

// Fills `out` with the padded copy of `texture` described above.
void BuildPaddedTexture(const Texture& texture, std::vector<uint16_t>& out);

// How a pixel's colour is made (texture stage 0).
enum class ColorOp {
  Diffuse,   // the diffuse colour (DISABLE, or SELECTARG2 = CURRENT)
  Texture,   // the texel (SELECTARG1 = TEXTURE); white without a texture
  Modulate,  // texel x diffuse
  Modulate2x,
  Modulate4x,
  Add,  // texel + diffuse, saturated
};

enum class Compare { Never, Less, Equal, LessEqual, Greater, NotEqual, GreaterEqual, Always };
enum class Cull { None, Clockwise, CounterClockwise };
enum class Address { Wrap, Mirror, Clamp };

struct State {
  bool depthTest = false;   // ZENABLE
  bool depthWrite = true;   // ZWRITEENABLE
  Compare depthFunc = Compare::LessEqual;
  Cull cull = Cull::CounterClockwise;
  bool clipping = true;
  bool flatShade = false;   // colour of each triangle's first vertex
  ColorOp colorOp = ColorOp::Diffuse;
  bool magLinear = false;   // bilinear when a texel covers more than a pixel
  bool minLinear = false;   // bilinear when a pixel covers more than a texel
  Address addressU = Address::Wrap;
  Address addressV = Address::Wrap;
  // The viewport, pixels; drawing never leaves it nor the target.
  int viewX = 0, viewY = 0, viewWidth = 0, viewHeight = 0;
};

// A vertex of format XYZRHW | DIFFUSE | TEX1 (0x144), 28 bytes.
struct Vertex {
  float x, y;      // pixels
  float z;         // depth, 0..1
  float rhw;       // 1 / w
  uint32_t diffuse;  // 0xAARRGGBB
  float u, v;      // texture coordinates, 1.0 = one texture width/height
};
static_assert(sizeof(Vertex) == 28, "FVF 0x144 vertex is 28 bytes");

// Which kernel draws. Auto: the widest fast kernel the CPU runs (AVX-512,
// else AVX2, else the 128-bit one) where it supports the state, else the
// reference. The others force that kernel where it supports the state (the
// reference otherwise); a fast kernel the CPU cannot run is never used (Auto
// takes its place).
enum class Kernel {
  Auto,
  Reference,
  Simd128,  // SSE4.1 on x86, WebAssembly SIMD in the web build
  Avx2,
  Avx512,  // F, VL, BW, DQ, VBMI and VNNI
};

// The name DEMO_KERNEL gives a kernel: "reference", "sse41" (x86) or
// "simd128" (WebAssembly), "avx2", "avx512"; "auto" for Auto.
const char* KernelName(Kernel kernel);
// True when this CPU (and this build) runs the kernel; always for Auto and Reference.
bool KernelRuns(Kernel kernel);
// The kernel Auto draws with: the widest fast one that runs.
Kernel BestKernel();
// The kernel named by `name` (DEMO_KERNEL's value; null or empty: Auto). An
// unknown name, or a kernel this CPU cannot run, writes one line naming it
// to `errors` (when not null) and gives Auto.
Kernel ParseKernel(const char* name, std::FILE* errors);
// ParseKernel of the environment variable DEMO_KERNEL, its line to stderr.
Kernel KernelFromEnvironment();

struct Stats {
  uint64_t covered = 0;  // pixel centres covered by drawn triangles, before depth testing
};

// Draws count / 3 triangles (a triangle list). `texture` may be null.
void DrawTriangleList(const Target& target, const State& state, const Texture* texture,
                      const Vertex* vertices, size_t count, Stats* stats = nullptr,
                      Kernel kernel = Kernel::Auto);

// Fills the rectangle [x0, x1) x [y0, y1) (already clipped to the target).
void FillColor(const Target& target, int x0, int y0, int x1, int y1, uint32_t argb);
void FillDepth(const Target& target, int x0, int y0, int x1, int y1, float z);

// RGB565 of an 0x00RRGGBB colour, each channel truncated: (r >> 3) << 11 | (g >> 2) << 5 | b >> 3.
inline uint16_t ToRgb565(uint32_t rgb) {
  return static_cast<uint16_t>(((rgb >> 8) & 0xF800) | ((rgb >> 5) & 0x07E0) | ((rgb >> 3) & 0x001F));
}

// Depth value for z in a format, before the shift: the integer nearest to the
// exact z * (mask >> shift), z clamped to 0..1 (NaN as 0), the tie at z = 0.5
// going up. Exact for masks of up to 29 bits.
uint32_t DepthValue(const DepthFormat& format, float z);

// ---- Internal: shared by the two kernels ----------------------------------------

// One triangle after clipping, snapping and culling, ready for a kernel.
struct Setup {
  int minX, minY, maxX, maxY;  // pixels covered lie in this box (inclusive)
  // Edge functions: E = e0 + ex * (x - minX) + ey * (y - minY), pixel (x, y)
  // covered when all three are >= 0 (the top-left bias is folded into e0).
  int64_t e0[3], ex[3], ey[3];
  // Planes: value(x, y) = (c + dy * (y - minY)) + dx * (x - minX), in floats, in that order.
  enum { kZ, kQ, kUQ, kVQ, kRQ, kGQ, kBQ, kPlanes };
  float c[kPlanes], dx[kPlanes], dy[kPlanes];
  bool linear;  // bilinear filtering for this triangle
};

// The clamp both kernels use: max then min with SSE's NaN rule (a NaN becomes lo).
inline float ClampLikeSse(float v, float lo, float hi) {
  v = v > lo ? v : lo;
  return v < hi ? v : hi;
}

// Pixels a kernel may read or write: [x0, x1] x [y0, y1], inclusive. A kernel
// draws the part of a triangle inside it and touches nothing outside it, so
// threads drawing disjoint rectangles never share a byte.
struct Clip {
  int x0, y0, x1, y1;  // pixels
};

// One draw call as the front end prepared it: what a kernel needs besides the
// triangles' setups. Plain data, so it can wait in a queue.
struct DrawPlan {
  Target target;
  State state;
  Texture texture;        // meaningful when `textured`
  bool textured = false;
  Kernel kernel = Kernel::Reference;  // the one that draws: never Auto
  Clip scissor{0, 0, -1, -1};  // viewport within the target, inclusive
  const Texture* TexturePtr() const { return textured ? &texture : nullptr; }
};

// The front end of DrawTriangleList: false when the call draws nothing.
bool PlanDraw(const Target& target, const State& state, const Texture* texture, Kernel kernel,
              DrawPlan* plan);
// Checks, clips, snaps, culls and sets up each triangle of a list in order and
// hands its setup to sink(context, setup).
void SetUpTriangles(const DrawPlan& plan, const Vertex* vertices, size_t count,
                    void (*sink)(void* context, const Setup& setup), void* context);
// Draws one set-up triangle within `clip` with the plan's kernel.
void DrawSetup(const DrawPlan& plan, const Setup& setup, const Clip& clip, uint64_t* covered);

// Each kernel draws the triangle's pixels within `clip` and adds those it
// found covered to *covered.
void ReferenceTriangle(const Target& target, const State& state, const Texture* texture,
                       const Setup& setup, const Clip& clip, uint64_t* covered);
// Returns false when the fast kernels cannot draw with this state/target/texture.
bool FastSupported(const Target& target, const State& state, const Texture* texture);
void FastTriangle128(const Target& target, const State& state, const Texture* texture,
                     const Setup& setup, const Clip& clip, uint64_t* covered);
void FastTriangleAvx2(const Target& target, const State& state, const Texture* texture,
                      const Setup& setup, const Clip& clip, uint64_t* covered);
void FastTriangleAvx512(const Target& target, const State& state, const Texture* texture,
                        const Setup& setup, const Clip& clip, uint64_t* covered);

}  // namespace standin::raster

#endif
