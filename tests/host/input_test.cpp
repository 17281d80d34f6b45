// DirectInput keyboard and mouse fed by desktop events.
#include <SDL_keyboard.h>
#include <SDL_scancode.h>
#include <dinput.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "standin/desktop.h"
#include "standin/faults.h"

namespace {

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool registered = false;
    if (!registered) {
      WNDCLASSEXA c{};
      c.cbSize = sizeof c;
      c.lpfnWndProc = PlainProc;
      c.lpszClassName = "InputTestClass";
      ASSERT_NE(RegisterClassExA(&c), 0);
      registered = true;
    }
    standin::ResetFaults();
    window_ = CreateWindowExA(WS_EX_TOPMOST, "InputTestClass", "in", WS_VISIBLE | WS_MAXIMIZE, 0,
                              0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    ASSERT_EQ(DirectInputCreateA(nullptr, 0x0700, &di_, nullptr), DI_OK);
    // As the demo sets them up.
    ASSERT_EQ(di_->CreateDevice(GUID_SysKeyboard, &keyboard_, nullptr), DI_OK);
    ASSERT_EQ(keyboard_->SetDataFormat(&c_dfDIKeyboard), DI_OK);
    ASSERT_EQ(keyboard_->SetCooperativeLevel(window_, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND), DI_OK);
    ASSERT_EQ(keyboard_->Acquire(), DI_OK);
    ASSERT_EQ(di_->CreateDevice(GUID_SysMouse, &mouse_, nullptr), DI_OK);
    ASSERT_EQ(mouse_->SetDataFormat(&c_dfDIMouse), DI_OK);
    ASSERT_EQ(mouse_->SetCooperativeLevel(window_, DISCL_EXCLUSIVE | DISCL_FOREGROUND), DI_OK);
    ASSERT_EQ(mouse_->SetEventNotification(nullptr), DI_OK);
    ASSERT_EQ(mouse_->Acquire(), DI_OK);
  }
  void TearDown() override {
    if (keyboard_ != nullptr) {
      EXPECT_EQ(keyboard_->Release(), 0u);
    }
    if (mouse_ != nullptr) {
      EXPECT_EQ(mouse_->Release(), 0u);
    }
    if (di_ != nullptr) {
      EXPECT_EQ(di_->Release(), 0u);
    }
    DestroyWindow(window_);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  std::vector<int> KeysDown() {
    BYTE keys[256];
    EXPECT_EQ(keyboard_->GetDeviceState(sizeof keys, keys), DI_OK);
    std::vector<int> down;
    for (int i = 0; i < 256; ++i)
      if (keys[i] & 0x80) down.push_back(i);
    return down;
  }

  DIMOUSESTATE ReadMouse() {
    DIMOUSESTATE s;
    std::memset(&s, 0x55, sizeof s);
    EXPECT_EQ(mouse_->GetDeviceState(sizeof s, &s), DI_OK);
    return s;
  }

  HWND window_ = nullptr;
  LPDIRECTINPUTA di_ = nullptr;
  LPDIRECTINPUTDEVICEA keyboard_ = nullptr;
  LPDIRECTINPUTDEVICEA mouse_ = nullptr;
};

TEST_F(InputTest, KeysReportTheirScanCodeSetOneCodes) {
  const std::map<int, int> expected = {
      {SDL_SCANCODE_ESCAPE, 0x01},  {SDL_SCANCODE_A, 0x1E},        {SDL_SCANCODE_Q, 0x10},
      {SDL_SCANCODE_Z, 0x2C},       {SDL_SCANCODE_1, 0x02},        {SDL_SCANCODE_0, 0x0B},
      {SDL_SCANCODE_RETURN, 0x1C},  {SDL_SCANCODE_SPACE, 0x39},    {SDL_SCANCODE_F1, 0x3B},
      {SDL_SCANCODE_F10, 0x44},     {SDL_SCANCODE_F11, 0x57},      {SDL_SCANCODE_F12, 0x58},
      {SDL_SCANCODE_UP, 0xC8},      {SDL_SCANCODE_DOWN, 0xD0},     {SDL_SCANCODE_LEFT, 0xCB},
      {SDL_SCANCODE_RIGHT, 0xCD},   {SDL_SCANCODE_HOME, 0xC7},     {SDL_SCANCODE_END, 0xCF},
      {SDL_SCANCODE_PAGEUP, 0xC9},  {SDL_SCANCODE_PAGEDOWN, 0xD1}, {SDL_SCANCODE_INSERT, 0xD2},
      {SDL_SCANCODE_DELETE, 0xD3},  {SDL_SCANCODE_KP_7, 0x47},     {SDL_SCANCODE_KP_8, 0x48},
      {SDL_SCANCODE_KP_2, 0x50},    {SDL_SCANCODE_KP_0, 0x52},     {SDL_SCANCODE_KP_PERIOD, 0x53},
      {SDL_SCANCODE_KP_ENTER, 0x9C}, {SDL_SCANCODE_KP_DIVIDE, 0xB5}, {SDL_SCANCODE_KP_MULTIPLY, 0x37},
      {SDL_SCANCODE_LCTRL, 0x1D},   {SDL_SCANCODE_RCTRL, 0x9D},    {SDL_SCANCODE_LSHIFT, 0x2A},
      {SDL_SCANCODE_RSHIFT, 0x36},  {SDL_SCANCODE_LALT, 0x38},     {SDL_SCANCODE_RALT, 0xB8},
      {SDL_SCANCODE_LGUI, 0xDB},    {SDL_SCANCODE_RGUI, 0xDC},     {SDL_SCANCODE_APPLICATION, 0xDD},
      {SDL_SCANCODE_PRINTSCREEN, 0xB7}, {SDL_SCANCODE_PAUSE, 0xC5},
  };
  for (const auto& [scancode, dik] : expected) {
    standin::SimulateKey(scancode, true);
    EXPECT_EQ(KeysDown(), std::vector<int>{dik}) << SDL_GetScancodeName(static_cast<SDL_Scancode>(scancode));
    standin::SimulateKey(scancode, false);
    EXPECT_TRUE(KeysDown().empty());
  }
  // Several keys at once, as with a modifier held.
  standin::SimulateKey(SDL_SCANCODE_LSHIFT, true);
  standin::SimulateKey(SDL_SCANCODE_ESCAPE, true);
  EXPECT_EQ(KeysDown(), (std::vector<int>{0x01, 0x2A}));
  standin::SimulateKey(SDL_SCANCODE_LSHIFT, false);
  standin::SimulateKey(SDL_SCANCODE_ESCAPE, false);
}

TEST_F(InputTest, EveryKeyboardKeyHasItsOwnCode) {
  // The keyboard page's keys up to Application, and the eight modifiers.
  std::vector<int> keys;
  for (int sc = SDL_SCANCODE_A; sc <= SDL_SCANCODE_APPLICATION; ++sc) keys.push_back(sc);
  for (int sc = SDL_SCANCODE_LCTRL; sc <= SDL_SCANCODE_RGUI; ++sc) keys.push_back(sc);
  std::map<int, int> owner;
  for (int sc : keys) {
    standin::SimulateKey(sc, true);
    std::vector<int> down = KeysDown();
    standin::SimulateKey(sc, false);
    ASSERT_EQ(down.size(), 1u) << "no code for " << SDL_GetScancodeName(static_cast<SDL_Scancode>(sc));
    // The ISO key beside Return sends the ANSI backslash's code, as on Windows.
    if (sc == SDL_SCANCODE_NONUSHASH) {
      EXPECT_EQ(down[0], 0x2B);
      continue;
    }
    EXPECT_TRUE(owner.emplace(down[0], sc).second)
        << SDL_GetScancodeName(static_cast<SDL_Scancode>(sc)) << " shares code " << down[0]
        << " with " << SDL_GetScancodeName(static_cast<SDL_Scancode>(owner[down[0]]));
  }
}

TEST_F(InputTest, ATapBetweenTwoReadsIsSeenOnce) {
  standin::SimulateKey(SDL_SCANCODE_ESCAPE, true);
  standin::SimulateKey(SDL_SCANCODE_ESCAPE, false);
  standin::SimulateMouseButton(1, true);
  standin::SimulateMouseButton(1, false);
  EXPECT_EQ(KeysDown(), std::vector<int>{DIK_ESCAPE});
  EXPECT_EQ(ReadMouse().rgbButtons[0], 0x80);
  EXPECT_TRUE(KeysDown().empty());
  EXPECT_EQ(ReadMouse().rgbButtons[0], 0x00);
}

TEST_F(InputTest, KeyPressesAreAlsoQueuedForTheForegroundWindow) {
  standin::SimulateKey(SDL_SCANCODE_ESCAPE, true);
  standin::SimulateKey(SDL_SCANCODE_ESCAPE, false);
  MSG m{};
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_KEYDOWN, WM_KEYUP, PM_REMOVE));
  EXPECT_EQ(m.hwnd, window_);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(m.wParam, static_cast<WPARAM>(VK_ESCAPE));
  EXPECT_EQ((m.lParam >> 16) & 0xFF, 0x01);  // scan code
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_KEYDOWN, WM_KEYUP, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_KEYUP));
}

TEST_F(InputTest, MouseReportsButtonsInDirectInputOrderAndMotionSinceTheLastRead) {
  standin::SimulateMouseButton(1, true);  // left
  standin::SimulateMouseButton(2, true);  // middle
  DIMOUSESTATE s = ReadMouse();
  EXPECT_EQ(s.rgbButtons[0], 0x80);
  EXPECT_EQ(s.rgbButtons[1], 0x00);
  EXPECT_EQ(s.rgbButtons[2], 0x80);
  EXPECT_EQ(s.rgbButtons[3], 0x00);
  standin::SimulateMouseButton(1, false);
  standin::SimulateMouseButton(2, false);
  standin::SimulateMouseButton(3, true);  // right
  standin::SimulateMouseButton(4, true);  // first extra
  standin::SimulateMouseButton(5, true);  // second extra: not in DIMOUSESTATE
  s = ReadMouse();
  EXPECT_EQ(s.rgbButtons[0], 0x00);
  EXPECT_EQ(s.rgbButtons[1], 0x80);
  EXPECT_EQ(s.rgbButtons[2], 0x00);
  EXPECT_EQ(s.rgbButtons[3], 0x80);
  standin::SimulateMouseButton(3, false);
  standin::SimulateMouseButton(4, false);
  standin::SimulateMouseButton(5, false);

  standin::SimulateMouseMotion(5, -3);
  standin::SimulateMouseMotion(2, 10);
  standin::SimulateMouseWheel(-2);
  s = ReadMouse();
  EXPECT_EQ(s.lX, 7);
  EXPECT_EQ(s.lY, 7);
  EXPECT_EQ(s.lZ, -240);
  s = ReadMouse();
  EXPECT_EQ(s.lX, 0);
  EXPECT_EQ(s.lY, 0);
  EXPECT_EQ(s.lZ, 0);
}

TEST_F(InputTest, ReadsFailAfterFocusLossUntilAcquiredAgain) {
  standin::SimulateKey(SDL_SCANCODE_ESCAPE, true);
  standin::SimulateFocusChange(window_, false);
  BYTE keys[256];
  std::memset(keys, 0x11, sizeof keys);
  DIMOUSESTATE mouse;
  std::memset(&mouse, 0x22, sizeof mouse);
  EXPECT_EQ(keyboard_->GetDeviceState(sizeof keys, keys), DIERR_INPUTLOST);
  EXPECT_EQ(mouse_->GetDeviceState(sizeof mouse, &mouse), DIERR_INPUTLOST);
  EXPECT_EQ(keyboard_->GetDeviceState(sizeof keys, keys), DIERR_NOTACQUIRED);
  EXPECT_EQ(mouse_->GetDeviceState(sizeof mouse, &mouse), DIERR_NOTACQUIRED);
  EXPECT_EQ(keys[1], 0x11);  // a failed read leaves the buffer alone
  EXPECT_EQ(mouse.rgbButtons[0], 0x22);
  // Not in the foreground: a foreground device cannot be acquired.
  EXPECT_EQ(keyboard_->Acquire(), DIERR_OTHERAPPHASPRIO);
  // Back in the foreground the devices stay unacquired until asked.
  standin::SimulateFocusChange(window_, true);
  EXPECT_EQ(keyboard_->GetDeviceState(sizeof keys, keys), DIERR_NOTACQUIRED);
  EXPECT_EQ(keyboard_->Acquire(), DI_OK);
  EXPECT_EQ(keyboard_->Acquire(), DI_NOEFFECT);
  EXPECT_EQ(mouse_->Acquire(), DI_OK);
  EXPECT_TRUE(KeysDown().empty());  // the key held when focus left is not stuck
  ReadMouse();
}

TEST_F(InputTest, GetDeviceStateChecksInWindowsOrder) {
  BYTE keys[256];
  EXPECT_EQ(keyboard_->GetDeviceState(100, keys), DIERR_INVALIDPARAM);  // wrong size
  EXPECT_EQ(keyboard_->GetDeviceState(256, nullptr), DIERR_INVALIDPARAM);
  standin::SimulateFocusChange(window_, false);
  // A null buffer is refused before the loss is reported; the loss before the size.
  EXPECT_EQ(keyboard_->GetDeviceState(256, nullptr), DIERR_INVALIDPARAM);
  EXPECT_EQ(keyboard_->GetDeviceState(100, keys), DIERR_INPUTLOST);
  EXPECT_EQ(keyboard_->GetDeviceState(100, keys), DIERR_NOTACQUIRED);
  // Set-up calls refuse bad arguments.
  EXPECT_EQ(keyboard_->SetDataFormat(&c_dfDIMouse), DIERR_INVALIDPARAM);
  EXPECT_EQ(keyboard_->SetCooperativeLevel(window_, DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE |
                                                        DISCL_FOREGROUND),
            DIERR_INVALIDPARAM);
  EXPECT_EQ(keyboard_->SetCooperativeLevel(reinterpret_cast<HWND>(0x1234),
                                           DISCL_NONEXCLUSIVE | DISCL_FOREGROUND),
            E_HANDLE);
  LPDIRECTINPUTDEVICEA other = nullptr;
  EXPECT_EQ(di_->CreateDevice(GUID_SysKeyboard, &other, reinterpret_cast<LPUNKNOWN>(di_)),
            DIERR_NOAGGREGATION);
  EXPECT_EQ(other, nullptr);
  LPDIRECTINPUTA di2 = nullptr;
  EXPECT_EQ(DirectInputCreateA(nullptr, 0x0800, &di2, nullptr), DIERR_OLDDIRECTINPUTVERSION);
}

TEST_F(InputTest, InjectedFaultsFailOneCallAndTouchNothing) {
  standin::InjectFault("IDirectInputDevice7::GetDeviceState", 1, DIERR_INPUTLOST);
  DIMOUSESTATE s;
  std::memset(&s, 0x33, sizeof s);
  standin::SimulateMouseMotion(4, 4);
  EXPECT_EQ(mouse_->GetDeviceState(sizeof s, &s), DIERR_INPUTLOST);
  EXPECT_EQ(s.lX, 0x33333333);
  // The motion is still there for the next read.
  EXPECT_EQ(ReadMouse().lX, 4);
}

}  // namespace
