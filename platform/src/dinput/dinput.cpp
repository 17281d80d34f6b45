// DirectInput 7: the system keyboard and mouse, polled.
//
// There is one key state and one mouse button state for the whole process, fed
// by the desktop back end. Each mouse device collects its own motion while
// acquired and hands it out (and clears it) with each read. Devices are used
// from the thread that owns the windows, as the program does.
#include <dinput.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "dinput/input_state.h"
#include "standin/faults.h"
#include "win32/desktop.h"

extern "C" {
const GUID GUID_SysMouse = {0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_SysKeyboard = {0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const DIDATAFORMAT c_dfDIKeyboard = {24, 16, DIDF_RELAXIS, 256, 0, nullptr};
const DIDATAFORMAT c_dfDIMouse = {24, 16, DIDF_RELAXIS, sizeof(DIMOUSESTATE), 0, nullptr};
}

namespace standin {
namespace {

constexpr DWORD kHighestVersion = 0x0700;
constexpr BYTE kDown = 0x80;

enum class Kind { Keyboard, Mouse };

class Device;

// A key or button state that no read has seen yet stays down until one has:
// a tap shorter than a frame (both events arrive in one pump) is still seen
// once, as a held key would be.
template <size_t N>
struct Latched {
  BYTE state[N] = {};
  bool seen[N] = {};     // a read reported it down
  bool release[N] = {};  // released before any read saw it

  void Set(size_t i, bool down) {
    if (down) {
      state[i] = kDown;
      seen[i] = release[i] = false;
    } else if (state[i] != 0 && !seen[i]) {
      release[i] = true;
    } else {
      state[i] = 0;
    }
  }
  // After a read has copied `state`.
  void Observed() {
    for (size_t i = 0; i < N; ++i) {
      if (state[i] != 0) seen[i] = true;
      if (release[i]) state[i] = 0, release[i] = false;
    }
  }
  void Clear() { *this = Latched{}; }
};

struct InputState {
  Latched<256> keys;
  Latched<4> buttons;
  std::vector<Device*> devices;
};

InputState& input() {
  static InputState s;
  return s;
}

class Device final : public IDirectInputDeviceA {
 public:
  explicit Device(Kind kind) : kind_(kind) { input().devices.push_back(this); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, LPVOID* object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) {
      Drop(false);
      auto& list = input().devices;
      list.erase(std::remove(list.begin(), list.end(), this), list.end());
      delete this;
    }
    return left;
  }

  HRESULT STDMETHODCALLTYPE Acquire() override {
    STANDIN_FAULT("IDirectInputDevice7::Acquire");
    PumpDesktopEvents();
    if (format_ == nullptr) return DIERR_INVALIDPARAM;
    if (acquired_) return DI_NOEFFECT;
    if (Foreground() && window_ != GetForegroundWindow()) return DIERR_OTHERAPPHASPRIO;
    if (kind_ == Kind::Mouse && Exclusive()) {
      for (Device* other : input().devices) {
        if (other != this && other->kind_ == Kind::Mouse && other->acquired_ && other->Exclusive())
          return DIERR_OTHERAPPHASPRIO;
      }
    }
    acquired_ = true;
    lost_ = false;
    dx_ = dy_ = dz_ = 0;
    if (CapturesMouse()) SetMouseCaptured(window_, true);
    return DI_OK;
  }

  HRESULT STDMETHODCALLTYPE Unacquire() override {
    STANDIN_FAULT("IDirectInputDevice7::Unacquire");
    if (!acquired_) return DI_NOEFFECT;
    Drop(false);
    return DI_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDeviceState(DWORD size, LPVOID data) override {
    STANDIN_FAULT("IDirectInputDevice7::GetDeviceState");
    PumpDesktopEvents();
    if (data == nullptr) return DIERR_INVALIDPARAM;
    if (lost_) {
      lost_ = false;  // reported once; then the device is merely not acquired
      return DIERR_INPUTLOST;
    }
    if (!acquired_) return DIERR_NOTACQUIRED;
    if (format_ == nullptr || size != format_->dwDataSize) return DIERR_INVALIDPARAM;
    if (kind_ == Kind::Keyboard) {
      std::memcpy(data, input().keys.state, sizeof input().keys.state);
      input().keys.Observed();
    } else {
      DIMOUSESTATE state{};
      state.lX = dx_;
      state.lY = dy_;
      state.lZ = dz_;
      std::memcpy(state.rgbButtons, input().buttons.state, sizeof state.rgbButtons);
      std::memcpy(data, &state, sizeof state);
      input().buttons.Observed();
      dx_ = dy_ = dz_ = 0;
    }
    return DI_OK;
  }

  HRESULT STDMETHODCALLTYPE SetDataFormat(LPCDIDATAFORMAT format) override {
    STANDIN_FAULT("IDirectInputDevice7::SetDataFormat");
    if (format == nullptr) return DIERR_INVALIDPARAM;
    if (acquired_) return DIERR_ACQUIRED;
    const DIDATAFORMAT& expected = kind_ == Kind::Keyboard ? c_dfDIKeyboard : c_dfDIMouse;
    if (format->dwDataSize != expected.dwDataSize) return DIERR_INVALIDPARAM;
    format_ = &expected;
    return DI_OK;
  }

  HRESULT STDMETHODCALLTYPE SetEventNotification(HANDLE event) override {
    STANDIN_FAULT("IDirectInputDevice7::SetEventNotification");
    if (acquired_) return DIERR_ACQUIRED;
    // Devices here are polled only; there are no event objects to signal.
    return event == nullptr ? DI_OK : DIERR_UNSUPPORTED;
  }

  HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND window, DWORD flags) override {
    STANDIN_FAULT("IDirectInputDevice7::SetCooperativeLevel");
    const bool exclusive = (flags & DISCL_EXCLUSIVE) != 0;
    const bool nonExclusive = (flags & DISCL_NONEXCLUSIVE) != 0;
    const bool foreground = (flags & DISCL_FOREGROUND) != 0;
    const bool background = (flags & DISCL_BACKGROUND) != 0;
    if (exclusive == nonExclusive || foreground == background) return DIERR_INVALIDPARAM;
    // The keyboard cannot be held exclusively in the background.
    if (kind_ == Kind::Keyboard && exclusive && background) return DIERR_UNSUPPORTED;
    if (!IsWindow(window)) return E_HANDLE;
    if (acquired_) return DIERR_ACQUIRED;
    window_ = window;
    flags_ = flags;
    return DI_OK;
  }

  // The window `foreground` took the foreground (null: none of ours has it).
  void ForegroundChanged(HWND foreground) {
    if (acquired_ && Foreground() && window_ != foreground) Drop(true);
  }

  void AddMotion(int dx, int dy, int dz) {
    if (kind_ != Kind::Mouse || !acquired_) return;
    dx_ += dx;
    dy_ += dy;
    dz_ += dz;
  }

 private:
  bool Foreground() const { return (flags_ & DISCL_FOREGROUND) != 0; }
  bool Exclusive() const { return (flags_ & DISCL_EXCLUSIVE) != 0; }
  bool CapturesMouse() const { return kind_ == Kind::Mouse && Exclusive() && Foreground(); }

  void Drop(bool lost) {
    if (!acquired_) return;
    acquired_ = false;
    lost_ = lost;
    dx_ = dy_ = dz_ = 0;
    if (CapturesMouse()) SetMouseCaptured(window_, false);
  }

  Kind kind_;
  ULONG refs_ = 1;
  const DIDATAFORMAT* format_ = nullptr;
  HWND window_ = nullptr;
  DWORD flags_ = DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;
  bool acquired_ = false;
  bool lost_ = false;
  LONG dx_ = 0, dy_ = 0, dz_ = 0;
};

class DirectInput final : public IDirectInputA {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, LPVOID* object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICEA* device,
                                         LPUNKNOWN outer) override {
    STANDIN_FAULT("IDirectInput7::CreateDevice");
    if (device == nullptr) return DIERR_INVALIDPARAM;
    *device = nullptr;
    if (outer != nullptr) return DIERR_NOAGGREGATION;
    if (guid == GUID_SysKeyboard) *device = new Device(Kind::Keyboard);
    else if (guid == GUID_SysMouse) *device = new Device(Kind::Mouse);
    else return DIERR_DEVICENOTREG;
    return DI_OK;
  }

 private:
  ULONG refs_ = 1;
};

}  // namespace

void InputForegroundChanged(HWND foreground) {
  InputState& s = input();
  // Keys and buttons held when the focus left are released as far as the
  // program can tell: the desktop sends no key-up to a window without focus.
  if (foreground == nullptr) {
    s.keys.Clear();
    s.buttons.Clear();
  }
  std::vector<Device*> devices = s.devices;
  for (Device* d : devices) d->ForegroundChanged(foreground);
}

void InputKey(BYTE dik, bool down) {
  if (dik != 0) input().keys.Set(dik, down);
}

void InputMouseMotion(int dx, int dy) {
  for (Device* d : input().devices) d->AddMotion(dx, dy, 0);
}

void InputMouseWheel(int delta) {
  for (Device* d : input().devices) d->AddMotion(0, 0, delta);
}

void InputMouseButton(int index, bool down) {
  if (index >= 0 && index < 4) input().buttons.Set(static_cast<size_t>(index), down);
}

}  // namespace standin

extern "C" HRESULT WINAPI DirectInputCreateA(HINSTANCE, DWORD version,
                                             LPDIRECTINPUTA* directInput, LPUNKNOWN outer) {
  STANDIN_FAULT("DirectInputCreateA");
  if (directInput == nullptr) return DIERR_INVALIDPARAM;
  *directInput = nullptr;
  if (outer != nullptr) return DIERR_NOAGGREGATION;
  if (version == 0) return DIERR_INVALIDPARAM;
  if (version > standin::kHighestVersion) return DIERR_OLDDIRECTINPUTVERSION;
  *directInput = new standin::DirectInput();
  return DI_OK;
}
