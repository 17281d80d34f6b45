// The demo driver: start-up, the frame loop on the music clock, its exits and
// the tear-down, with a generated scene and a 3-second MP3 in a scratch folder.
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <bass.h>

#include "3d/D3DRenderer.h"
#include "3d/Scene.h"
#include "Demo.h"
#include "DemoContent.h"
#include "DeviceTestSupport.h"
#include "DirectX/DirectInput.h"
#include "MainWindow.h"
#include "dinput/input_state.h"
#include "standin/audio.h"
#include "standin/host.h"
#include "win32/desktop.h"

namespace {

using devtest::CaptureLog;

// The test's clock: the next positions the loop reads, then the last one again.
std::vector<DWORD> positions;
size_t positionReads = 0;
DWORD NextPosition(DWORD) {
  DWORD p = positions.empty() ? 0 : positions[std::min(positionReads, positions.size() - 1)];
  positionReads++;
  return p;
}

// The smallest position that gives demo time `t` for a stream of `length` bytes.
DWORD PositionFor(uint32_t t, float length) {
  DWORD p = (DWORD)((double)t * length / 10000.0);
  while (DemoTimeFromPosition(p, length) < t) p++;
  return p;
}

class Driver : public devtest::DeviceTest {
 protected:
  void SetUp() override {
    devtest::DeviceTest::SetUp();
    folder = devtest::MakeContentFolder(true, true);
    ASSERT_FALSE(folder.empty());
    ASSERT_EQ(chdir(folder.c_str()), 0);
    positions.clear();
    positionReads = 0;
    MSG msg;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
    }
  }
  void TearDown() override {
    for (int i = 0; i < 4; i++) standin::InputMouseButton(i, false);
    standin::InputKey(DIK_ESCAPE, false);
    if (run.Window) DestroyWindow(run.Window);
    MSG msg;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
    }
    standin::AudioShutdown();
    if (chdir("/") == 0) devtest::RemoveFolder(folder);
    devtest::DeviceTest::TearDown();
  }
  // Start-up with the test's clock; the loop is then driven pass by pass.
  void StartUp() {
    ASSERT_TRUE(DemoStartUp(run));
    run.PositionSource = NextPosition;
    // Whatever the look at the queue took, the loop is to run.
    ASSERT_NE(run.Message.message, (UINT)WM_QUIT);
  }
  // Platform calls that make a frame: clear, draw, text, present.
  struct Frame {
    int clears, draws, texts, flips;
  };
  Frame Counts() {
    return {standin::CallCount("IDirect3DDevice7::Clear"),
            standin::CallCount("IDirect3DDevice7::DrawPrimitive"),
            standin::CallCount("IDirectDrawSurface7::GetDC"),
            standin::CallCount("IDirectDrawSurface7::Flip")};
  }
  std::string folder;
  DemoRun run{0, SW_SHOWNORMAL};
};

TEST(DemoClock, PositionOverLengthTruncatedToLow32Bits) {
  float length = 529200.0f;  // 3 s of 44.1 kHz stereo
  EXPECT_EQ(DemoTimeFromPosition(0, length), 0u);
  EXPECT_EQ(DemoTimeFromPosition(52919, length), 999u);   // 999.98.. truncated
  EXPECT_EQ(DemoTimeFromPosition(52920, length), 1000u);
  EXPECT_EQ(DemoTimeFromPosition(529200, length), 10000u);
  // An error position (0xFFFFFFFF) is far past the end: the loop ends.
  EXPECT_GE(DemoTimeFromPosition(0xFFFFFFFFu, length), kDemoEndTime);
  // Past 2^32 only the low 32 bits remain.
  EXPECT_EQ(DemoTimeFromPosition(0xFFFFFFFFu, 1.0f), (uint32_t)(42949672950000ull & 0xFFFFFFFFull));
  EXPECT_EQ(DemoTimeFromPosition(100, 0.0f), 0xFFFFFFFFu);
}

TEST(DemoClock, MouseShiftsForOneFrameAndNeverBelowZero) {
  const BYTE none[4] = {0, 0, 0, 0}, left[4] = {1, 0, 0, 0}, right[4] = {0, 1, 0, 0},
             both[4] = {1, 1, 0, 0};
  EXPECT_EQ(ShiftDemoTime(500, none), 500u);
  EXPECT_EQ(ShiftDemoTime(500, left), 510u);
  EXPECT_EQ(ShiftDemoTime(500, right), 470u);
  EXPECT_EQ(ShiftDemoTime(500, both), 510u);
  EXPECT_EQ(ShiftDemoTime(30, right), 0u);
  EXPECT_EQ(ShiftDemoTime(29, right), 0u);
  EXPECT_EQ(ShiftDemoTime(0, right), 0u);
}

TEST_F(Driver, StartUpBuildsEverythingInOrder) {
  std::string log = CaptureLog([&] { StartUp(); });
  // Window, then the frequency line, then the renderer.
  ASSERT_TRUE(IsWindow(run.Window));
  size_t frequency = log.find("PerformanceFreq=1000000000");
  size_t renderer = log.find("\ncDDraw constructor");
  ASSERT_NE(frequency, std::string::npos) << log;
  ASSERT_NE(renderer, std::string::npos) << log;
  EXPECT_LT(frequency, renderer);
  D3DRenderer* r = static_cast<D3DRenderer*>(ActiveRenderer);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Window, run.Window);
  EXPECT_TRUE(r->Fullscreen && r->Hardware);
  EXPECT_EQ(r->BackBufferCount, 2u);
  EXPECT_EQ(r->GetWidth(), 800);
  // The scene was loaded and its textures uploaded before the music started.
  ASSERT_TRUE(LoadedScene && LoadedScene->isPlayable());
  EXPECT_GT(r->TextureCount, 0);
  ASSERT_TRUE(run.Player.has_value());
  EXPECT_EQ(run.Player->renderer, ActiveRenderer);
  EXPECT_EQ(run.Player->scene, LoadedScene);
  EXPECT_NE(run.Stream, 0u);
  EXPECT_EQ(run.StreamLength, (float)BASS_StreamGetLength(run.Stream));
  EXPECT_EQ(run.StreamLength, 3.0f * 44100 * 4);
  EXPECT_EQ(RendererReady, 1);
  // Input last: keyboard and mouse acquired for the window.
  ASSERT_TRUE(run.Input);
  EXPECT_TRUE(run.Input->Keyboard && run.Input->Mouse);
  EXPECT_EQ(run.Input->Window, run.Window);
  EXPECT_EQ(standin::CallCount("IDirectInputDevice7::Acquire"), 2);
  EXPECT_EQ(run.DemoTime, 0u);
  // No frame yet.
  EXPECT_EQ(standin::CallCount("IDirectDrawSurface7::Flip"), 0);

  std::string down = CaptureLog([&] { EXPECT_EQ(DemoTearDown(run), 0); });
  EXPECT_EQ(down,
            "\nD3DRenderer destruktor\nRenderer destruktor\ncDirect3D destruktor\ncDDraw "
            "destructor");
  EXPECT_EQ(RendererReady, 0);
  EXPECT_FALSE(run.Input);
  EXPECT_FALSE(run.Player.has_value());
  EXPECT_TRUE(LoadedScene);  // the scene lives on
}

TEST_F(Driver, AQuitTakenBeforeTheLoopDrawsNoFrame) {
  PostQuitMessage(0);
  ASSERT_TRUE(DemoStartUp(run));
  ASSERT_EQ(run.Message.message, (UINT)WM_QUIT);
  run.PositionSource = NextPosition;
  DemoLoop(run);
  EXPECT_EQ(standin::CallCount("IDirectDrawSurface7::Flip"), 0);
  EXPECT_EQ(standin::CallCount("IDirect3DDevice7::DrawPrimitive"), 0);
  EXPECT_EQ(positionReads, 0u);
  EXPECT_EQ(DemoTearDown(run), 0);
}

TEST_F(Driver, EscapeStillDrawsLabelsAndPresentsTheFrameThenExitsZero) {
  StartUp();
  positions = {PositionFor(1234, run.StreamLength)};
  ASSERT_TRUE(DemoPass(run));
  Frame before = Counts();
  standin::InputKey(DIK_ESCAPE, true);
  EXPECT_FALSE(DemoPass(run));
  Frame after = Counts();
  EXPECT_EQ(after.clears, before.clears + 1);
  EXPECT_GT(after.draws, before.draws);
  EXPECT_GE(after.texts, before.texts + 1);  // the time number (and "morphing" if shown)
  EXPECT_EQ(after.flips, before.flips + 1);
  // The presented frame carries the time number: black on white at the top left.
  const standin::HeadlessHost& host = standin::DefaultHeadlessHost();
  ASSERT_EQ(host.LastWidth(), 800);
  const uint16_t* picture = (const uint16_t*)host.LastPicture().data();
  int white = 0, black = 0;
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 32; x++) {
      white += picture[y * 800 + x] == 0xFFFF;
      black += picture[y * 800 + x] == 0x0000;
    }
  EXPECT_GT(white, 20);
  EXPECT_GT(black, 10);
  EXPECT_EQ(positionReads, 2u);  // the clock is read once more
  EXPECT_EQ(run.Message.message, (UINT)WM_QUIT);
  EXPECT_EQ(DemoTearDown(run), 0);
}

TEST_F(Driver, TheClockEndsTheLoopAt9950AndNotBefore) {
  StartUp();
  positions = {PositionFor(9949, run.StreamLength), PositionFor(9950, run.StreamLength)};
  ASSERT_TRUE(DemoPass(run));  // frame at 0; the clock says 9949
  EXPECT_EQ(run.DemoTime, 9949u);
  Frame before = Counts();
  EXPECT_FALSE(DemoPass(run));  // 9949 is drawn; then 9950 ends the loop
  EXPECT_EQ(Counts().flips, before.flips + 1);
  EXPECT_EQ(run.DemoTime, 9950u);
  // Nothing was taken from the queue before the loop: exit code 0.
  EXPECT_EQ(DemoTearDown(run), 0);
}

TEST_F(Driver, MouseButtonsShiftTheFrameAndButtonTwoLogsTheShiftedTime) {
  StartUp();
  positions = {PositionFor(500, run.StreamLength), PositionFor(500, run.StreamLength),
               PositionFor(20, run.StreamLength), PositionFor(20, run.StreamLength)};
  ASSERT_TRUE(DemoPass(run));
  standin::InputMouseButton(2, true);
  standin::InputMouseButton(0, true);
  standin::InputMouseButton(1, true);
  std::string log = CaptureLog([&] { ASSERT_TRUE(DemoPass(run)); });
  EXPECT_NE(log.find("current time=510"), std::string::npos) << log;
  standin::InputMouseButton(0, false);
  log = CaptureLog([&] { ASSERT_TRUE(DemoPass(run)); });
  EXPECT_NE(log.find("current time=470"), std::string::npos) << log;
  // At 20, button 1 stops at 0 rather than wrapping round.
  log = CaptureLog([&] { ASSERT_TRUE(DemoPass(run)); });
  EXPECT_NE(log.find("current time=0"), std::string::npos) << log;
  // One line per frame.
  standin::InputMouseButton(1, false);
  log = CaptureLog([&] {
    ASSERT_TRUE(DemoPass(run));
    ASSERT_TRUE(DemoPass(run));
  });
  size_t lines = 0;
  for (size_t at = log.find("current time="); at != std::string::npos;
       at = log.find("current time=", at + 1))
    lines++;
  EXPECT_EQ(lines, 2u) << log;
  standin::InputMouseButton(2, false);
  log = CaptureLog([&] { ASSERT_TRUE(DemoPass(run)); });
  EXPECT_EQ(log.find("current time="), std::string::npos) << log;
  EXPECT_EQ(DemoTearDown(run), 0);
}

TEST_F(Driver, AWindowClosedFromTheDesktopEndsTheDemoLikeEscape) {
  StartUp();
  positions = {PositionFor(100, run.StreamLength)};
  ASSERT_TRUE(DemoPass(run));
  standin::DesktopCloseRequested(run.Window);
  Frame before = Counts();
  EXPECT_FALSE(DemoPass(run));
  EXPECT_EQ(Counts().flips, before.flips + 1);  // the frame is still shown
  EXPECT_EQ(DemoTearDown(run), 0);
  run.Window = 0;  // destroyed by the close
}

TEST_F(Driver, QueuedKeyPressesDoNotEndTheLoop) {
  StartUp();
  PostMessageA(run.Window, WM_KEYDOWN, VK_ESCAPE, 0);
  positions = {PositionFor(100, run.StreamLength)};
  EXPECT_TRUE(DemoPass(run));
  EXPECT_TRUE(DemoPass(run));
  EXPECT_EQ(DemoTearDown(run), 0);
}

TEST_F(Driver, AMissingSceneEndsWithCodeTwoAndAClearMessage) {
  ASSERT_EQ(unlink("scene.2vef"), 0);
  std::string err = CaptureLog([&] { EXPECT_FALSE(DemoStartUp(run)); });
  EXPECT_NE(err.find("scene.2vef: "), std::string::npos) << err;
  std::string down = CaptureLog([&] { EXPECT_EQ(DemoTearDown(run), 2); });
  EXPECT_NE(down.find("\ncDDraw destructor"), std::string::npos);
  EXPECT_FALSE(run.Input);
}

TEST_F(Driver, ARefusedSceneEndsWithCodeTwo) {
  FILE* f = fopen("scene.2vef", "wb");
  ASSERT_TRUE(f);
  fputs("not a scene at all, far too short", f);
  fclose(f);
  std::string err = CaptureLog([&] { EXPECT_FALSE(DemoStartUp(run)); });
  EXPECT_NE(err.find("scene.2vef: the scene cannot be played"), std::string::npos) << err;
  EXPECT_EQ(DemoTearDown(run), 2);
}

TEST_F(Driver, MusicThatCannotBeOpenedOrDecodedEndsWithCodeTwo) {
  ASSERT_EQ(unlink("Sound.mp3"), 0);
  std::string err = CaptureLog([&] { EXPECT_FALSE(DemoStartUp(run)); });
  EXPECT_NE(err.find("Sound.mp3: the music cannot be played"), std::string::npos) << err;
  EXPECT_EQ(DemoTearDown(run), 2);
  standin::AudioShutdown();

  DemoRun second(0, SW_SHOWNORMAL);
  FILE* f = fopen("Sound.mp3", "wb");
  ASSERT_TRUE(f);
  for (int i = 0; i < 4000; i++) fputc(i * 7, f);
  fclose(f);
  err = CaptureLog([&] { EXPECT_FALSE(DemoStartUp(second)); });
  EXPECT_NE(err.find("Sound.mp3: the music cannot be played"), std::string::npos) << err;
  EXPECT_EQ(DemoTearDown(second), 2);
  DestroyWindow(second.Window);
}

}  // namespace
