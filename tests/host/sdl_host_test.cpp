// The SDL host: where the picture lands, and the SDL path run headless.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "standin/desktop.h"
#include "standin/host.h"

namespace {

void ExpectFit(int sw, int sh, int dw, int dh, standin::FitRect expected) {
  standin::FitRect r = standin::FitWithAspect(sw, sh, dw, dh);
  EXPECT_EQ(r.x, expected.x) << sw << "x" << sh << " in " << dw << "x" << dh;
  EXPECT_EQ(r.y, expected.y) << sw << "x" << sh << " in " << dw << "x" << dh;
  EXPECT_EQ(r.width, expected.width) << sw << "x" << sh << " in " << dw << "x" << dh;
  EXPECT_EQ(r.height, expected.height) << sw << "x" << sh << " in " << dw << "x" << dh;
}

TEST(SdlHost, PictureIsScaledWithItsAspectKeptAndCentred) {
  ExpectFit(800, 600, 800, 600, {0, 0, 800, 600});
  ExpectFit(800, 600, 1280, 1024, {0, 32, 1280, 960});    // bars above and below
  ExpectFit(800, 600, 1920, 1080, {240, 0, 1440, 1080});  // bars left and right
  ExpectFit(800, 600, 1366, 768, {171, 0, 1024, 768});    // odd space: offset rounds down
  ExpectFit(800, 600, 1001, 1000, {0, 124, 1001, 751});   // 750.75 rounds to 751
  ExpectFit(800, 600, 0, 600, {0, 0, 0, 0});
  ExpectFit(0, 600, 800, 600, {0, 0, 0, 0});
}

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

// Registers the class and makes the demo's kind of window: topmost and
// maximised. Null if either step fails.
HWND MakeFullscreenWindow(const char* className) {
  WNDCLASSEXA c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = Proc;
  c.lpszClassName = className;
  if (RegisterClassExA(&c) == 0) return nullptr;
  return CreateWindowExA(WS_EX_TOPMOST, className, "Brisolo - Wir kommen!",
                         WS_VISIBLE | WS_MAXIMIZE, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

// An 800 x 600 RGB565 picture over the given pixels.
standin::Picture ModePicture(std::vector<uint16_t>& pixels) {
  pixels.resize(800 * 600);
  standin::Picture picture;
  picture.pixels = pixels.data();
  picture.width = 800;
  picture.height = 600;
  picture.pitch = 800 * 2;
  return picture;
}

TEST(SdlHost, RunsTheWholeWindowPathOnSdlsDummyDisplay) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  standin::InstallSdlHost();
  EXPECT_NE(&standin::CurrentHost(), &standin::DefaultHeadlessHost());
  HWND full = MakeFullscreenWindow("SdlHostClass");
  ASSERT_NE(full, nullptr);
  // Maximised before a display mode: the desktop of the dummy display.
  RECT r{};
  ASSERT_TRUE(GetClientRect(full, &r));
  EXPECT_GT(r.right, 0);
  EXPECT_GT(r.bottom, 0);
  standin::CurrentHost().SetDisplayMode(800, 600, 16);
  ASSERT_TRUE(GetClientRect(full, &r));
  EXPECT_EQ(r.right, 800);
  EXPECT_EQ(r.bottom, 600);

  std::vector<uint16_t> pixels(800 * 600, 0xF800);
  standin::Picture picture = ModePicture(pixels);
  for (int i = 0; i < 3; ++i) standin::CurrentHost().Present(nullptr, picture, true);

  // A windowed picture of another size and format into an overlapped window.
  HWND framed = CreateWindowExA(0, "SdlHostClass", "framed", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                0, 328, 267, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(framed, nullptr);
  std::vector<uint32_t> xrgb(320 * 240, 0x00FF00);
  picture.pixels = xrgb.data();
  picture.width = 320;
  picture.height = 240;
  picture.pitch = 320 * 4;
  picture.format = standin::PixelFormat::XRGB8888;
  standin::CurrentHost().Present(framed, picture, false);
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE) && m.message != WM_PAINT) {
  }
  EXPECT_TRUE(IsWindow(framed));
  DestroyWindow(framed);
  DestroyWindow(full);
  standin::CurrentHost().Present(nullptr, picture, false);  // no window left: nothing to show
  standin::UninstallSdlHost();
  EXPECT_EQ(&standin::CurrentHost(), &standin::DefaultHeadlessHost());
  unsetenv("SDL_VIDEODRIVER");
}

// SDL falls back to its invisible offscreen driver when the display cannot be
// reached; the program must say so and run without a window instead of
// playing unseen.
TEST(SdlHost, AnUnreachableDisplayIsReportedAndTheProgramRunsWithoutAWindow) {
  const char* oldDisplay = std::getenv("DISPLAY");
  const std::string savedDisplay = oldDisplay != nullptr ? oldDisplay : "";
  unsetenv("SDL_VIDEODRIVER");
  unsetenv("WAYLAND_DISPLAY");
  setenv("DISPLAY", ":4242", 1);

  testing::internal::CaptureStderr();
  standin::InstallSdlHost();
  HWND full = MakeFullscreenWindow("SdlHostNoDisplay");
  ASSERT_NE(full, nullptr);
  standin::CurrentHost().SetDisplayMode(800, 600, 16);
  std::vector<uint16_t> pixels(800 * 600, 0x07E0);
  const standin::Picture picture = ModePicture(pixels);
  for (int i = 0; i < 3; ++i) standin::CurrentHost().Present(nullptr, picture, true);
  RECT r{};
  EXPECT_TRUE(GetClientRect(full, &r));
  EXPECT_EQ(r.right, 800);
  EXPECT_EQ(r.bottom, 600);
  DestroyWindow(full);
  standin::UninstallSdlHost();
  const std::string err = testing::internal::GetCapturedStderr();

  const std::string expected =
      "display: none available (cannot connect to the display :4242); running without a window\n";
  const size_t at = err.find(expected);
  EXPECT_NE(at, std::string::npos) << err;
  EXPECT_EQ(err.find(expected, at + 1), std::string::npos) << "said more than once:\n" << err;

  if (oldDisplay != nullptr) {
    setenv("DISPLAY", savedDisplay.c_str(), 1);
  } else {
    unsetenv("DISPLAY");
  }
}

}  // namespace
