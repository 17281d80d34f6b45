#include "Demo.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <bass.h>

#include <vector>

#include "3d/D3DRenderer.h"
#include "3d/Scene.h"
#include "DebugPrint.h"
#include "DirectX/DirectInput.h"
#include "MainWindow.h"

const char* const kSceneFileName = "scene.2vef";
const char* const kMusicFileName = "Sound.mp3";

Scene* LoadedScene = 0;

namespace {

const DWORD kClearColor = 0x20;  // ARGB: a very dark blue
const float kClearDepth = 1.0f;
const BYTE kEscapeKey = 1;       // DirectInput key code

}  // namespace

uint32_t DemoTimeFromPosition(uint32_t position, float length) {
  double time = (double)position * 10000.0 / (double)length;
  // A zero or broken length gives no usable quotient: treat it as the end.
  if (!(time >= 0.0) || time >= 9223372036854775808.0) return 0xFFFFFFFFu;
  return (uint32_t)(uint64_t)(int64_t)time;
}

uint32_t ShiftDemoTime(uint32_t time, const BYTE* mouseButton) {
  if (mouseButton[0]) return time + 10;
  // The player cannot evaluate a time below 0, so the shift stops there.
  if (mouseButton[1]) return time >= 30 ? time - 30 : 0;
  return time;
}

D3DRenderer* DemoCreateRenderer(HWND window, int width, int height) {
  return new D3DRenderer(window, true, true, width, height, 16, 2);
}

Scene* DemoImportScene(const char* fileName) {
  Scene* scene = new Scene();
  scene->importFile(fileName);
  return scene;
}

void DemoDrawFrame(Renderer* renderer, ScenePlayer& player, uint32_t time) {
  renderer->ClearFrame(kClearColor, kClearDepth);
  player.Render(time);
  renderer->Print(0, 0, 0, "%d", time);
  renderer->Present();
}

DemoRun::DemoRun(HINSTANCE instance, int showCommand)
    : Instance(instance), ShowCommand(showCommand) {
  memset(&Message, 0, sizeof Message);
  memset(KeyboardState, 0, sizeof KeyboardState);
}

bool DemoStartUp(DemoRun& run) {
  WindowClosed = 0;
  run.Window = CreateMainWindow(run.Instance, run.ShowCommand, true, 800, 600);

  LARGE_INTEGER frequency;
  if (QueryPerformanceFrequency(&frequency)) {
    // %I64d is the platform printf's 64-bit conversion, unknown to GCC's check.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
#endif
    DebugPrint("PerformanceFreq=%I64d", (long long)frequency.QuadPart);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  } else {
    DebugPrint("\nNo PerformanceFreq");
  }

  ActiveRenderer = DemoCreateRenderer(run.Window, 800, 600);

  BASS_Init(-1, 44100, 0, GetForegroundWindow());

  // Only a second run in one process (the driver's tests) finds a scene here.
  // The demo never frees its scene, so the earlier one is kept reachable too.
  static std::vector<Scene*>* earlierScenes = new std::vector<Scene*>;  // never destroyed
  if (LoadedScene) earlierScenes->push_back(LoadedScene);
  LoadedScene = DemoImportScene(kSceneFileName);
  if (!LoadedScene->isPlayable()) {
    const char* reason = LoadedScene->refusalReason();
    // The reason starts with the file's name already; the line names it once.
    const size_t nameLength = strlen(kSceneFileName);
    if (reason && strncmp(reason, kSceneFileName, nameLength) == 0 && reason[nameLength] == ':' &&
        reason[nameLength + 1] == ' ')
      reason += nameLength + 2;
    fprintf(stderr, "%s: the scene cannot be played: %s\n", kSceneFileName,
            reason && reason[0] ? reason : "it could not be read");
    run.FailureExitCode = kExitMissingContent;
    return false;
  }

  run.Player.emplace(ActiveRenderer, LoadedScene);

  run.Stream = BASS_StreamCreateFile(FALSE, kMusicFileName, 0, 0, 0);
  if (run.Stream == 0) {
    fprintf(stderr, "%s: the music cannot be played: the file cannot be opened or decoded\n",
            kMusicFileName);
    run.FailureExitCode = kExitMissingContent;
    return false;
  }
  BASS_Start();
  BASS_StreamPlay(run.Stream, FALSE, BASS_SAMPLE_LOOP);

  RendererReady = 1;

  DWORD length = BASS_StreamGetLength(run.Stream);
  if (length == 0 || length == 0xFFFFFFFFu) {
    // No length means no clock: the demo would never advance or end.
    fprintf(stderr, "%s: the music cannot be played: it holds no decodable audio\n",
            kMusicFileName);
    run.FailureExitCode = kExitMissingContent;
    return false;
  }
  run.StreamLength = (float)length;

  run.Input = new cDirectInput(run.Instance, run.Window, true);

  // The only look at the queue: nothing is translated or dispatched.
  PeekMessageA(&run.Message, 0, 0, 0, PM_REMOVE);
  run.DemoTime = 0;
  return true;
}

bool DemoPass(DemoRun& run) {
  run.Input->ReadKeyboard(run.KeyboardState);
  if (run.KeyboardState[kEscapeKey] & 0x80) {
    // The frame is still drawn; the loop ends after it.
    run.Message.message = WM_QUIT;
    run.Message.wParam = 0;
  }

  run.Input->ReadMouse();
  run.DemoTime = ShiftDemoTime(run.DemoTime, run.Input->MouseButton);
  if (run.Input->MouseButton[2]) DebugPrint("current time=%d", (int)run.DemoTime);

  if (RendererReady) {
    DemoDrawFrame(ActiveRenderer, *run.Player, run.DemoTime);

    DWORD position = run.PositionSource ? run.PositionSource(run.Stream)
                                        : BASS_ChannelGetPosition(run.Stream);
    run.DemoTime = DemoTimeFromPosition(position, run.StreamLength);
    if (run.DemoTime >= kDemoEndTime) return false;
  }

  // A close request from the desktop ends the demo like Escape.
  if (WindowClosed) {
    run.Message.message = WM_QUIT;
    run.Message.wParam = 0;
  }
  return run.Message.message != WM_QUIT;
}

void DemoLoop(DemoRun& run) {
  if (run.Message.message == WM_QUIT) return;
  while (DemoPass(run)) {
  }
}

int DemoTearDown(DemoRun& run) {
  RendererReady = 0;
  if (ActiveRenderer) delete ActiveRenderer;
  if (run.Input) {
    delete run.Input;
    run.Input = 0;
  }
  run.Player.reset();
  if (run.FailureExitCode != 0) return run.FailureExitCode;
  return (int)run.Message.wParam;
}
