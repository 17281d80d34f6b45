// Surface descriptions the device tests, the stream replay and the device
// fuzz target build their render targets from.
#ifndef TESTS_COMMON_SURFACEDESC_H
#define TESTS_COMMON_SURFACEDESC_H

#include <ddraw.h>

#include <cstring>

namespace surface_desc {

// A zeroed description with its size set.
inline DDSURFACEDESC2 Desc() {
  DDSURFACEDESC2 d;
  std::memset(&d, 0, sizeof d);
  d.dwSize = sizeof d;
  return d;
}

// The 16-bit z-buffer format.
inline DDPIXELFORMAT D16() {
  DDPIXELFORMAT f;
  std::memset(&f, 0, sizeof f);
  f.dwSize = sizeof f;
  f.dwFlags = DDPF_ZBUFFER;
  f.dwZBufferBitDepth = 16;
  f.dwZBitMask = 0xFFFF;
  return f;
}

// A width x height offscreen RGB surface a Direct3D device can draw into,
// `bits` per pixel with the channel masks given.
inline DDSURFACEDESC2 RgbTarget(DWORD width, DWORD height, DWORD bits, DWORD red, DWORD green, DWORD blue) {
  DDSURFACEDESC2 d = Desc();
  d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
  d.dwWidth = width;
  d.dwHeight = height;
  d.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE;
  d.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
  d.ddpfPixelFormat.dwFlags = DDPF_RGB;
  d.ddpfPixelFormat.dwRGBBitCount = bits;
  d.ddpfPixelFormat.dwRBitMask = red;
  d.ddpfPixelFormat.dwGBitMask = green;
  d.ddpfPixelFormat.dwBBitMask = blue;
  return d;
}

inline DDSURFACEDESC2 Rgb565Target(DWORD width, DWORD height) {
  return RgbTarget(width, height, 16, 0xF800, 0x07E0, 0x001F);
}

// A width x height 16-bit z-buffer in `memory` (DDSCAPS_SYSTEMMEMORY or DDSCAPS_VIDEOMEMORY).
inline DDSURFACEDESC2 ZBuffer16(DWORD width, DWORD height, DWORD memory) {
  DDSURFACEDESC2 z = Desc();
  z.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
  z.dwWidth = width;
  z.dwHeight = height;
  z.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | memory;
  z.ddpfPixelFormat = D16();
  return z;
}

}  // namespace surface_desc

#endif
