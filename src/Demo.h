// The demo's start-up, frame loop and tear-down, in pieces so that the frame
// loop can be driven pass by pass. WinMain runs them in order:
//
//   DemoRun run(instance, showCommand);
//   if (DemoStartUp(run)) DemoLoop(run);
//   return DemoTearDown(run);
//
// The music is the clock: after each frame the playback position becomes the
// demo time, position * 10000 / length, and the loop ends at 9950 or after the
// frame in which Escape was held (or the window was closed).
#ifndef DEMO_H
#define DEMO_H

#include <stdint.h>
#include <windows.h>

#include <optional>

#include "3d/ScenePlayer.h"

class cDirectInput;
class D3DRenderer;
class Renderer;
class Scene;

extern const char* const kSceneFileName;  // "scene.2vef"
extern const char* const kMusicFileName;  // "Sound.mp3"

// Demo time at which the loop ends by itself (the music's end is 10000).
const uint32_t kDemoEndTime = 9950;
// Exit code when the scene or the music cannot be used.
const int kExitMissingContent = 2;

// Demo time for a playback position: position * 10000.0 / length, truncated
// toward zero, low 32 bits. A length that gives no finite quotient, or a
// quotient beyond 64 bits, yields 0xFFFFFFFF (the loop ends).
uint32_t DemoTimeFromPosition(uint32_t position, float length);

// The time shift of the mouse buttons for one frame: button 0 held adds 10;
// otherwise button 1 held takes 30 off, but never below 0.
uint32_t ShiftDemoTime(uint32_t time, const BYTE* mouseButton);

// The demo's renderer on `window`: fullscreen, the hardware device, width x
// height at 16 bits per pixel, 2 back buffers (the demo asks for 800 x 600).
D3DRenderer* DemoCreateRenderer(HWND window, int width, int height);

// A new Scene with the scene file imported and prepared; whether it can be
// played is the caller's to ask (isPlayable, refusalReason).
Scene* DemoImportScene(const char* fileName);

// One frame of the demo at `time`: clear colour and depth, the scene, the time
// number at the top-left corner ("%d"), present.
void DemoDrawFrame(Renderer* renderer, ScenePlayer& player, uint32_t time);

struct DemoRun {
  HINSTANCE Instance;
  int ShowCommand;
  HWND Window = 0;
  MSG Message;                      // message/wParam: quit flag and exit code
  DWORD Stream = 0;                 // the music stream
  float StreamLength = 0.0f;        // bytes of decoded PCM, as a float
  uint32_t DemoTime = 0;            // 0 .. 10000
  BYTE KeyboardState[256];          // bit 7: key down; zero before the first read
  cDirectInput* Input = 0;          // owned
  std::optional<ScenePlayer> Player;  // held by value once constructed
  // Where the frame loop reads the playback position. Null: the music stream.
  // Tests put a clock of their own here.
  DWORD (*PositionSource)(DWORD stream) = 0;
  int FailureExitCode = 0;          // non-zero: start-up failed, the exit code

  DemoRun(HINSTANCE instance, int showCommand);
};

// Start-up in order: window, performance-frequency log, renderer, audio
// output, scene, player, music, RendererReady, music length, input, one look at
// the queue. Returns false when the scene or the music cannot be used: the
// reason is on standard error, and the tear-down then returns exit code 2.
bool DemoStartUp(DemoRun& run);

// One pass of the frame loop: input, time shift, clear, render, time number,
// present, clock. Returns false once the loop is to end.
bool DemoPass(DemoRun& run);

// The frame loop: passes while no quit is recorded (tested before the first
// pass too, so a quit taken by the look at the queue draws no frame).
void DemoLoop(DemoRun& run);

// Tear-down in order: RendererReady off, renderer, input, player. Returns the
// exit code: FailureExitCode after a failed start-up, else the message
// record's wParam (0 after Escape, a close, or the clock with no message
// taken). The scene is never freed: it stays reachable through LoadedScene.
int DemoTearDown(DemoRun& run);

// The loaded scene, alive until the process ends.
extern Scene* LoadedScene;

#endif
