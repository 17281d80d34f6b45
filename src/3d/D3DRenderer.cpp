#include "D3DRenderer.h"

#include "DebugPrint.h"
#include "Scene.h"

const char* const kD3DRendererFile = "3d/D3DRenderer.cpp";

D3DRenderer::D3DRenderer(HWND window, bool fullscreen, bool hardware, int width, int height,
                         int bitsPerPixel, int backBufferCount)
    : cDirect3D(window, fullscreen, hardware, width, height, bitsPerPixel, backBufferCount),
      Renderer() {}

D3DRenderer::~D3DRenderer() { DebugPrint("\nD3DRenderer destruktor"); }

int D3DRenderer::GetWidth() { return Width; }

int D3DRenderer::GetHeight() { return Height; }

void D3DRenderer::Present() { Flip(); }

void D3DRenderer::Print(uint32_t color, int x, int y, const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintText(color, x, y, format, args);
  va_end(args);
}

void D3DRenderer::WindowChanged() { OnWindowChanged(); }

void D3DRenderer::Flush() {
  if (TriangleCount == 0) return;
  if (Device) {
    Check(Device->BeginScene(), kLineBeginScene, kD3DRendererFile);
    Check(Device->DrawPrimitive(D3DPT_TRIANGLELIST, kBatchVertexFormat, Vertices,
                                3 * TriangleCount, 0),
          kLineDrawPrimitive, kD3DRendererFile);
    Check(Device->EndScene(), kLineEndScene, kD3DRendererFile);
  }
  TriangleCount = 0;
}

int D3DRenderer::UploadTexture(Texture& texture) {
  return LoadTexture(texture.width, texture.height, texture.pixels);
}

void D3DRenderer::SelectTexture(int index, int stage) { SetTexture(index, stage); }

void D3DRenderer::FreeTexture(int index) { ReleaseTexture(index); }

void D3DRenderer::FreeAllTextures() { ReleaseTextures(); }

void D3DRenderer::ClearFrame(uint32_t color, float depth) { Clear(color, depth); }
