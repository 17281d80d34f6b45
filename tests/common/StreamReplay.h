// A recorded triangle stream replayed through IDirect3DDevice7: a render
// target of the stream's size (RGB565) with a 16-bit z-buffer, the state the
// recording was made with (modulate, bilinear, wrap, LESSEQUAL with writes, the
// stream's culling) and each frame cut into draw calls (a run of triangles with
// one texture, at most the stream's batch size). Shared by the benchmark, the
// comparison with another renderer and the tests.
#ifndef TESTS_COMMON_STREAMREPLAY_H
#define TESTS_COMMON_STREAMREPLAY_H

#include <d3d.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "SurfaceDesc.h"
#include "raster/TriangleStream.h"

namespace stream_replay {

struct Vertex144 {
  float x, y, z, rhw;  // pixels, depth 0..1, 1 / w
  DWORD diffuse;       // 0x00RRGGBB
  float u, v;          // 1.0 = one texture width/height
};
static_assert(sizeof(Vertex144) == 28, "FVF 0x144");

struct DrawCall {
  size_t texture;                   // index into the stream's textures
  std::vector<Vertex144> vertices;  // a triangle list
};

// The draw calls of every frame of a stream, as the recording's rules cut them.
inline std::vector<std::vector<DrawCall>> CutFrames(const standin::raster::TriangleStream& ts) {
  std::vector<std::vector<DrawCall>> frames;
  for (const auto& f : ts.frames) {
    std::vector<DrawCall> calls;
    for (const auto& tri : f.triangles) {
      if (calls.empty() || calls.back().texture != tri.texture ||
          calls.back().vertices.size() >= 3 * static_cast<size_t>(ts.maxBatch)) {
        calls.push_back(DrawCall{tri.texture, {}});
      }
      for (const auto& v : tri.v) {
        calls.back().vertices.push_back(Vertex144{v.x, v.y, v.z, v.rhw, v.diffuse, v.u, v.v});
      }
    }
    frames.push_back(std::move(calls));
  }
  return frames;
}

class Replay {
 public:
  Replay() = default;
  Replay(const Replay&) = delete;
  Replay& operator=(const Replay&) = delete;
  ~Replay() {
    for (IDirectDrawSurface7* s : textures_) s->Release();
    if (device_ != nullptr) device_->Release();
    if (d3d_ != nullptr) d3d_->Release();
    if (zbuffer_ != nullptr) zbuffer_->Release();
    if (target_ != nullptr) target_->Release();
    if (dd_ != nullptr) dd_->Release();
  }

  // Loads the stream and sets up the device; false with *error naming the file and the step.
  bool Open(const std::string& path, std::string* error) {
    if (!standin::raster::LoadTriangleStream(path, &stream_, error)) return false;
    auto fail = [&](const char* what, HRESULT hr) {
      char buf[32];
      std::snprintf(buf, sizeof buf, " (0x%08X)", static_cast<unsigned>(hr));
      *error = path + ": " + what + buf;
      return false;
    };
    HRESULT hr;
    if (FAILED(hr = DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&dd_), IID_IDirectDraw7, nullptr))) return fail("DirectDrawCreateEx", hr);
    if (FAILED(hr = dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL))) return fail("SetCooperativeLevel", hr);
    DDSURFACEDESC2 d = surface_desc::Rgb565Target(stream_.width, stream_.height);
    if (FAILED(hr = dd_->CreateSurface(&d, &target_, nullptr))) return fail("render target", hr);
    DDSURFACEDESC2 z = surface_desc::ZBuffer16(stream_.width, stream_.height, DDSCAPS_VIDEOMEMORY);
    if (FAILED(hr = dd_->CreateSurface(&z, &zbuffer_, nullptr))) return fail("z-buffer", hr);
    if (FAILED(hr = target_->AddAttachedSurface(zbuffer_))) return fail("AddAttachedSurface", hr);
    if (FAILED(hr = dd_->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&d3d_)))) return fail("IDirect3D7", hr);
    if (FAILED(hr = d3d_->CreateDevice(IID_IDirect3DHALDevice, target_, &device_))) return fail("CreateDevice", hr);
    const DWORD cull[] = {D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW};
    device_->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    device_->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, TRUE);
    device_->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_LESSEQUAL);
    device_->SetRenderState(D3DRENDERSTATE_CULLMODE, cull[stream_.cull <= 2 ? stream_.cull : 0]);
    device_->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
    device_->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_LINEAR);

    for (const auto& t : stream_.textures) {
      DDSURFACEDESC2 td = d;
      td.dwWidth = td.dwHeight = t.side;
      td.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
      td.ddsCaps.dwCaps2 = DDSCAPS2_TEXTUREMANAGE;
      IDirectDrawSurface7* s = nullptr;
      if (FAILED(hr = dd_->CreateSurface(&td, &s, nullptr))) return fail("texture", hr);
      textures_.push_back(s);
      DDSURFACEDESC2 l;
      std::memset(&l, 0, sizeof l);
      l.dwSize = sizeof l;
      if (FAILED(hr = s->Lock(nullptr, &l, DDLOCK_WAIT, nullptr))) return fail("texture lock", hr);
      for (int y = 0; y < t.side; ++y) {
        std::memcpy(static_cast<uint8_t*>(l.lpSurface) + y * l.lPitch, &t.texels[y * t.side], t.side * 2);
      }
      s->Unlock(nullptr);
    }
    frames_ = CutFrames(stream_);
    return !frames_.empty() || (*error = path + ": no frames", false);
  }

  // Clears colour to 0 and depth to 1.0 and draws every draw call of a frame.
  void DrawFrame(size_t index) {
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    device_->BeginScene();
    for (auto& call : frames_[index % frames_.size()]) {
      device_->SetTexture(0, textures_[call.texture]);
      device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0x144, call.vertices.data(),
                             static_cast<DWORD>(call.vertices.size()), 0);
    }
    device_->EndScene();
  }

  // The target's pixels, row by row, through Lock (which waits for the drawing).
  std::vector<uint16_t> Pixels() {
    std::vector<uint16_t> out;
    DDSURFACEDESC2 l;
    std::memset(&l, 0, sizeof l);
    l.dwSize = sizeof l;
    if (FAILED(target_->Lock(nullptr, &l, DDLOCK_WAIT, nullptr))) return out;
    out.resize(static_cast<size_t>(stream_.width) * stream_.height);
    for (int y = 0; y < stream_.height; ++y) {
      std::memcpy(&out[static_cast<size_t>(y) * stream_.width],
                  static_cast<const uint8_t*>(l.lpSurface) + static_cast<ptrdiff_t>(y) * l.lPitch,
                  static_cast<size_t>(stream_.width) * 2);
    }
    target_->Unlock(nullptr);
    return out;
  }

  // The first pixel through Lock: the cheapest read that waits for the frame.
  uint16_t FirstPixel() {
    DDSURFACEDESC2 l;
    std::memset(&l, 0, sizeof l);
    l.dwSize = sizeof l;
    if (FAILED(target_->Lock(nullptr, &l, DDLOCK_WAIT, nullptr))) return 0;
    const uint16_t v = *static_cast<uint16_t*>(l.lpSurface);
    target_->Unlock(nullptr);
    return v;
  }

  const standin::raster::TriangleStream& Stream() const { return stream_; }
  size_t FrameCount() const { return frames_.size(); }

 private:
  standin::raster::TriangleStream stream_;
  IDirectDraw7* dd_ = nullptr;
  IDirectDrawSurface7* target_ = nullptr;
  IDirectDrawSurface7* zbuffer_ = nullptr;
  IDirect3D7* d3d_ = nullptr;
  IDirect3DDevice7* device_ = nullptr;
  std::vector<IDirectDrawSurface7*> textures_;
  std::vector<std::vector<DrawCall>> frames_;
};

}  // namespace stream_replay

#endif
