// The SDL host: where the picture lands, and the SDL path run headless.
#include <SDL_scancode.h>
#include <SDL_video.h>
#include <dinput.h>
#include <gtest/gtest.h>
#include <png.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "sdlhost/screenshot.h"
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

TEST(SdlHost, IntegerAndStretchScalingPlaceThePicture) {
  using standin::Scaling;
  struct Case {
    Scaling scaling;
    int dw, dh;
    standin::FitRect expected;
  } cases[] = {
      {Scaling::Integer, 1920, 1080, {560, 240, 800, 600}},   // 1x: 2x would not fit in height
      {Scaling::Integer, 1700, 1300, {50, 50, 1600, 1200}},   // 2x
      {Scaling::Integer, 1601, 1201, {0, 0, 1600, 1200}},     // odd space: offset rounds down
      {Scaling::Integer, 640, 480, {0, 0, 640, 480}},         // below 1x: fit instead
      {Scaling::Stretch, 1366, 768, {0, 0, 1366, 768}},
      {Scaling::Fit, 1280, 1024, {0, 32, 1280, 960}},
      {Scaling::Stretch, 0, 768, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    standin::FitRect r = standin::PlacePicture(c.scaling, 800, 600, c.dw, c.dh);
    EXPECT_EQ(r.x, c.expected.x) << c.dw << "x" << c.dh;
    EXPECT_EQ(r.y, c.expected.y) << c.dw << "x" << c.dh;
    EXPECT_EQ(r.width, c.expected.width) << c.dw << "x" << c.dh;
    EXPECT_EQ(r.height, c.expected.height) << c.dw << "x" << c.dh;
  }
}

TEST(SdlHost, PicturesFolderFollowsTheXdgUserDirsRules) {
  const std::string dirs =
      "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
  struct Case {
    const char* env;
    const char* home;
    std::string file;
    const char* expected;
  } cases[] = {
      {"/srv/shots", "/home/u", dirs, "/srv/shots"},  // the variable wins
      {nullptr, "/home/u", dirs, "/home/u/Bilder"},
      {"", "/home/u", "XDG_PICTURES_DIR=\"/data/pics\"\n", "/data/pics"},
      {nullptr, "/home/u", "XDG_PICTURES_DIR=\"$HOME/\"\n", ""},         // $HOME itself: none
      {nullptr, "/home/u", "XDG_PICTURES_DIR=\"relative/pics\"\n", ""},  // not allowed
      {nullptr, "/home/u", "XDG_PICTURES_DIR=\"$HOME/unclosed\n", ""},
      {nullptr, nullptr, dirs, ""},
      {nullptr, "/home/u", "", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(standin::PicturesFolder(c.env, c.home, c.file), c.expected) << c.file;
}

std::vector<UINT> g_sent;  // messages the window procedure received

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  g_sent.push_back(message);
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
  // A forced resolution's "native": where the fullscreen view puts the
  // mode's picture on the (dummy) desktop. The headless host knows none.
  int shownW = 0, shownH = 0;
  ASSERT_TRUE(standin::CurrentHost().ShownSize(800, 600, &shownW, &shownH));
  SDL_DisplayMode desktop;
  ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
  const standin::FitRect fit = standin::FitWithAspect(800, 600, desktop.w, desktop.h);
  EXPECT_EQ(shownW, fit.width);
  EXPECT_EQ(shownH, fit.height);
  EXPECT_FALSE(standin::DefaultHeadlessHost().ShownSize(800, 600, &shownW, &shownH));

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

// Alt+Enter and F12 belong to the host: the window changes form or the picture
// is saved, and the program's window procedure, queue and DirectInput
// keyboard learn nothing of either key.
TEST(SdlHost, AltEnterAndF12AreKeptFromTheProgram) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  const std::filesystem::path shots = std::filesystem::temp_directory_path() / "sdlhost-shots";
  std::filesystem::remove_all(shots);
  std::filesystem::create_directories(shots);
  setenv("XDG_PICTURES_DIR", shots.c_str(), 1);
  standin::InstallSdlHost();
  HWND full = MakeFullscreenWindow("SdlHostKeys");
  ASSERT_NE(full, nullptr);
  standin::CurrentHost().SetDisplayMode(800, 600, 16);
  std::vector<uint16_t> pixels(800 * 600);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint16_t>(i * 2654435761u >> 7);
  const standin::Picture picture = ModePicture(pixels);
  standin::CurrentHost().Present(nullptr, picture, false);
  ASSERT_TRUE(standin::PresentedFullscreen(full));

  LPDIRECTINPUTA input = nullptr;
  LPDIRECTINPUTDEVICEA keyboard = nullptr;
  ASSERT_EQ(DirectInputCreateA(nullptr, 0x0700, &input, nullptr), DI_OK);
  ASSERT_EQ(input->CreateDevice(GUID_SysKeyboard, &keyboard, nullptr), DI_OK);
  keyboard->SetDataFormat(&c_dfDIKeyboard);
  keyboard->SetCooperativeLevel(full, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND);
  ASSERT_EQ(keyboard->Acquire(), DI_OK);
  // The posted messages up to the first WM_PAINT (which comes only once the
  // queue is empty, and again until painted).
  std::set<WPARAM> queued;
  auto drain = [&queued] {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE) && m.message != WM_PAINT) queued.insert(m.wParam);
  };
  drain();
  queued.clear();
  g_sent.clear();

  BYTE keys[256];
  auto press = [&](int scancode) {
    standin::SimulateKey(scancode, true);
    ASSERT_EQ(keyboard->GetDeviceState(sizeof keys, keys), DI_OK);
    EXPECT_EQ(keys[DIK_RETURN] | keys[DIK_F12], 0) << "scan code " << scancode;
    standin::SimulateKey(scancode, false);
    standin::CurrentHost().Present(nullptr, picture, false);
    drain();
  };
  for (bool expectFullscreen : {false, true}) {
    standin::SimulateKey(SDL_SCANCODE_LALT, true);
    press(SDL_SCANCODE_RETURN);
    standin::SimulateKey(SDL_SCANCODE_LALT, false);
    EXPECT_EQ(standin::PresentedFullscreen(full), expectFullscreen);
    RECT r{};
    GetClientRect(full, &r);
    EXPECT_EQ(r.right, 800);
    EXPECT_EQ(r.bottom, 600);
  }
  press(SDL_SCANCODE_F12);
  // A key taken while Alt was down is taken up too, whatever Alt did since.
  standin::SimulateKey(SDL_SCANCODE_RALT, true);
  standin::SimulateKey(SDL_SCANCODE_KP_ENTER, true);
  standin::SimulateKey(SDL_SCANCODE_RALT, false);
  standin::SimulateKey(SDL_SCANCODE_KP_ENTER, false);
  drain();
  EXPECT_FALSE(standin::PresentedFullscreen(full));
  // Plain Enter is the program's.
  standin::SimulateKey(SDL_SCANCODE_RETURN, true);
  ASSERT_EQ(keyboard->GetDeviceState(sizeof keys, keys), DI_OK);
  EXPECT_EQ(keys[DIK_RETURN], 0x80);
  standin::SimulateKey(SDL_SCANCODE_RETURN, false);

  EXPECT_EQ(queued, std::set<WPARAM>{VK_MENU});
  EXPECT_TRUE(g_sent.empty()) << "first message 0x" << std::hex << g_sent.front();

  // The saved picture is the presented one, pixel for pixel.
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(shots)) files.push_back(entry.path());
  ASSERT_EQ(files.size(), 1u);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, files[0].c_str())) << image.message;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> saved(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, saved.data(), 0, nullptr)) << image.message;
  EXPECT_EQ(image.width, 800u);
  EXPECT_EQ(image.height, 600u);
  std::vector<uint8_t> expected;
  standin::PictureToRgb8(picture, &expected);
  EXPECT_TRUE(saved == expected);

  keyboard->Release();
  input->Release();
  DestroyWindow(full);
  standin::UninstallSdlHost();
  std::filesystem::remove_all(shots);
  unsetenv("XDG_PICTURES_DIR");
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
