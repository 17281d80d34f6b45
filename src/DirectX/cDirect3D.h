// The Direct3D device on top of the display: the Direct3D 7 object, a z-buffer
// attached to the back surface, the device with its fixed render states and
// viewport, a table of 100 textures filled from 24-bit RGB images, texture
// selection with a one-entry memory, clearing, and the rebuild of back surface,
// z-buffer and device after the client size changed.
//
// Every tested call follows the failure convention of cDXObject with its line
// below and kDirect3DFile. A step that needs an interface a failed creation
// left null is skipped.
#ifndef CDIRECT3D_H
#define CDIRECT3D_H

#include <windows.h>
#include <ddraw.h>
#include <d3d.h>

#include "cDDraw.h"

extern const char* const kDirect3DFile;  // "DirectX/cDirect3D.cpp"

// Call-site lines of cDirect3D.
enum {
  kLineQueryDirect3D = 23,
  kLineTextureDesc = 33,
  kLineEnumZBufferHardware = 76,
  kLineEnumZBufferSoftware = 78,
  kLineCreateZBuffer = 96,
  kLineAttachZBuffer = 97,
  kLineCreateDeviceHardware = 101,
  kLineCreateDeviceSoftware = 103,
  kLineZEnable = 108,
  kLineZWriteEnable = 109,
  kLineSetViewport = 123,
  kLineCullMode = 132,
  kLineClipping = 133,
  kLineMagFilter = 136,
  kLineMinFilter = 137,
  kLineClearZBuffer = 151,
  kLineClear = 155,
  kLineCreateTexture = 165,
  kLineSetNoTexture = 211,
  kLineSetTexture = 221,
};

const int kMaxTextures = 100;  // size of the texture table

struct TextureEntry {
  LPDIRECTDRAWSURFACE7 Surface;  // owned; null while the entry is empty or released
  int32_t Width;                 // texels, as created
  int32_t Height;                // texels, as created
};

class cDirect3D : public cDDraw {
 public:
  LPDIRECT3D7 Direct3D;           // owned
  LPDIRECT3DDEVICE7 Device;       // owned; renders into BackSurface
  LPDIRECTDRAWSURFACE7 ZBuffer;   // owned; attached to BackSurface
  bool Hardware;                  // HAL device, video-memory z-buffer, bilinear filtering
  bool FlipPresent;               // present by flipping (the fullscreen argument)
  DDPIXELFORMAT ZBufferFormat;    // the first plain depth format the device lists
  DDSURFACEDESC2 ZBufferDesc;     // what the z-buffer was created from
  DDSURFACEDESC2 TextureDesc;     // template of every texture; only the size changes
  TextureEntry Textures[kMaxTextures];
  int32_t TextureCount;           // entries in use, 0..100
  int32_t CurrentTexture;         // index last set on the device, -1 for none

  cDirect3D(HWND window, bool fullscreen, bool hardware, int width, int height,
            int bitsPerPixel, int backBufferCount);
  // Logs "\ncDirect3D destruktor", releases device, z-buffer, Direct3D and
  // every texture, then the display part.
  ~cDirect3D();

  // Z-buffer of Width x Height on BackSurface, the device, its states, the
  // viewport, and a first clear to colour 0 and depth 1.0.
  void CreateDevice();
  // Takes the first format whose flags are exactly DDPF_ZBUFFER.
  static HRESULT CALLBACK EnumZBufferCallback(LPDDPIXELFORMAT format, LPVOID context);
  void ClearZBuffer(float depth);
  // Render target to `color` (ARGB) and depth to `depth`, the whole viewport.
  void Clear(DWORD color, float depth);
  // The next table index with a new texture surface of width x height; 0 and
  // nothing created when the table is full.
  int CreateTexture(int width, int height);
  // A texture from width x height RGB texels (3 bytes each, rows first).
  // Returns its index, or -1 when the upload was refused (the table is full or
  // the surface could not be made): then nothing is written anywhere.
  int LoadTexture(int width, int height, const BYTE* pixels);
  // Releases one texture and empties its entry; the index is not reused.
  void ReleaseTexture(int index);
  void ReleaseTextures();
  // Sets texture `index` (-1: none) on `stage`, unless it is the one last set
  // on any stage.
  void SetTexture(int index, int stage);
  // Follows the window: when the client size changed, rebuilds back surface,
  // z-buffer and device (textures are kept) and returns true.
  bool OnWindowChanged();
};

#define CDIRECT3D_CLASS_DEFINED
#endif  // CDIRECT3D_H

// Now that cDirect3D is complete, the inline present of cDDraw.h.
#include "cDDraw.h"
