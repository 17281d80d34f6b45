// The main window and its procedure, and the DirectInput wrapper, on the
// headless platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "3d/Renderer.h"
#include "DeviceTestSupport.h"
#include "DirectX/DirectInput.h"
#include "MainWindow.h"
#include "dinput/input_state.h"
#include "win32/desktop.h"

namespace {

using devtest::HookCalls;
using devtest::HookLines;

// Takes every queued message; returns their codes.
std::vector<UINT> DrainQueue(std::vector<MSG>* messages = nullptr) {
  std::vector<UINT> codes;
  MSG msg;
  while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
    codes.push_back(msg.message);
    if (messages) messages->push_back(msg);
  }
  return codes;
}

class MainWindow : public devtest::DeviceTest {
 protected:
  void SetUp() override {
    devtest::DeviceTest::SetUp();
    DrainQueue();
  }
};

TEST_F(MainWindow, FullscreenIsATopmostMaximisedWindowWithTheCaption) {
  HWND window = CreateMainWindow(0, SW_SHOWMINIMIZED, true, 123, 45);
  ASSERT_TRUE(IsWindow(window));
  standin::WindowView view;
  ASSERT_TRUE(standin::GetWindowView(window, &view));
  EXPECT_EQ(view.exStyle & WS_EX_TOPMOST, (DWORD)WS_EX_TOPMOST);
  EXPECT_EQ(view.style & 0x11000000u, 0x11000000u);
  // The caller's show command cannot leave it anything but maximised.
  EXPECT_TRUE(view.maximized);
  EXPECT_FALSE(view.minimized);
  EXPECT_TRUE(view.visible);
  EXPECT_TRUE(view.fullscreenForm);
  EXPECT_EQ(view.captionUtf8, "Brisolo - Wir kommen!");
  DestroyWindow(window);
  DrainQueue();
}

TEST_F(MainWindow, WindowedIsAnOverlappedWindowOfTheGivenOuterSize) {
  HWND window = CreateMainWindow(0, SW_SHOWNORMAL, false, 640, 480);
  standin::WindowView view;
  ASSERT_TRUE(standin::GetWindowView(window, &view));
  EXPECT_EQ(view.style & WS_OVERLAPPEDWINDOW, (DWORD)WS_OVERLAPPEDWINDOW);
  EXPECT_EQ(view.exStyle & WS_EX_TOPMOST, 0u);
  EXPECT_EQ(view.outer.left, 0);
  EXPECT_EQ(view.outer.top, 0);
  EXPECT_EQ(view.outer.right, 640);
  EXPECT_EQ(view.outer.bottom, 480);
  EXPECT_FALSE(view.maximized);
  DestroyWindow(window);
  DrainQueue();
}

TEST_F(MainWindow, EscapeBecomesACloseAndTheCloseAQuitWithCodeZero) {
  HWND window = CreateMainWindow(0, SW_SHOWNORMAL, false, 320, 200);
  DrainQueue();
  // Any other key only gets the default handling.
  WndProc(window, WM_KEYDOWN, 'A', 0);
  EXPECT_TRUE(DrainQueue().empty());
  EXPECT_TRUE(IsWindow(window));

  WndProc(window, WM_KEYDOWN, VK_ESCAPE, 0);
  std::vector<MSG> posted;
  ASSERT_EQ(DrainQueue(&posted), (std::vector<UINT>{WM_CLOSE}));
  EXPECT_EQ(posted[0].hwnd, window);
  EXPECT_EQ(posted[0].wParam, 0u);

  WindowClosed = 0;
  EXPECT_EQ(WndProc(window, WM_CLOSE, 0, 0), 0);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(WindowClosed, 1);
  posted.clear();
  std::vector<UINT> codes = DrainQueue(&posted);
  ASSERT_FALSE(codes.empty());
  for (const MSG& m : posted) {
    EXPECT_EQ(m.message, (UINT)WM_QUIT);
    EXPECT_EQ(m.wParam, 0u);
  }
  WindowClosed = 0;
}

TEST_F(MainWindow, CreateAnswersZeroAndCloseFromTheDesktopEndsLikeEscape) {
  HWND window = CreateMainWindow(0, SW_SHOWNORMAL, false, 320, 200);
  EXPECT_EQ(WndProc(window, WM_CREATE, 0, 0), 0);
  WindowClosed = 0;
  standin::DesktopCloseRequested(window);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(WindowClosed, 1);
  std::vector<UINT> codes = DrainQueue();
  EXPECT_NE(std::find(codes.begin(), codes.end(), (UINT)WM_QUIT), codes.end());
  WindowClosed = 0;
}

// ---------------------------------------------------------------------------
// Input.

class Input : public devtest::DeviceTest {
 protected:
  void SetUp() override {
    devtest::DeviceTest::SetUp();
    window = CreateMainWindow(0, SW_SHOWNORMAL, false, 320, 200);
  }
  void TearDown() override {
    delete input;
    for (int i = 0; i < 4; i++) standin::InputMouseButton(i, false);
    standin::InputKey(DIK_ESCAPE, false);
    DestroyWindow(window);
    DrainQueue();
    devtest::DeviceTest::TearDown();
  }
  HWND window = 0;
  cDirectInput* input = 0;
};

TEST_F(Input, KeyboardAndMouseReadTheDesktopState) {
  input = new cDirectInput(0, window, true);
  EXPECT_TRUE(HookCalls().empty()) << HookLines().size();
  ASSERT_TRUE(input->Keyboard && input->Mouse && input->DirectInput);

  BYTE keys[256] = {};
  standin::InputKey(DIK_ESCAPE, true);
  input->ReadKeyboard(keys);
  EXPECT_EQ(keys[DIK_ESCAPE] & 0x80, 0x80);
  standin::InputKey(DIK_ESCAPE, false);
  input->ReadKeyboard(keys);
  EXPECT_EQ(keys[DIK_ESCAPE], 0);

  standin::InputMouseButton(0, true);
  standin::InputMouseButton(2, true);
  standin::InputMouseMotion(5, -3);
  input->ReadMouse();
  EXPECT_EQ(std::vector<BYTE>(input->MouseButton, input->MouseButton + 4),
            (std::vector<BYTE>{1, 0, 1, 0}));
  EXPECT_EQ(input->MouseX, 5);
  EXPECT_EQ(input->MouseY, -3);
  EXPECT_TRUE(HookCalls().empty());
}

TEST_F(Input, AFailedMouseReadReportsLine48OfTheHeaderAndCopiesTheRecord) {
  input = new cDirectInput(0, window, true);
  standin::InputMouseButton(1, true);
  input->ReadMouse();
  ASSERT_EQ(input->MouseButton[1], 1);
  standin::InputMouseButton(1, false);
  standin::InjectFault("IDirectInputDevice7::GetDeviceState", 1, DIERR_INPUTLOST);
  input->ReadMouse();
  ASSERT_EQ(HookCalls().size(), 1u);
  EXPECT_EQ(HookCalls()[0].line, 48);
  EXPECT_EQ(HookCalls()[0].file, "DirectX/DirectInput.h");
  EXPECT_EQ(input->LastResult, DIERR_INPUTLOST);
  // Filled from the record all the same: it still holds the previous read.
  EXPECT_EQ(input->MouseButton[1], 1);
}

TEST_F(Input, WithoutTheMouseOnlyTheKeyboardIsMadeAndReleased) {
  input = new cDirectInput(0, window, false);
  EXPECT_EQ(input->Mouse, (LPDIRECTINPUTDEVICEA)NULL);
  EXPECT_EQ(standin::CallCount("IDirectInput7::CreateDevice"), 1);
  input->ReadMouse();  // nothing to read through
  EXPECT_EQ(standin::CallCount("IDirectInputDevice7::GetDeviceState"), 1);  // the first keyboard read
  delete input;
  input = 0;
  EXPECT_EQ(standin::CallCount("IDirectInputDevice7::Unacquire"), 1);
}

TEST_F(Input, FocusLossLeavesTheDevicesUnacquiredForGood) {
  input = new cDirectInput(0, window, true);
  HWND other = CreateMainWindow(0, SW_SHOWNORMAL, false, 100, 100);
  standin::DesktopFocusChanged(window, false);
  standin::DesktopFocusChanged(other, true);
  standin::InputMouseButton(0, true);
  input->ReadMouse();
  input->ReadMouse();
  EXPECT_EQ(HookLines(), (std::vector<int>{48, 48}));
  EXPECT_EQ(input->MouseButton[0], 0);
  standin::DesktopFocusChanged(window, true);
  input->ReadMouse();  // never acquired again
  EXPECT_EQ(HookLines().size(), 3u);
  DestroyWindow(other);
}

struct InputSite {
  const char* operation;
  int nth;
  int line;
};

class InputSites : public Input, public testing::WithParamInterface<InputSite> {};

TEST_P(InputSites, AFailingCallReportsOnceAndTheConstructorGoesOn) {
  const InputSite& site = GetParam();
  standin::InjectFault(site.operation, site.nth, DIERR_GENERIC);
  input = new cDirectInput(0, window, true);
  ASSERT_FALSE(HookCalls().empty());
  EXPECT_EQ(HookCalls()[0].line, site.line);
  EXPECT_EQ(HookCalls()[0].file, "DirectX/DirectInput.cpp");
  EXPECT_EQ(HookCalls()[0].object, input);
  // A consequence may follow (a device that could not be acquired cannot be
  // read), but this call reports once.
  int same = 0;
  for (int line : HookLines()) same += line == site.line;
  EXPECT_EQ(same, 1);
  // Reads after a failed construction reach no missing device.
  BYTE keys[256];
  input->ReadKeyboard(keys);
  input->ReadMouse();
}

const InputSite kInputSites[] = {
    {"DirectInputCreateA", 1, 30},
    {"IDirectInput7::CreateDevice", 1, 31},
    {"IDirectInputDevice7::SetDataFormat", 1, 32},
    {"IDirectInputDevice7::SetCooperativeLevel", 1, 33},
    {"IDirectInputDevice7::Acquire", 1, 35},
    {"IDirectInputDevice7::GetDeviceState", 1, 36},
    {"IDirectInput7::CreateDevice", 2, 41},
    {"IDirectInputDevice7::SetDataFormat", 2, 42},
    {"IDirectInputDevice7::SetCooperativeLevel", 2, 43},
    {"IDirectInputDevice7::SetEventNotification", 1, 44},
    {"IDirectInputDevice7::Acquire", 2, 45},
};

INSTANTIATE_TEST_SUITE_P(EverySite, InputSites, testing::ValuesIn(kInputSites),
                         [](const testing::TestParamInfo<InputSite>& info) {
                           return "line_" + std::to_string(info.param.line);
                         });

}  // namespace
