// The abstract renderer: a batch of screen-space triangles sharing one pair of
// textures, and the twelve operations an implementation supplies.
#ifndef RENDERER_H
#define RENDERER_H

#include <stdint.h>

#include "ClipVertex.h"

struct Texture;

class Renderer {
 public:
  int32_t TriangleCapacity;  // triangles the batch holds: 256
  TLVertex* Vertices;        // the batch; triangle i is vertices 3i, 3i+1, 3i+2
  int32_t TriangleCount;     // triangles now in the batch, 0 .. TriangleCapacity-1 between calls
  int32_t CurrentTexture0;   // texture index on stage 0, -1 for none
  int32_t CurrentTexture1;   // texture index on stage 1, -1 for none

  Renderer();

  // Slot 0. Frees the batch without drawing it, logs "\nRenderer destruktor".
  virtual ~Renderer();
  // Slots 1, 2: size of the drawing area in pixels.
  virtual int GetWidth() = 0;
  virtual int GetHeight() = 0;
  // Slot 3: the finished frame becomes visible.
  virtual void Present() = 0;
  // Slot 4: text with its top-left corner at pixel (x, y).
  virtual void Print(uint32_t color, int x, int y, const char* format, ...) = 0;
  // Slot 5: bring whatever depends on the window's position and size up to date.
  virtual void WindowChanged() = 0;
  // Slot 6: draw the batch with the current textures; the batch is empty afterwards.
  virtual void Flush() = 0;
  // Slot 7: make the scene texture an implementation texture; returns its index.
  virtual int UploadTexture(Texture& texture) = 0;
  // Slot 8: later draws use texture `index` (-1: none) on `stage` (0 or 1).
  virtual void SelectTexture(int index, int stage) = 0;
  // Slots 9, 10: release one texture, or every texture.
  virtual void FreeTexture(int index) = 0;
  virtual void FreeAllTextures() = 0;
  // Slot 11: fill the colour target (ARGB) and the depth buffer.
  virtual void ClearFrame(uint32_t color, float depth) = 0;

  // Per stage: when the index differs from the current one, Flush, store, select.
  void SetTextures(int texture0, int texture1);
  // SetTextures, copy the TLVertex prefix of v[0..2] into the batch, Flush when full.
  void AddTriangleWithTextures(const ClipVertex* v, int texture0, int texture1);
  // AddTriangleWithTextures with the current textures.
  void AddTriangle(const ClipVertex* v);
};

#endif
