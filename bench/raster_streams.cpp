// Replays the recorded triangle streams through IDirect3DDevice7::DrawPrimitive
// at 800 x 600 x 16, one thread: per frame, clear colour to 0 and depth to 1.0,
// then draw every draw call of the frame (a run of triangles with one texture,
// cut after the stream's batch limit) into the render target.
#include <benchmark/benchmark.h>
#include <d3d.h>

#include <cstring>
#include <unistd.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "raster/TriangleStream.h"

namespace {

struct Vertex144 {
  float x, y, z, rhw;
  DWORD diffuse;
  float u, v;
};
static_assert(sizeof(Vertex144) == 28, "FVF 0x144");

struct DrawCall {
  size_t texture;
  std::vector<Vertex144> vertices;
};

// A device set up as the stream's README says, and the stream's frames as draw calls.
class Replay {
 public:
  bool Open(const std::string& path, std::string* error) {
    standin::raster::TriangleStream ts;
    if (!standin::raster::LoadTriangleStream(path, &ts, error)) return false;
    auto fail = [&](const char* what, HRESULT hr) {
      char buf[32];
      std::snprintf(buf, sizeof buf, " (0x%08X)", static_cast<unsigned>(hr));
      *error = path + ": " + what + buf;
      return false;
    };
    HRESULT hr;
    if (FAILED(hr = DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&dd_), IID_IDirectDraw7, nullptr))) return fail("DirectDrawCreateEx", hr);
    if (FAILED(hr = dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL))) return fail("SetCooperativeLevel", hr);
    DDSURFACEDESC2 d;
    std::memset(&d, 0, sizeof d);
    d.dwSize = sizeof d;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    d.dwWidth = ts.width;
    d.dwHeight = ts.height;
    d.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE;
    d.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    d.ddpfPixelFormat.dwFlags = DDPF_RGB;
    d.ddpfPixelFormat.dwRGBBitCount = 16;
    d.ddpfPixelFormat.dwRBitMask = 0xF800;
    d.ddpfPixelFormat.dwGBitMask = 0x07E0;
    d.ddpfPixelFormat.dwBBitMask = 0x001F;
    if (FAILED(hr = dd_->CreateSurface(&d, &target_, nullptr))) return fail("render target", hr);
    DDSURFACEDESC2 z = d;
    z.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | DDSCAPS_VIDEOMEMORY;
    std::memset(&z.ddpfPixelFormat, 0, sizeof z.ddpfPixelFormat);
    z.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    z.ddpfPixelFormat.dwFlags = DDPF_ZBUFFER;
    z.ddpfPixelFormat.dwZBufferBitDepth = 16;
    z.ddpfPixelFormat.dwZBitMask = 0xFFFF;
    if (FAILED(hr = dd_->CreateSurface(&z, &zbuffer_, nullptr))) return fail("z-buffer", hr);
    if (FAILED(hr = target_->AddAttachedSurface(zbuffer_))) return fail("AddAttachedSurface", hr);
    if (FAILED(hr = dd_->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&d3d_)))) return fail("IDirect3D7", hr);
    if (FAILED(hr = d3d_->CreateDevice(IID_IDirect3DHALDevice, target_, &device_))) return fail("CreateDevice", hr);
    const DWORD cull[] = {D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW};
    device_->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    device_->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, TRUE);
    device_->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_LESSEQUAL);
    device_->SetRenderState(D3DRENDERSTATE_CULLMODE, cull[ts.cull]);
    device_->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
    device_->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_LINEAR);

    for (const auto& t : ts.textures) {
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
    for (const auto& f : ts.frames) {
      std::vector<DrawCall> calls;
      for (const auto& tri : f.triangles) {
        if (calls.empty() || calls.back().texture != tri.texture ||
            calls.back().vertices.size() >= 3 * static_cast<size_t>(ts.maxBatch)) {
          calls.push_back(DrawCall{tri.texture, {}});
        }
        for (const auto& v : tri.v) calls.back().vertices.push_back(Vertex144{v.x, v.y, v.z, v.rhw, v.diffuse, v.u, v.v});
      }
      frames_.push_back(std::move(calls));
    }
    return !frames_.empty() || (*error = path + ": no frames", false);
  }

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

  uint16_t FirstPixel() {
    DDSURFACEDESC2 l;
    std::memset(&l, 0, sizeof l);
    l.dwSize = sizeof l;
    target_->Lock(nullptr, &l, DDLOCK_WAIT, nullptr);
    const uint16_t v = *static_cast<uint16_t*>(l.lpSurface);
    target_->Unlock(nullptr);
    return v;
  }

 private:
  IDirectDraw7* dd_ = nullptr;
  IDirectDrawSurface7* target_ = nullptr;
  IDirectDrawSurface7* zbuffer_ = nullptr;
  IDirect3D7* d3d_ = nullptr;
  IDirect3DDevice7* device_ = nullptr;
  std::vector<IDirectDrawSurface7*> textures_;
  std::vector<std::vector<DrawCall>> frames_;
};

void BM_Stream(benchmark::State& state, const char* name, double llvmpipeMs) {
  static std::map<std::string, std::unique_ptr<Replay>> replays;
  auto& replay = replays[name];
  std::string error;
  if (!replay) {
    // The full recordings are too large for the repository; the build
    // machines keep them beside it. Without them there is nothing to measure.
    const std::string path = std::string(DEMO_SHARED_DIR) + "/bench/" + name;
    if (access(path.c_str(), R_OK) != 0) {
      const std::string why = "skipped: the recorded stream " + path +
                              " is not there (configure with -DDEMO_SHARED_DIR=<folder with bench/>)";
      state.SkipWithError(why.c_str());
      return;
    }
    replay = std::make_unique<Replay>();
    if (!replay->Open(path, &error)) {
      replay.reset();
      state.SkipWithError(error.c_str());
      return;
    }
  }
  size_t frame = 0;
  for (auto _ : state) {
    replay->DrawFrame(frame++);
    benchmark::DoNotOptimize(replay->FirstPixel());
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["llvmpipe_1t_ms"] = llvmpipeMs;
}

BENCHMARK_CAPTURE(BM_Stream, small, "small.trs", 13.60)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_Stream, large, "large.trs", 11.51)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_Stream, mixed, "mixed.trs", 11.58)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
