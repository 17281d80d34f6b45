// Direct3D 7: the Direct3D object of a DirectDraw object and the device that
// draws pre-transformed triangles into a surface with the software rasterizer.
#include <d3d.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ddraw/DirectDraw.h"
#include "raster/Raster.h"
#include "raster/TileQueue.h"
#include "standin/faults.h"

namespace standin {

namespace {

constexpr DWORD kMaxStages = 8;
constexpr DWORD kMaxRenderState = 256;
constexpr DWORD kMaxStageState = 32;

bool KnownDevice(REFCLSID guid) {
  return guid == IID_IDirect3DHALDevice || guid == IID_IDirect3DRGBDevice ||
         guid == IID_IDirect3DTnLHalDevice || guid == IID_IDirect3DRefDevice;
}

// With a forced resolution (standin/resolution.h) the program's positions and
// rectangles stay in its own pixels: the device maps pre-transformed x and y,
// the viewport and Clear's rectangles to the render target's drawn pixels
// (the target's DrawnSize); z, rhw, colours and texture coordinates are as given.
//
// With more than one thread (DEMO_THREADS, default every core) the device
// queues its clears and triangles and draws them tile by tile on a pool of
// threads (raster/TileQueue.h); the DirectDraw object has the queue finished
// before anything reads or changes surface memory. With one thread it draws
// each call at once. DEMO_KERNEL, read when the device is made, forces a
// kernel (raster::KernelFromEnvironment).
class Device final : public IDirect3DDevice7, public PendingDrawing {
 public:
  Device(IDirect3D7* d3d, DirectDraw* dd, Surface* target)
      : d3d_(d3d), dd_(dd), target_(target), threads_(raster::ThreadCountFromEnvironment()),
        kernel_(raster::KernelFromEnvironment()) {
    d3d_->AddRef();
    target_->AddRef();
    if (threads_ > 1) dd_->AddPending(this);
    // The device's defaults. ZENABLE starts on only with a z-buffer attached.
    rs_[D3DRENDERSTATE_TEXTUREPERSPECTIVE] = TRUE;
    rs_[D3DRENDERSTATE_ZENABLE] = target_->AttachedZBuffer() != nullptr ? D3DZB_TRUE : D3DZB_FALSE;
    rs_[D3DRENDERSTATE_FILLMODE] = D3DFILL_SOLID;
    rs_[D3DRENDERSTATE_SHADEMODE] = D3DSHADE_GOURAUD;
    rs_[D3DRENDERSTATE_ZWRITEENABLE] = TRUE;
    rs_[D3DRENDERSTATE_LASTPIXEL] = TRUE;
    rs_[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_ONE;
    rs_[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_ZERO;
    rs_[D3DRENDERSTATE_CULLMODE] = D3DCULL_CCW;
    rs_[D3DRENDERSTATE_ZFUNC] = D3DCMP_LESSEQUAL;
    rs_[D3DRENDERSTATE_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs_[D3DRENDERSTATE_DITHERENABLE] = FALSE;
    rs_[D3DRENDERSTATE_ALPHABLENDENABLE] = FALSE;
    rs_[D3DRENDERSTATE_FOGENABLE] = FALSE;
    rs_[D3DRENDERSTATE_SPECULARENABLE] = FALSE;
    rs_[D3DRENDERSTATE_COLORKEYENABLE] = FALSE;
    rs_[D3DRENDERSTATE_STENCILENABLE] = FALSE;
    rs_[D3DRENDERSTATE_STENCILFUNC] = D3DCMP_ALWAYS;
    rs_[D3DRENDERSTATE_STENCILMASK] = 0xFFFFFFFF;
    rs_[D3DRENDERSTATE_STENCILWRITEMASK] = 0xFFFFFFFF;
    rs_[D3DRENDERSTATE_TEXTUREFACTOR] = 0xFFFFFFFF;
    rs_[D3DRENDERSTATE_CLIPPING] = TRUE;
    rs_[D3DRENDERSTATE_LIGHTING] = TRUE;
    rs_[D3DRENDERSTATE_COLORVERTEX] = TRUE;
    rs_[D3DRENDERSTATE_LOCALVIEWER] = TRUE;
    rs_[D3DRENDERSTATE_DIFFUSEMATERIALSOURCE] = 1;  // D3DMCS_COLOR1
    rs_[D3DRENDERSTATE_SPECULARMATERIALSOURCE] = 2;  // D3DMCS_COLOR2
    for (DWORD s = 0; s < kMaxStages; ++s) {
      DWORD* t = tss_[s];
      t[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
      t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
      t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
      t[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
      t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
      t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
      t[D3DTSS_TEXCOORDINDEX] = s;
      t[D3DTSS_ADDRESS] = D3DTADDRESS_WRAP;
      t[D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
      t[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
      t[D3DTSS_MAGFILTER] = D3DTFG_POINT;
      t[D3DTSS_MINFILTER] = D3DTFN_POINT;
      t[D3DTSS_MIPFILTER] = D3DTFP_NONE;
      t[D3DTSS_MAXANISOTROPY] = 1;
    }
    viewport_ = D3DVIEWPORT7{0, 0, static_cast<DWORD>(target_->Width()),
                             static_cast<DWORD>(target_->Height()), 0.0f, 1.0f};
  }

  HRESULT QueryInterface(REFIID riid, LPVOID* object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IDirect3DDevice7) {
      AddRef();
      *object = static_cast<IDirect3DDevice7*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  void FinishDrawing() override {
    if (queue_ != nullptr) queue_->Finish();
  }

  HRESULT BeginScene() override {
    STANDIN_FAULT("IDirect3DDevice7::BeginScene");
    if (inScene_) return D3DERR_SCENE_IN_SCENE;
    inScene_ = true;
    return D3D_OK;
  }

  HRESULT EndScene() override {
    STANDIN_FAULT("IDirect3DDevice7::EndScene");
    if (!inScene_) return D3DERR_SCENE_NOT_IN_SCENE;
    inScene_ = false;
    return D3D_OK;
  }

  HRESULT GetDirect3D(LPDIRECT3D7* d3d) override {
    if (d3d == nullptr) return DDERR_INVALIDPARAMS;
    d3d_->AddRef();
    *d3d = d3d_;
    return D3D_OK;
  }

  HRESULT SetRenderTarget(LPDIRECTDRAWSURFACE7 surface, DWORD flags) override {
    STANDIN_FAULT("IDirect3DDevice7::SetRenderTarget");
    auto* s = static_cast<Surface*>(surface);
    if (s == nullptr || flags != 0) return DDERR_INVALIDPARAMS;
    if (!(s->Caps() & DDSCAPS_3DDEVICE) || s->IsZBuffer()) return DDERR_INVALIDCAPS;
    FinishDrawing();  // the old target may be read (or used as a texture) next
    s->AddRef();
    target_->Release();
    target_ = s;
    viewport_ = D3DVIEWPORT7{0, 0, static_cast<DWORD>(s->Width()), static_cast<DWORD>(s->Height()),
                             0.0f, 1.0f};
    return D3D_OK;
  }

  HRESULT GetRenderTarget(LPDIRECTDRAWSURFACE7* surface) override {
    if (surface == nullptr) return DDERR_INVALIDPARAMS;
    target_->AddRef();
    *surface = target_;
    return D3D_OK;
  }

  HRESULT Clear(DWORD count, LPD3DRECT rects, DWORD flags, D3DCOLOR color, D3DVALUE z,
                DWORD stencil) override {
    STANDIN_FAULT("IDirect3DDevice7::Clear");
    (void)stencil;
    if (count > 0 && rects == nullptr) return DDERR_INVALIDPARAMS;
    if (flags == 0 || (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL))) {
      return DDERR_INVALIDPARAMS;
    }
    Surface* zb = target_->AttachedZBuffer();
    if ((flags & D3DCLEAR_ZBUFFER) && zb == nullptr) return D3DERR_ZBUFFER_NOTPRESENT;
    if ((flags & D3DCLEAR_STENCIL) &&
        (zb == nullptr || !(zb->Format().dwFlags & DDPF_STENCILBUFFER))) {
      return D3DERR_STENCILBUFFER_NOTPRESENT;
    }
    if (target_->Lost() || (zb != nullptr && zb->Lost())) return DDERR_SURFACELOST;
    if (target_->Busy() || (zb != nullptr && zb->Busy())) return DDERR_SURFACEBUSY;
    raster::Target t = MakeTarget();
    const D3DRECT whole{{static_cast<LONG>(viewport_.dwX)}, {static_cast<LONG>(viewport_.dwY)},
                        {static_cast<LONG>(viewport_.dwX + viewport_.dwWidth)},
                        {static_cast<LONG>(viewport_.dwY + viewport_.dwHeight)}};
    const DWORD n = count > 0 ? count : 1;
    for (DWORD i = 0; i < n; ++i) {
      const D3DRECT& r = count > 0 ? rects[i] : whole;
      // Rectangles are clipped to the viewport.
      const int x0 = std::max<LONG>(r.x1, whole.x1), y0 = std::max<LONG>(r.y1, whole.y1);
      const int x1 = std::min<LONG>(r.x2, whole.x2), y1 = std::min<LONG>(r.y2, whole.y2);
      if (x0 >= x1 || y0 >= y1) continue;
      const DrawnSize& d = target_->Drawn();
      const int dx0 = d.x.Edge(x0), dy0 = d.y.Edge(y0), dx1 = d.x.Edge(x1), dy1 = d.y.Edge(y1);
      if (Queue() != nullptr) {
        queue_->Clear(t, dx0, dy0, dx1, dy1, (flags & D3DCLEAR_TARGET) != 0, color,
                      (flags & D3DCLEAR_ZBUFFER) != 0, z);
        continue;
      }
      if (flags & D3DCLEAR_TARGET) raster::FillColor(t, dx0, dy0, dx1, dy1, color);
      if (flags & D3DCLEAR_ZBUFFER) raster::FillDepth(t, dx0, dy0, dx1, dy1, z);
    }
    target_->Touch();
    if (zb != nullptr) zb->Touch();
    return D3D_OK;
  }

  HRESULT SetViewport(LPD3DVIEWPORT7 vp) override {
    STANDIN_FAULT("IDirect3DDevice7::SetViewport");
    if (vp == nullptr) return DDERR_INVALIDPARAMS;
    const uint64_t right = static_cast<uint64_t>(vp->dwX) + vp->dwWidth;
    const uint64_t bottom = static_cast<uint64_t>(vp->dwY) + vp->dwHeight;
    if (vp->dwWidth == 0 || vp->dwHeight == 0 || right > static_cast<uint64_t>(target_->Width()) ||
        bottom > static_cast<uint64_t>(target_->Height())) {
      return DDERR_INVALIDPARAMS;
    }
    if (!(vp->dvMinZ >= 0.0f && vp->dvMinZ <= 1.0f && vp->dvMaxZ >= 0.0f && vp->dvMaxZ <= 1.0f)) {
      return DDERR_INVALIDPARAMS;
    }
    viewport_ = *vp;
    return D3D_OK;
  }

  HRESULT GetViewport(LPD3DVIEWPORT7 vp) override {
    if (vp == nullptr) return DDERR_INVALIDPARAMS;
    *vp = viewport_;
    if (RecordingCalls()) {
      RecordResult("IDirect3DDevice7::GetViewport",
                   std::to_string(vp->dwX) + "," + std::to_string(vp->dwY) + " " + std::to_string(vp->dwWidth) + "x" +
                       std::to_string(vp->dwHeight) + " z " + std::to_string(vp->dvMinZ) + ".." +
                       std::to_string(vp->dvMaxZ));
    }
    return D3D_OK;
  }

  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
    STANDIN_FAULT("IDirect3DDevice7::SetRenderState");
    if (state <= 0 || static_cast<DWORD>(state) >= kMaxRenderState) return DDERR_INVALIDPARAMS;
    rs_[state] = value;
    return D3D_OK;
  }

  HRESULT GetRenderState(D3DRENDERSTATETYPE state, LPDWORD value) override {
    if (value == nullptr || state <= 0 || static_cast<DWORD>(state) >= kMaxRenderState) {
      return DDERR_INVALIDPARAMS;
    }
    *value = rs_[state];
    return D3D_OK;
  }

  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) override {
    STANDIN_FAULT("IDirect3DDevice7::SetTextureStageState");
    if (stage >= kMaxStages || state <= 0 || static_cast<DWORD>(state) >= kMaxStageState) {
      return DDERR_INVALIDPARAMS;
    }
    tss_[stage][state] = value;
    if (state == D3DTSS_ADDRESS) tss_[stage][D3DTSS_ADDRESSU] = tss_[stage][D3DTSS_ADDRESSV] = value;
    return D3D_OK;
  }

  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, LPDWORD value) override {
    if (value == nullptr || stage >= kMaxStages || state <= 0 ||
        static_cast<DWORD>(state) >= kMaxStageState) {
      return DDERR_INVALIDPARAMS;
    }
    *value = tss_[stage][state];
    return D3D_OK;
  }

  HRESULT GetTexture(DWORD stage, LPDIRECTDRAWSURFACE7* texture) override {
    if (texture == nullptr || stage >= kMaxStages) return DDERR_INVALIDPARAMS;
    if (textures_[stage] != nullptr) textures_[stage]->AddRef();
    *texture = textures_[stage];
    return D3D_OK;
  }

  HRESULT SetTexture(DWORD stage, LPDIRECTDRAWSURFACE7 texture) override {
    STANDIN_FAULT("IDirect3DDevice7::SetTexture");
    auto* s = static_cast<Surface*>(texture);
    if (stage >= kMaxStages) return DDERR_INVALIDPARAMS;
    if (s != nullptr && (!(s->Caps() & DDSCAPS_TEXTURE) || s->IsZBuffer())) {
      return DDERR_INVALIDPARAMS;
    }
    // The device holds a reference to each texture it has set.
    if (s != nullptr) s->AddRef();
    if (textures_[stage] != nullptr) textures_[stage]->Release();
    textures_[stage] = s;
    return D3D_OK;
  }

  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, LPVOID vertices, DWORD count,
                        DWORD flags) override {
    STANDIN_FAULT("IDirect3DDevice7::DrawPrimitive");
    (void)flags;
    // Pre-transformed vertices: position and rhw, diffuse, optional specular, one texture set.
    const DWORD base = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
    if ((fvf & ~D3DFVF_SPECULAR) != base) return D3DERR_INVALIDVERTEXTYPE;
    const size_t stride = (fvf & D3DFVF_SPECULAR) ? 32 : 28;
    if (type != D3DPT_TRIANGLELIST && type != D3DPT_TRIANGLESTRIP && type != D3DPT_TRIANGLEFAN) {
      return D3DERR_INVALIDPRIMITIVETYPE;
    }
    if (count == 0) return D3D_OK;
    if (vertices == nullptr) return DDERR_INVALIDPARAMS;
    Surface* zb = target_->AttachedZBuffer();
    if (target_->Lost() || (zb != nullptr && zb->Lost())) return DDERR_SURFACELOST;
    if (target_->Busy() || (zb != nullptr && zb->Busy())) return DDERR_SURFACEBUSY;

    // Gather the triangles as a list of 28-byte vertices.
    const auto* bytes = static_cast<const uint8_t*>(vertices);
    auto vertexAt = [&](size_t i) {
      raster::Vertex v;
      std::memcpy(&v, bytes + i * stride, 20);  // x, y, z, rhw, diffuse
      std::memcpy(&v.u, bytes + i * stride + stride - 8, 8);
      return v;
    };
    const raster::Vertex* list = nullptr;
    size_t listCount = 0;
    if (type == D3DPT_TRIANGLELIST && stride == sizeof(raster::Vertex)) {
      list = static_cast<const raster::Vertex*>(vertices);
      listCount = count - count % 3;
    } else {
      scratch_.clear();
      if (type == D3DPT_TRIANGLELIST) {
        for (size_t i = 0; i < count - count % 3; ++i) scratch_.push_back(vertexAt(i));
      } else {
        for (size_t i = 2; i < count; ++i) {
          if (type == D3DPT_TRIANGLEFAN) {
            scratch_.push_back(vertexAt(0));
            scratch_.push_back(vertexAt(i - 1));
          } else if (i % 2 == 0) {  // strips keep every triangle's winding
            scratch_.push_back(vertexAt(i - 2));
            scratch_.push_back(vertexAt(i - 1));
          } else {
            scratch_.push_back(vertexAt(i - 1));
            scratch_.push_back(vertexAt(i - 2));
          }
          scratch_.push_back(vertexAt(i));
        }
      }
      list = scratch_.data();
      listCount = scratch_.size();
    }
    const DrawnSize& drawn = target_->Drawn();
    if (drawn.Forced()) {
      if (list != scratch_.data()) scratch_.assign(list, list + listCount);
      for (raster::Vertex& v : scratch_) {
        v.x = drawn.x.Position(v.x);
        v.y = drawn.y.Position(v.y);
      }
      list = scratch_.data();
    }

    const raster::Target t = MakeTarget();
    const raster::State st = MakeState(zb != nullptr);
    raster::Texture tex;
    const raster::Texture* texture = nullptr;
    if (textures_[0] != nullptr && !textures_[0]->Lost()) {
      tex = textures_[0]->AsTexture();
      texture = &tex;
    }
    if (Queue() != nullptr) {
      queue_->Draw(t, st, texture, list, listCount, kernel_);
    } else {
      raster::DrawTriangleList(t, st, texture, list, listCount, nullptr, kernel_);
    }
    target_->Touch();
    if (zb != nullptr) zb->Touch();
    return D3D_OK;
  }

 private:
  ~Device() {
    FinishDrawing();
    if (threads_ > 1) dd_->RemovePending(this);
    queue_.reset();  // stops the worker threads
    for (Surface*& s : textures_) {
      if (s != nullptr) s->Release();
    }
    target_->Release();
    d3d_->Release();
  }

  // The drawing queue with several threads, made on first use; null with one.
  raster::TileQueue* Queue() {
    if (queue_ == nullptr && threads_ > 1) queue_ = std::make_unique<raster::TileQueue>(threads_);
    return queue_.get();
  }

  raster::Target MakeTarget() {
    raster::Target t = target_->ColorTarget();
    if (Surface* zb = target_->AttachedZBuffer()) {
      raster::DepthFormat df;
      if (ToDepthFormat(zb->Format(), &df)) {
        t.depth = zb->Pixels();
        t.depthPitch = zb->Pitch();
        t.depthFormat = df;
      }
    }
    return t;
  }

  raster::State MakeState(bool haveZBuffer) const {
    raster::State st;
    st.depthTest = haveZBuffer && rs_[D3DRENDERSTATE_ZENABLE] != D3DZB_FALSE;
    st.depthWrite = rs_[D3DRENDERSTATE_ZWRITEENABLE] != FALSE;
    const DWORD zf = rs_[D3DRENDERSTATE_ZFUNC];
    st.depthFunc = zf >= D3DCMP_NEVER && zf <= D3DCMP_ALWAYS ? static_cast<raster::Compare>(zf - 1)
                                                             : raster::Compare::LessEqual;
    switch (rs_[D3DRENDERSTATE_CULLMODE]) {
      case D3DCULL_NONE: st.cull = raster::Cull::None; break;
      case D3DCULL_CW: st.cull = raster::Cull::Clockwise; break;
      default: st.cull = raster::Cull::CounterClockwise; break;
    }
    st.clipping = rs_[D3DRENDERSTATE_CLIPPING] != FALSE;
    st.flatShade = rs_[D3DRENDERSTATE_SHADEMODE] == D3DSHADE_FLAT;
    st.colorOp = StageColorOp();
    st.magLinear = tss_[0][D3DTSS_MAGFILTER] != D3DTFG_POINT;
    st.minLinear = tss_[0][D3DTSS_MINFILTER] != D3DTFN_POINT;
    st.addressU = ToAddress(tss_[0][D3DTSS_ADDRESSU]);
    st.addressV = ToAddress(tss_[0][D3DTSS_ADDRESSV]);
    const DrawnSize& d = target_->Drawn();
    st.viewX = d.x.Edge(viewport_.dwX);
    st.viewY = d.y.Edge(viewport_.dwY);
    st.viewWidth = d.x.Edge(int64_t{viewport_.dwX} + viewport_.dwWidth) - st.viewX;
    st.viewHeight = d.y.Edge(int64_t{viewport_.dwY} + viewport_.dwHeight) - st.viewY;
    return st;
  }

  static raster::Address ToAddress(DWORD mode) {
    switch (mode) {
      case D3DTADDRESS_MIRROR: return raster::Address::Mirror;
      case D3DTADDRESS_CLAMP:
      case D3DTADDRESS_BORDER: return raster::Address::Clamp;
      default: return raster::Address::Wrap;
    }
  }

  // Stage 0's colour operation over the texture and the diffuse colour.
  raster::ColorOp StageColorOp() const {
    const DWORD op = tss_[0][D3DTSS_COLOROP];
    auto isTexture = [](DWORD arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE; };
    const bool a1 = isTexture(tss_[0][D3DTSS_COLORARG1]);
    const bool a2 = isTexture(tss_[0][D3DTSS_COLORARG2]);
    switch (op) {
      case D3DTOP_SELECTARG1: return a1 ? raster::ColorOp::Texture : raster::ColorOp::Diffuse;
      case D3DTOP_SELECTARG2: return a2 ? raster::ColorOp::Texture : raster::ColorOp::Diffuse;
      case D3DTOP_MODULATE:
      case D3DTOP_MODULATE2X:
      case D3DTOP_MODULATE4X:
      case D3DTOP_ADD: {
        if (a1 == a2) return a1 ? raster::ColorOp::Texture : raster::ColorOp::Diffuse;
        if (op == D3DTOP_MODULATE) return raster::ColorOp::Modulate;
        if (op == D3DTOP_MODULATE2X) return raster::ColorOp::Modulate2x;
        if (op == D3DTOP_MODULATE4X) return raster::ColorOp::Modulate4x;
        return raster::ColorOp::Add;
      }
      default: return raster::ColorOp::Diffuse;
    }
  }

  ULONG refs_ = 1;
  IDirect3D7* d3d_;
  DirectDraw* dd_;  // outlives the device: d3d_ holds a reference to it
  Surface* target_;
  const int threads_;
  const raster::Kernel kernel_;  // DEMO_KERNEL's choice
  std::unique_ptr<raster::TileQueue> queue_;
  Surface* textures_[kMaxStages] = {};
  DWORD rs_[kMaxRenderState] = {};
  DWORD tss_[kMaxStages][kMaxStageState] = {};
  D3DVIEWPORT7 viewport_;
  bool inScene_ = false;
  std::vector<raster::Vertex> scratch_;
};

// The Direct3D 7 interface of a DirectDraw object: one object with it, so
// AddRef and Release count on the DirectDraw object.
class Direct3D final : public IDirect3D7 {
 public:
  explicit Direct3D(DirectDraw* dd) : dd_(dd) {}

  HRESULT QueryInterface(REFIID riid, LPVOID* object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IDirect3D7) {
      AddRef();
      *object = static_cast<IDirect3D7*>(this);
      return S_OK;
    }
    return dd_->QueryInterface(riid, object);
  }
  ULONG AddRef() override { return dd_->AddRef(); }
  ULONG Release() override { return dd_->Release(); }

  HRESULT CreateDevice(REFCLSID guid, LPDIRECTDRAWSURFACE7 surface,
                       LPDIRECT3DDEVICE7* device) override {
    STANDIN_FAULT("IDirect3D7::CreateDevice");
    auto* s = static_cast<Surface*>(surface);
    if (device == nullptr || s == nullptr || !KnownDevice(guid)) return DDERR_INVALIDPARAMS;
    if (!(s->Caps() & DDSCAPS_3DDEVICE) || s->IsZBuffer()) return DDERR_INVALIDCAPS;
    raster::ColorFormat cf;
    if (!ToRasterFormat(s->Format(), &cf)) return DDERR_INVALIDPIXELFORMAT;
    if (s->Lost()) return DDERR_SURFACELOST;
    *device = new Device(this, dd_, s);
    return D3D_OK;
  }

  HRESULT EnumZBufferFormats(REFCLSID guid, LPD3DENUMPIXELFORMATSCALLBACK callback,
                             LPVOID context) override {
    STANDIN_FAULT("IDirect3D7::EnumZBufferFormats");
    if (callback == nullptr || !KnownDevice(guid)) return DDERR_INVALIDPARAMS;
    for (DDPIXELFORMAT f : DepthFormats()) {
      if (callback(&f, context) == D3DENUMRET_CANCEL) break;
    }
    return D3D_OK;
  }

  ~Direct3D() = default;  // with its DirectDraw object (DestroyDirect3D)

 private:
  DirectDraw* dd_;
};

}  // namespace

IDirect3D7* CreateDirect3D(DirectDraw* dd) { return new Direct3D(dd); }

void DestroyDirect3D(IDirect3D7* d3d) { delete static_cast<Direct3D*>(d3d); }

}  // namespace standin
