#include "TracingRenderer.h"

#include <cstdarg>
#include <cstring>

namespace democapture {

void TracingRenderer::Print(uint32_t color, int x, int y, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (enabled) std::fprintf(out_, "Print colour=0x%06X x=%d y=%d text=\"%s\"\n", unsigned(color), x, y, text);
  inner_->Print(color, x, y, "%s", text);
}

void TracingRenderer::SelectTexture(int index, int stage) {
  // Keep the real renderer's notion of the current textures in step, so its
  // Flush draws with them.
  if (stage == 0) inner_->CurrentTexture0 = index;
  if (stage == 1) inner_->CurrentTexture1 = index;
  inner_->SelectTexture(index, stage);
}

void TracingRenderer::Flush() {
  if (TriangleCount <= 0) {
    TriangleCount = 0;
    return;
  }
  const int n = TriangleCount > TriangleCapacity ? TriangleCapacity : TriangleCount;
  if (enabled) {
    std::fprintf(out_, "Flush textures=%d,%d triangles=%d\n", CurrentTexture0, CurrentTexture1, n);
    for (int i = 0; i < 3 * n; ++i) {
      const TLVertex& v = Vertices[i];
      std::fprintf(out_, "  [%d] %.4f %.4f %.7f %.7f 0x%08X %.5f %.5f\n", i, double(v.x), double(v.y), double(v.z),
                   double(v.rhw), unsigned(v.diffuse), double(v.u), double(v.v));
    }
  }
  // The real batch holds as many triangles as ours: hand it over and draw.
  const int room = inner_->TriangleCapacity < n ? inner_->TriangleCapacity : n;
  std::memcpy(inner_->Vertices, Vertices, sizeof(TLVertex) * 3 * size_t(room));
  inner_->TriangleCount = room;
  inner_->Flush();
  TriangleCount = 0;
}

}  // namespace democapture
