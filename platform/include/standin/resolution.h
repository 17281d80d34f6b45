// Forced resolution: the screen drawn at a size of the host's choosing while
// the program keeps the display mode it set.
//
// The program sees its own mode everywhere: every surface description,
// viewport, rectangle and Lock stays as at the mode's size. Underneath, the
// surfaces of an exclusive fullscreen mode that show the screen (the primary
// surface, its back buffers, and z-buffers and 3D offscreen surfaces of the
// mode's size) hold width x ssaa by height x ssaa pixels. The Direct3D device
// scales pre-transformed positions and the rectangles of Clear, Blt and the
// viewport to them; GDI text is enlarged pixel by pixel; a Lock shows the
// mode-sized picture (the sample nearest each pixel centre) and writes back
// the pixels the program changed. A flip or blit shows the picture at
// width x height: with ssaa above 1, each ssaa x ssaa block averaged in
// linear light (BoxFilter565) into XRGB8888.
//
// Scale convention, per axis with a mode side of L and a drawn side of P:
// mode pixel i covers drawn pixels [Edge(i), Edge(i + 1)) with
// Edge(i) = ceil(i * P / L - 1/2), the drawn pixels whose centre falls in it;
// a position x (pixel centres at integers) becomes (x + 1/2) * P / L - 1/2.
//
// Not part of the Windows API: only the stand-in, main(), tests and tools
// include this.
#ifndef STANDIN_RESOLUTION_H
#define STANDIN_RESOLUTION_H

#include <cstdint>

namespace standin {

struct RenderSize {
  int width = 0, height = 0;  // pixels of the shown picture; 0 x 0: the mode's own size
  bool native = false;        // the size the host shows the mode's picture at (Host::ShownSize)
  int ssaa = 1;               // samples per picture pixel along each axis, 1..4
};

// The largest side of a drawn surface, pixels (width x ssaa must fit).
constexpr int kMaxDrawnSide = 8192;

// The size the next exclusive mode's screen surfaces are drawn at; decided
// when its primary surface is made. Default: the mode's own size, no ssaa.
void SetRenderSize(const RenderSize& size);
RenderSize CurrentRenderSize();

// One axis of a forced surface: `mode` pixels as the program sees them,
// `drawn` pixels in memory. Both at least 1.
struct AxisScale {
  int mode = 1;   // pixels the program sees
  int drawn = 1;  // pixels drawn

  bool Unscaled() const { return mode == drawn; }
  // ceil(i * drawn / mode - 1/2), exactly (integer arithmetic); Edge(0) = 0,
  // Edge(mode) = drawn.
  int Edge(int64_t i) const;
  // (x + 1/2) * drawn / mode - 1/2 in float.
  float Position(float x) const;
  // The drawn pixel whose centre is nearest mode pixel i's centre:
  // floor((i + 1/2) * drawn / mode).
  int Nearest(int i) const;
};

// The mean of each n x n block of an RGB565 picture of width x height pixels
// (both multiples of n; `pitch` bytes from row to row) as 0x00RRGGBB, written
// to `out` (width / n x height / n pixels, `outPitch` pixels from row to row).
// The mean is taken in linear light: each channel widened by bit replication
// to 8 bits (standin/rgb565.h), decoded from sRGB to 16-bit linear (rounded
// to nearest), the sum divided by n * n (rounded to nearest, halves up),
// encoded to the nearest 8-bit sRGB value. A block of one colour keeps its
// widened value exactly; n = 1 only widens.
void BoxFilter565(const uint16_t* pixels, int width, int height, int pitch, int n, uint32_t* out,
                  int outPitch);

}  // namespace standin

#endif
