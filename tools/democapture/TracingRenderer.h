// A Renderer that prints what a frame sends to the device and forwards every
// call to the real renderer: the tool for seeing exactly what a frame draws.
#ifndef DEMOCAPTURE_TRACINGRENDERER_H
#define DEMOCAPTURE_TRACINGRENDERER_H

#include <cstdio>

#include "Renderer.h"

namespace democapture {

class TracingRenderer : public Renderer {
 public:
  // `inner` is not owned. Output goes to `out` while `enabled` is true.
  TracingRenderer(Renderer* inner, FILE* out) : inner_(inner), out_(out) {}
  ~TracingRenderer() override = default;

  bool enabled = false;

  int GetWidth() override { return inner_->GetWidth(); }
  int GetHeight() override { return inner_->GetHeight(); }
  void Present() override { inner_->Present(); }
  // Prints: Print colour=0xRRGGBB x=X y=Y text="..." (the formatted text).
  void Print(uint32_t color, int x, int y, const char* format, ...) override;
  void WindowChanged() override { inner_->WindowChanged(); }
  // Prints: Flush textures=T0,T1 triangles=N, then one line per vertex
  // "  [i] x y z rhw diffuse u v", three per triangle; then draws the batch
  // through the real renderer. An empty batch prints and draws nothing.
  void Flush() override;
  int UploadTexture(Texture& texture) override { return inner_->UploadTexture(texture); }
  void SelectTexture(int index, int stage) override;
  void FreeTexture(int index) override { inner_->FreeTexture(index); }
  void FreeAllTextures() override { inner_->FreeAllTextures(); }
  void ClearFrame(uint32_t color, float depth) override { inner_->ClearFrame(color, depth); }

 private:
  Renderer* inner_;
  FILE* out_;
};

}  // namespace democapture

#endif
