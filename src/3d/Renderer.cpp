#include "Renderer.h"

#include <string.h>

#include "DebugPrint.h"

Renderer::Renderer()
    : TriangleCapacity(256),
      Vertices(new TLVertex[256 * 3]),
      TriangleCount(0),
      CurrentTexture0(-1),
      CurrentTexture1(-1) {}

Renderer::~Renderer() {
  // Whatever is still batched is dropped, not drawn: the device may already be
  // gone when the derived destructor has run.
  delete[] Vertices;
  Vertices = nullptr;
  DebugPrint("\nRenderer destruktor");
}

void Renderer::SetTextures(int texture0, int texture1) {
  // Per stage: draw what was batched with the old texture, then switch.
  if (texture0 != CurrentTexture0) {
    Flush();
    CurrentTexture0 = texture0;
    SelectTexture(texture0, 0);
  }
  if (texture1 != CurrentTexture1) {
    Flush();
    CurrentTexture1 = texture1;
    SelectTexture(texture1, 1);
  }
}

void Renderer::AddTriangleWithTextures(const ClipVertex* v, int texture0, int texture1) {
  SetTextures(texture0, texture1);
  // Flush is the implementation's; one that failed to empty the batch must not
  // make us write past it.
  if (TriangleCount < 0 || TriangleCount >= TriangleCapacity) TriangleCount = 0;
  TLVertex* out = Vertices + 3 * TriangleCount;
  // Only the leading TLVertex of each 44-byte record goes into the batch.
  memcpy(&out[0], &v[0].tl, sizeof(TLVertex));
  memcpy(&out[1], &v[1].tl, sizeof(TLVertex));
  memcpy(&out[2], &v[2].tl, sizeof(TLVertex));
  ++TriangleCount;
  if (TriangleCount >= TriangleCapacity) Flush();
}

void Renderer::AddTriangle(const ClipVertex* v) {
  AddTriangleWithTextures(v, CurrentTexture0, CurrentTexture1);
}
