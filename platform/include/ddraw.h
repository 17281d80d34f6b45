// ddraw.h - DirectDraw 7, the subset the demo uses, for Linux.
//
// Surfaces live in system memory in their own pixel format (RGB565 for a
// 16-bit mode, XRGB8888 for a 32-bit one). What a flip or a blit to the
// primary surface makes visible is handed to the stand-in's host
// (standin/host.h), which shows it scaled in a window or keeps it in memory.
//
// Structures have the layout of the Windows SDK. Those that hold pointers
// (DDSURFACEDESC2::lpSurface, DDBLTFX's surface unions) have their 64-bit
// Windows sizes on a 64-bit build: 136 and 128 bytes instead of the 124 and 100
// of a 32-bit build. Every size is pinned with a static_assert below.
#ifndef STANDIN_DDRAW_H
#define STANDIN_DDRAW_H

#include "windows.h"

// ---- Result codes -----------------------------------------------------------

#define _FACDD 0x876
#define MAKE_DDHRESULT(code) MAKE_HRESULT(1, _FACDD, code)

#define DD_OK S_OK
#define DD_FALSE S_FALSE
#define DDERR_ALREADYINITIALIZED MAKE_DDHRESULT(5)
#define DDERR_CANNOTATTACHSURFACE MAKE_DDHRESULT(10)
#define DDERR_CANNOTDETACHSURFACE MAKE_DDHRESULT(20)
#define DDERR_GENERIC E_FAIL
#define DDERR_INVALIDCAPS MAKE_DDHRESULT(100)
#define DDERR_INVALIDMODE MAKE_DDHRESULT(120)
#define DDERR_INVALIDOBJECT MAKE_DDHRESULT(130)
#define DDERR_INVALIDPARAMS E_INVALIDARG
#define DDERR_INVALIDPIXELFORMAT MAKE_DDHRESULT(145)
#define DDERR_INVALIDRECT MAKE_DDHRESULT(150)
#define DDERR_NOCOOPERATIVELEVELSET MAKE_DDHRESULT(212)
#define DDERR_NOEXCLUSIVEMODE MAKE_DDHRESULT(225)
#define DDERR_NOTFOUND MAKE_DDHRESULT(255)
#define DDERR_OUTOFMEMORY E_OUTOFMEMORY
#define DDERR_SURFACEALREADYATTACHED MAKE_DDHRESULT(410)
#define DDERR_SURFACEBUSY MAKE_DDHRESULT(430)
#define DDERR_SURFACELOST MAKE_DDHRESULT(450)  // 0x887601C2
#define DDERR_SURFACENOTATTACHED MAKE_DDHRESULT(460)
#define DDERR_UNSUPPORTED E_NOTIMPL
#define DDERR_WASSTILLDRAWING MAKE_DDHRESULT(540)
#define DDERR_NODIRECTDRAWHW MAKE_DDHRESULT(563)
#define DDERR_NOCLIPPERATTACHED MAKE_DDHRESULT(568)
#define DDERR_NOHWND MAKE_DDHRESULT(569)
#define DDERR_HWNDALREADYSET MAKE_DDHRESULT(571)
#define DDERR_EXCLUSIVEMODEALREADYSET MAKE_DDHRESULT(581)
#define DDERR_NOTFLIPPABLE MAKE_DDHRESULT(582)
#define DDERR_NOTLOCKED MAKE_DDHRESULT(584)
#define DDERR_CANTCREATEDC MAKE_DDHRESULT(585)
#define DDERR_NODC MAKE_DDHRESULT(586)
#define DDERR_WRONGMODE MAKE_DDHRESULT(587)
#define DDERR_IMPLICITLYCREATED MAKE_DDHRESULT(588)
#define DDERR_DCALREADYCREATED MAKE_DDHRESULT(620)

// ---- Flags ------------------------------------------------------------------

// DirectDrawEnumerateExA
#define DDENUM_ATTACHEDSECONDARYDEVICES 0x00000001
#define DDENUM_DETACHEDSECONDARYDEVICES 0x00000002
#define DDENUM_NONDISPLAYDEVICES 0x00000004

// IDirectDraw7::SetCooperativeLevel
#define DDSCL_FULLSCREEN 0x00000001
#define DDSCL_ALLOWREBOOT 0x00000002
#define DDSCL_NOWINDOWCHANGES 0x00000004
#define DDSCL_NORMAL 0x00000008
#define DDSCL_EXCLUSIVE 0x00000010
#define DDSCL_ALLOWMODEX 0x00000040
#define DDSCL_MULTITHREADED 0x00000400
#define DDSCL_FPUSETUP 0x00000800
#define DDSCL_FPUPRESERVE 0x00001000

// DDSURFACEDESC2::dwFlags: which fields are valid
#define DDSD_CAPS 0x00000001
#define DDSD_HEIGHT 0x00000002
#define DDSD_WIDTH 0x00000004
#define DDSD_PITCH 0x00000008
#define DDSD_BACKBUFFERCOUNT 0x00000020
#define DDSD_ZBUFFERBITDEPTH 0x00000040
#define DDSD_ALPHABITDEPTH 0x00000080
#define DDSD_LPSURFACE 0x00000800
#define DDSD_PIXELFORMAT 0x00001000
#define DDSD_CKDESTOVERLAY 0x00002000
#define DDSD_CKDESTBLT 0x00004000
#define DDSD_CKSRCOVERLAY 0x00008000
#define DDSD_CKSRCBLT 0x00010000
#define DDSD_MIPMAPCOUNT 0x00020000
#define DDSD_REFRESHRATE 0x00040000
#define DDSD_LINEARSIZE 0x00080000
#define DDSD_TEXTURESTAGE 0x00100000
#define DDSD_FVF 0x00200000
#define DDSD_SRCVBHANDLE 0x00400000
#define DDSD_DEPTH 0x00800000
#define DDSD_ALL 0x00FFF9EE

// DDSCAPS2::dwCaps
#define DDSCAPS_ALPHA 0x00000002
#define DDSCAPS_BACKBUFFER 0x00000004
#define DDSCAPS_COMPLEX 0x00000008
#define DDSCAPS_FLIP 0x00000010
#define DDSCAPS_FRONTBUFFER 0x00000020
#define DDSCAPS_OFFSCREENPLAIN 0x00000040
#define DDSCAPS_OVERLAY 0x00000080
#define DDSCAPS_PALETTE 0x00000100
#define DDSCAPS_PRIMARYSURFACE 0x00000200
#define DDSCAPS_SYSTEMMEMORY 0x00000800
#define DDSCAPS_TEXTURE 0x00001000
#define DDSCAPS_3DDEVICE 0x00002000
#define DDSCAPS_VIDEOMEMORY 0x00004000
#define DDSCAPS_VISIBLE 0x00008000
#define DDSCAPS_WRITEONLY 0x00010000
#define DDSCAPS_ZBUFFER 0x00020000
#define DDSCAPS_OWNDC 0x00040000
#define DDSCAPS_MIPMAP 0x00400000
#define DDSCAPS_ALLOCONLOAD 0x04000000
#define DDSCAPS_LOCALVIDMEM 0x10000000
#define DDSCAPS_NONLOCALVIDMEM 0x20000000

// DDSCAPS2::dwCaps2
#define DDSCAPS2_HARDWAREDEINTERLACE 0x00000000
#define DDSCAPS2_HINTDYNAMIC 0x00000004
#define DDSCAPS2_HINTSTATIC 0x00000008
#define DDSCAPS2_TEXTUREMANAGE 0x00000010
#define DDSCAPS2_OPAQUE 0x00000080
#define DDSCAPS2_D3DTEXTUREMANAGE 0x00020000

// DDPIXELFORMAT::dwFlags
#define DDPF_ALPHAPIXELS 0x00000001
#define DDPF_ALPHA 0x00000002
#define DDPF_FOURCC 0x00000004
#define DDPF_PALETTEINDEXED8 0x00000020
#define DDPF_RGB 0x00000040
#define DDPF_ZBUFFER 0x00000400
#define DDPF_LUMINANCE 0x00020000
#define DDPF_STENCILBUFFER 0x00004000

// IDirectDrawSurface7::Blt
#define DDBLT_ASYNC 0x00000200
#define DDBLT_COLORFILL 0x00000400
#define DDBLT_DDFX 0x00000800
#define DDBLT_KEYDEST 0x00002000
#define DDBLT_KEYSRC 0x00008000
#define DDBLT_ROP 0x00020000
#define DDBLT_WAIT 0x01000000
#define DDBLT_DEPTHFILL 0x02000000
#define DDBLT_DONOTWAIT 0x08000000

// IDirectDrawSurface7::Flip
#define DDFLIP_WAIT 0x00000001
#define DDFLIP_EVEN 0x00000002
#define DDFLIP_ODD 0x00000004
#define DDFLIP_NOVSYNC 0x00000008
#define DDFLIP_DONOTWAIT 0x00000020

// IDirectDrawSurface7::Lock
#define DDLOCK_SURFACEMEMORYPTR 0x00000000
#define DDLOCK_WAIT 0x00000001
#define DDLOCK_READONLY 0x00000010
#define DDLOCK_WRITEONLY 0x00000020
#define DDLOCK_NOSYSLOCK 0x00000800
#define DDLOCK_DISCARDCONTENTS 0x00002000
#define DDLOCK_DONOTWAIT 0x00004000

// ---- Structures -------------------------------------------------------------

#ifdef __cplusplus
struct IDirectDraw7;
struct IDirectDrawSurface7;
struct IDirectDrawClipper;
typedef IDirectDraw7* LPDIRECTDRAW7;
typedef IDirectDrawSurface7* LPDIRECTDRAWSURFACE7;
typedef IDirectDrawClipper* LPDIRECTDRAWCLIPPER;
#endif

typedef struct _DDCOLORKEY {
  DWORD dwColorSpaceLowValue;   // low end of the key range, in the surface's pixel format
  DWORD dwColorSpaceHighValue;  // high end, inclusive
} DDCOLORKEY, *LPDDCOLORKEY;

typedef struct _DDSCAPS2 {
  DWORD dwCaps;   // DDSCAPS_*
  DWORD dwCaps2;  // DDSCAPS2_*
  DWORD dwCaps3;  // 0
  union {
    DWORD dwCaps4;  // 0
    DWORD dwVolumeDepth;
  };
} DDSCAPS2, *LPDDSCAPS2;

typedef struct _DDPIXELFORMAT {
  DWORD dwSize;    // sizeof(DDPIXELFORMAT), 32
  DWORD dwFlags;   // DDPF_*
  DWORD dwFourCC;  // 0 for RGB and depth formats
  union {
    DWORD dwRGBBitCount;      // bits per pixel of an RGB format: 16 or 32
    DWORD dwYUVBitCount;
    DWORD dwZBufferBitDepth;  // bits per pixel of a depth format, stencil included
    DWORD dwAlphaBitDepth;
    DWORD dwLuminanceBitCount;
    DWORD dwBumpBitCount;
    DWORD dwPrivateFormatBitCount;
  };
  union {
    DWORD dwRBitMask;         // red bits: 0xF800 for RGB565
    DWORD dwYBitMask;
    DWORD dwStencilBitDepth;  // stencil bits of a depth format
    DWORD dwLuminanceBitMask;
    DWORD dwBumpDuBitMask;
    DWORD dwOperations;
  };
  union {
    DWORD dwGBitMask;  // green bits: 0x07E0 for RGB565
    DWORD dwUBitMask;
    DWORD dwZBitMask;  // depth bits: 0xFFFF for a 16-bit depth format
    DWORD dwBumpDvBitMask;
    struct {
      WORD wFlipMSTypes;
      WORD wBltMSTypes;
    } MultiSampleCaps;
  };
  union {
    DWORD dwBBitMask;        // blue bits: 0x001F for RGB565
    DWORD dwVBitMask;
    DWORD dwStencilBitMask;  // stencil bits of a depth format
    DWORD dwBumpLuminanceBitMask;
  };
  union {
    DWORD dwRGBAlphaBitMask;  // alpha bits, 0 without DDPF_ALPHAPIXELS
    DWORD dwYUVAlphaBitMask;
    DWORD dwLuminanceAlphaBitMask;
    DWORD dwRGBZBitMask;
    DWORD dwYUVZBitMask;
  };
} DDPIXELFORMAT, *LPDDPIXELFORMAT;

typedef struct _DDSURFACEDESC2 {
  DWORD dwSize;    // sizeof(DDSURFACEDESC2)
  DWORD dwFlags;   // DDSD_*: which fields below are valid
  DWORD dwHeight;  // pixels
  DWORD dwWidth;   // pixels
  union {
    LONG lPitch;  // bytes from one row to the next (after Lock, GetSurfaceDesc)
    DWORD dwLinearSize;
  };
  union {
    DWORD dwBackBufferCount;  // back buffers of a flip chain (primary surface)
    DWORD dwDepth;
  };
  union {
    DWORD dwMipMapCount;
    DWORD dwRefreshRate;
    DWORD dwSrcVBHandle;
  };
  DWORD dwAlphaBitDepth;
  DWORD dwReserved;
  LPVOID lpSurface;  // first byte of the first row, valid between Lock and Unlock
  union {
    DDCOLORKEY ddckCKDestOverlay;
    DWORD dwEmptyFaceColor;
  };
  DDCOLORKEY ddckCKDestBlt;
  DDCOLORKEY ddckCKSrcOverlay;
  DDCOLORKEY ddckCKSrcBlt;
  union {
    DDPIXELFORMAT ddpfPixelFormat;
    DWORD dwFVF;
  };
  DDSCAPS2 ddsCaps;
  DWORD dwTextureStage;
} DDSURFACEDESC2, *LPDDSURFACEDESC2;

typedef struct _DDBLTFX {
  DWORD dwSize;  // sizeof(DDBLTFX)
  DWORD dwDDFX;
  DWORD dwROP;
  DWORD dwDDROP;
  DWORD dwRotationAngle;
  DWORD dwZBufferOpCode;
  DWORD dwZBufferLow;
  DWORD dwZBufferHigh;
  DWORD dwZBufferBaseDest;
  DWORD dwZDestConstBitDepth;
  union {
    DWORD dwZDestConst;
    LPDIRECTDRAWSURFACE7 lpDDSZBufferDest;
  };
  DWORD dwZSrcConstBitDepth;
  union {
    DWORD dwZSrcConst;
    LPDIRECTDRAWSURFACE7 lpDDSZBufferSrc;
  };
  DWORD dwAlphaEdgeBlendBitDepth;
  DWORD dwAlphaEdgeBlend;
  DWORD dwReserved;
  DWORD dwAlphaDestConstBitDepth;
  union {
    DWORD dwAlphaDestConst;
    LPDIRECTDRAWSURFACE7 lpDDSAlphaDest;
  };
  DWORD dwAlphaSrcConstBitDepth;
  union {
    DWORD dwAlphaSrcConst;
    LPDIRECTDRAWSURFACE7 lpDDSAlphaSrc;
  };
  union {
    DWORD dwFillColor;  // DDBLT_COLORFILL: the pixel value, in the destination's format
    DWORD dwFillDepth;  // DDBLT_DEPTHFILL: the depth value
    DWORD dwFillPixel;
    LPDIRECTDRAWSURFACE7 lpDDSPattern;
  };
  DDCOLORKEY ddckDestColorkey;
  DDCOLORKEY ddckSrcColorkey;
} DDBLTFX, *LPDDBLTFX;

// Sizes as the Windows SDK lays these records out (32-bit / 64-bit Windows).
static_assert(sizeof(DDCOLORKEY) == 8, "DDCOLORKEY is 8 bytes");
static_assert(sizeof(DDSCAPS2) == 16, "DDSCAPS2 is 16 bytes");
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT is 32 bytes");
static_assert(sizeof(void*) == 8 ? sizeof(DDSURFACEDESC2) == 136 : sizeof(DDSURFACEDESC2) == 124,
              "DDSURFACEDESC2 is 124 bytes (32-bit) or 136 bytes (64-bit)");
static_assert(sizeof(void*) == 8 ? sizeof(DDBLTFX) == 128 : sizeof(DDBLTFX) == 100,
              "DDBLTFX is 100 bytes (32-bit) or 128 bytes (64-bit)");
static_assert(offsetof(DDSURFACEDESC2, lpSurface) == 36 + (sizeof(void*) == 8 ? 4 : 0),
              "DDSURFACEDESC2::lpSurface offset");
static_assert(offsetof(DDSURFACEDESC2, ddpfPixelFormat) == (sizeof(void*) == 8 ? 80 : 72),
              "DDSURFACEDESC2::ddpfPixelFormat offset");
static_assert(offsetof(DDBLTFX, dwFillColor) == (sizeof(void*) == 8 ? 104 : 80),
              "DDBLTFX::dwFillColor offset");

// ---- Interfaces -------------------------------------------------------------

#ifdef __cplusplus

// Called once per DirectDraw device; return TRUE to go on with the enumeration.
typedef BOOL(WINAPI* LPDDENUMCALLBACKEXA)(GUID* guid, LPSTR driverDescription, LPSTR driverName,
                                           LPVOID context, HMONITOR monitor);

struct IDirectDrawClipper : public IUnknown {
  // The clipper follows `window`: blits through it are clipped to its client area.
  virtual HRESULT SetHWnd(DWORD flags, HWND window) = 0;
  virtual HRESULT GetHWnd(HWND* window) = 0;

 protected:
  ~IDirectDrawClipper() = default;
};

struct IDirectDrawSurface7 : public IUnknown {
  // Attaches `surface` (a z-buffer) and adds a reference to it.
  virtual HRESULT AddAttachedSurface(LPDIRECTDRAWSURFACE7 surface) = 0;
  // Copies `source` (null: colour fill from fx) into `destRect` (null: the whole surface),
  // stretching; a primary surface with a clipper clips to the clipper's window.
  virtual HRESULT Blt(LPRECT destRect, LPDIRECTDRAWSURFACE7 source, LPRECT sourceRect, DWORD flags,
                      LPDDBLTFX fx) = 0;
  // Detaches `surface` and releases the reference the attachment held.
  virtual HRESULT DeleteAttachedSurface(DWORD flags, LPDIRECTDRAWSURFACE7 surface) = 0;
  // Rotates the flip chain's memory; the new front is presented.
  virtual HRESULT Flip(LPDIRECTDRAWSURFACE7 target, DWORD flags) = 0;
  // The attached surface with `caps`, with a reference added.
  virtual HRESULT GetAttachedSurface(LPDDSCAPS2 caps, LPDIRECTDRAWSURFACE7* surface) = 0;
  virtual HRESULT GetCaps(LPDDSCAPS2 caps) = 0;
  virtual HRESULT GetClipper(LPDIRECTDRAWCLIPPER* clipper) = 0;
  virtual HRESULT GetDC(HDC* dc) = 0;
  virtual HRESULT GetPixelFormat(LPDDPIXELFORMAT format) = 0;
  virtual HRESULT GetSurfaceDesc(LPDDSURFACEDESC2 desc) = 0;
  virtual HRESULT IsLost() = 0;
  // Fills desc->lpSurface and desc->lPitch; rect null locks the whole surface.
  virtual HRESULT Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags, HANDLE event) = 0;
  virtual HRESULT ReleaseDC(HDC dc) = 0;
  virtual HRESULT Restore() = 0;
  virtual HRESULT SetClipper(LPDIRECTDRAWCLIPPER clipper) = 0;
  virtual HRESULT Unlock(LPRECT rect) = 0;

 protected:
  ~IDirectDrawSurface7() = default;
};

struct IDirectDraw7 : public IUnknown {
  virtual HRESULT CreateClipper(DWORD flags, LPDIRECTDRAWCLIPPER* clipper, IUnknown* outer) = 0;
  virtual HRESULT CreateSurface(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7* surface,
                                IUnknown* outer) = 0;
  virtual HRESULT GetDisplayMode(LPDDSURFACEDESC2 desc) = 0;
  virtual HRESULT RestoreDisplayMode() = 0;
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
  // Sets the virtual screen's mode; the desktop's real mode is never changed.
  virtual HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD refreshRate,
                                 DWORD flags) = 0;
  virtual HRESULT RestoreAllSurfaces() = 0;

 protected:
  ~IDirectDraw7() = default;
};

extern "C" {
extern const GUID IID_IDirectDraw7;
extern const GUID IID_IDirectDrawSurface7;
extern const GUID IID_IDirectDrawClipper;

// Calls `callback` once per DirectDraw device: here the primary display driver,
// with a null GUID, "Primary Display Driver" and "display".
HRESULT WINAPI DirectDrawEnumerateExA(LPDDENUMCALLBACKEXA callback, LPVOID context, DWORD flags);
// guid null: the active display driver; iid must be IID_IDirectDraw7; outer must be null.
HRESULT WINAPI DirectDrawCreateEx(GUID* guid, LPVOID* directDraw, REFIID iid, IUnknown* outer);
}

#endif  // __cplusplus

#endif
