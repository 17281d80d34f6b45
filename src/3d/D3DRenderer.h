// The Direct3D renderer: the device layer (cDirect3D) and the Renderer
// interface in one object. Ten operations forward to the device layer; Flush
// draws the batch as one scene with one triangle-list draw.
#ifndef D3DRENDERER_H
#define D3DRENDERER_H

#include "DirectX/cDirect3D.h"
#include "Renderer.h"

extern const char* const kD3DRendererFile;  // "3d/D3DRenderer.cpp"

// Call-site lines of D3DRenderer::Flush.
enum {
  kLineBeginScene = 25,
  kLineDrawPrimitive = 32,
  kLineEndScene = 46,
};

// Vertex format of the batch: XYZRHW | DIFFUSE | TEX1.
const DWORD kBatchVertexFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

class D3DRenderer : public cDirect3D, public Renderer {
 public:
  // Arguments go to cDirect3D unchanged; then the empty batch.
  D3DRenderer(HWND window, bool fullscreen, bool hardware, int width, int height,
              int bitsPerPixel, int backBufferCount);
  // Logs "\nD3DRenderer destruktor", then the Renderer part ("\nRenderer
  // destruktor"), then the device layer ("\ncDirect3D destruktor", "\ncDDraw
  // destructor").
  ~D3DRenderer() override;

  int GetWidth() override;
  int GetHeight() override;
  void Present() override;
  // The colour is not used: the text has the device context's default colours.
  void Print(uint32_t color, int x, int y, const char* format, ...) override;
  void WindowChanged() override;
  // BeginScene, one DrawPrimitive of the whole batch, EndScene; the batch is
  // empty afterwards even when a step failed. An empty batch draws nothing.
  void Flush() override;
  // The texture's index, or -1 when the device layer refused the upload.
  int UploadTexture(Texture& texture) override;
  void SelectTexture(int index, int stage) override;
  void FreeTexture(int index) override;
  void FreeAllTextures() override;
  void ClearFrame(uint32_t color, float depth) override;
};

#endif
