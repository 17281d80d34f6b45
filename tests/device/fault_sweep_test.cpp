// The fault sweep: every platform call the demo makes in a short run (start-up,
// three frames, tear-down) fails once, in its own run, with a code the call
// documents. The calls come from recording a clean run, so a call added to the
// demo or the stand-in is swept without editing this file.
//
// Every run must end by itself with exit code 0 (the demo's code reports a
// failed call to its failure hook and goes on), report the failure through the
// hook where the demo tests the call, and, under AddressSanitizer, leave no
// leak behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <d3d.h>
#include <ddraw.h>
#include <dinput.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <bass.h>

#include "Demo.h"
#include "DemoContent.h"
#include "DeviceTestSupport.h"
#include "standin/audio.h"
#include "standin/faults.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SWEEP_LEAK_CHECK 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define SWEEP_LEAK_CHECK 1
#endif
#ifdef SWEEP_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// The code a failing call returns: what its documentation lists for the way
// it fails in practice, else the interface's generic failure.
HRESULT DocumentedFailure(const std::string& operation) {
  static const std::map<std::string, HRESULT> kByMethod = {
      {"Flip", DDERR_SURFACELOST},          {"Blt", DDERR_SURFACELOST},
      {"Lock", DDERR_SURFACELOST},          {"GetDC", DDERR_SURFACELOST},
      {"DrawPrimitive", DDERR_SURFACELOST}, {"Clear", DDERR_SURFACELOST},
      {"CreateSurface", DDERR_OUTOFMEMORY}, {"CreateDevice", DDERR_OUTOFMEMORY},
      {"SetDisplayMode", DDERR_INVALIDMODE}, {"SetCooperativeLevel", DDERR_EXCLUSIVEMODEALREADYSET},
      {"BeginScene", D3DERR_SCENE_BEGIN_FAILED}, {"EndScene", D3DERR_SCENE_END_FAILED},
      {"GetDeviceState", DIERR_INPUTLOST},  {"Acquire", DIERR_OTHERAPPHASPRIO},
  };
  const size_t colons = operation.rfind("::");
  const std::string method = colons == std::string::npos ? operation : operation.substr(colons + 2);
  const bool input = operation.find("DirectInput") != std::string::npos;
  if (input && method == "CreateDevice") return DIERR_DEVICENOTREG;
  auto it = kByMethod.find(method);
  if (it != kByMethod.end()) return it->second;
  return input ? DIERR_GENERIC : DDERR_GENERIC;
}

// The music clock of the sweep: the three passes read a third, two thirds and
// all of the stream, so the loop ends after the third frame.
int clockReads = 0;
DWORD SweepClock(DWORD stream) {
  ++clockReads;
  return static_cast<DWORD>(BASS_StreamGetLength(stream) / 3 * static_cast<DWORD>(clockReads));
}

struct Outcome {
  int code = -1;
  int passes = 0;
  std::string log;
};

class FaultSweep : public devtest::DeviceTest {
 protected:
  void SetUp() override {
    devtest::DeviceTest::SetUp();
    folder = devtest::MakeContentFolder(false, true);
    ASSERT_FALSE(folder.empty());
    // A small textured scene: every kind of call, few of each.
    std::ifstream in(DEMO_SOURCE_DIR "/fuzz/corpus/scene/textured", std::ios::binary);
    std::vector<uint8_t> scene((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(scene.size(), 4u);
    scene.resize(scene.size() - 4);  // the fuzz target's time trailer
    std::string error;
    ASSERT_TRUE(vef::WriteFileAtomically(folder + "/scene.2vef", scene, &error)) << error;
    ASSERT_EQ(chdir(folder.c_str()), 0);
  }
  void TearDown() override {
    standin::RecordCalls(false);
    if (chdir("/") == 0) devtest::RemoveFolder(folder);
    devtest::DeviceTest::TearDown();
  }

  // Start-up, at most eight passes of the loop, tear-down, then what main()
  // and the window's owner would release.
  Outcome Run() {
    Outcome out;
    clockReads = 0;
    DemoRun run(0, SW_SHOWNORMAL);
    out.log = devtest::CaptureLog([&] {
      if (DemoStartUp(run)) {
        run.PositionSource = SweepClock;
        if (run.Message.message != WM_QUIT) {
          while (out.passes < 8 && (++out.passes, DemoPass(run))) {
          }
        }
      }
      out.code = DemoTearDown(run);
    });
    if (run.Window && IsWindow(run.Window)) DestroyWindow(run.Window);
    MSG msg;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
    }
    standin::AudioShutdown();
    return out;
  }

  std::string folder;
};

TEST_F(FaultSweep, EveryCallOfACleanRunFailsOnceWithoutCrashLeakOrSilence) {
  standin::RecordCalls(true);
  const Outcome clean = Run();
  const std::vector<std::string> calls = standin::RecordedCalls();
  ASSERT_EQ(clean.code, 0) << clean.log;
  ASSERT_EQ(clean.passes, 3);
  ASSERT_TRUE(devtest::HookCalls().empty()) << "the clean run reported a failure";
  // Start-up, frames and tear-down all make calls.
  ASSERT_GT(calls.size(), 30u);

  std::map<std::string, int> seen;
  std::string silent;
  for (const std::string& operation : calls) {
    const int nth = ++seen[operation];
    SCOPED_TRACE(operation + " #" + std::to_string(nth));
    standin::ResetFaults();
    devtest::HookCalls().clear();
    const HRESULT code = DocumentedFailure(operation);
    standin::InjectFault(operation, nth, code);
    const Outcome out = Run();
    // The fault fired: the run made the call again, as recorded.
    EXPECT_GE(standin::CallCount(operation), nth);
    EXPECT_EQ(out.code, 0) << out.log;
    EXPECT_GE(out.passes, 1);
    if (devtest::HookCalls().empty()) silent += " " + operation + "#" + std::to_string(nth);
#ifdef SWEEP_LEAK_CHECK
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leak after the fault";
#endif
  }
  printf("fault sweep: %zu calls of %zu operations failed one by one; not reported to the hook:%s\n",
         calls.size(), seen.size(), silent.c_str());
}

}  // namespace
