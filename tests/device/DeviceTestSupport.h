// Shared by the device-layer and driver tests: headless SDL, a recorder of
// failure-hook calls, captured debug output.
#ifndef DEVICE_TEST_SUPPORT_H
#define DEVICE_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <windows.h>

#include <string>
#include <vector>

#include "DirectX/cDXObject.h"
#include "MainWindow.h"
#include "standin/faults.h"

namespace devtest {

// One call of the failure hook.
struct HookCall {
  const cDXObject* object;
  int line;
  std::string file;
};

inline std::vector<HookCall>& HookCalls() {
  static std::vector<HookCall> calls;
  return calls;
}

inline void RecordHook(const cDXObject* object, DWORD, int line, const char* file) {
  HookCalls().push_back({object, line, file ? file : ""});
}

// Every test starts with no armed faults, no recorded hook calls and the
// platform headless (no display, no sound card).
class DeviceTest : public testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    standin::ResetFaults();
    HookCalls().clear();
    cDXObject::Observer = RecordHook;
    RendererReady = 0;
  }
  void TearDown() override {
    cDXObject::Observer = 0;
    standin::ResetFaults();
  }
};

// Lines of the hook calls recorded so far, in order.
inline std::vector<int> HookLines() {
  std::vector<int> lines;
  for (const HookCall& c : HookCalls()) lines.push_back(c.line);
  return lines;
}

// Runs `f` and returns what it wrote to the debug channel (standard error).
template <typename F>
std::string CaptureLog(F f) {
  testing::internal::CaptureStderr();
  f();
  return testing::internal::GetCapturedStderr();
}

}  // namespace devtest

#endif
