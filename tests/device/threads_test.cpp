// The demo's frames are the same pictures whatever the device's thread count
// and kernel: the generator's short piece at several demo times, drawn by the
// demo's own renderer and player at 1, 2, 3 and 8 threads (DEMO_THREADS) and
// with each kernel (DEMO_KERNEL).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "3d/D3DRenderer.h"
#include "3d/Scene.h"
#include "3d/ScenePlayer.h"
#include "Demo.h"
#include "DemoContent.h"
#include "DeviceTestSupport.h"
#include "MainWindow.h"
#include "ScopedEnv.h"
#include "raster/Raster.h"

namespace {

std::vector<uint16_t> BackPixels(LPDIRECTDRAWSURFACE7 surface) {
  DDSURFACEDESC2 desc;
  std::memset(&desc, 0, sizeof desc);
  desc.dwSize = sizeof desc;
  std::vector<uint16_t> out;
  if (surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK) return out;
  for (DWORD y = 0; y < desc.dwHeight; ++y) {
    const auto* row = reinterpret_cast<const uint16_t*>(static_cast<const uint8_t*>(desc.lpSurface) + y * desc.lPitch);
    out.insert(out.end(), row, row + desc.dwWidth);
  }
  surface->Unlock(nullptr);
  return out;
}

// The frames at `times` as a device made now (with the environment as it is) draws them.
std::vector<std::vector<uint16_t>> DrawFrames(const std::string& scenePath, const std::vector<uint32_t>& times) {
  std::vector<std::vector<uint16_t>> frames;
  HWND window = CreateMainWindow(0, SW_SHOWNORMAL, true, 800, 600);
  D3DRenderer* renderer = DemoCreateRenderer(window, 800, 600);
  Scene* scene = DemoImportScene(scenePath.c_str());
  EXPECT_TRUE(scene->isPlayable());
  auto* player = new ScenePlayer(renderer, scene);
  for (uint32_t time : times) {
    renderer->ClearFrame(0x20, 1.0f);
    player->Render(time);
    renderer->Print(0, 0, 0, "%u", time);
    frames.push_back(BackPixels(renderer->BackSurface));
    renderer->Present();
    EXPECT_EQ(frames.back().size(), 800u * 600u);
  }
  delete player;
  delete renderer;
  delete scene;
  DestroyWindow(window);
  return frames;
}

size_t Differing(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b) {
  if (a.size() != b.size()) return std::max(a.size(), b.size());
  size_t differing = 0;
  for (size_t i = 0; i < a.size(); ++i) differing += a[i] != b[i];
  return differing;
}

const std::vector<uint32_t> kTimes = {0, 1700, 4100, 6600, 9900};

class DemoThreads : public devtest::DeviceTest {};

TEST_F(DemoThreads, FramesAreIdenticalAtEveryThreadCount) {
  const std::string folder = devtest::MakeContentFolder(true, false);
  ASSERT_FALSE(folder.empty());
  const std::string scenePath = folder + "/scene.2vef";
  std::vector<std::vector<uint16_t>> first;
  for (int threads : {1, 2, 3, 8}) {
    ScopedEnv count("DEMO_THREADS", std::to_string(threads));
    const std::vector<std::vector<uint16_t>> frames = DrawFrames(scenePath, kTimes);
    if (threads == 1) {
      first = frames;
      continue;
    }
    for (size_t i = 0; i < kTimes.size(); ++i) {
      EXPECT_EQ(Differing(frames[i], first[i]), 0u) << threads << " threads, time " << kTimes[i];
    }
  }
  // The frames are real pictures: more than the clear colour.
  size_t drawn = 0;
  for (uint16_t p : first[2]) drawn += p != first[2][400 * 800];
  EXPECT_GT(drawn, 1000u);
  devtest::RemoveFolder(folder);
}

// Every kernel DEMO_KERNEL can force on this CPU draws the reference kernel's
// frames; an unknown name draws with the default.
TEST_F(DemoThreads, ForcedKernelsDrawTheSame) {
  using standin::raster::Kernel;
  const std::string folder = devtest::MakeContentFolder(true, false);
  ASSERT_FALSE(folder.empty());
  const std::string scenePath = folder + "/scene.2vef";
  ScopedEnv count("DEMO_THREADS", "1");
  std::vector<std::vector<uint16_t>> reference;
  {
    ScopedEnv kernel("DEMO_KERNEL", "reference");
    reference = DrawFrames(scenePath, kTimes);
  }
  for (Kernel k : {Kernel::Simd128, Kernel::Avx2, Kernel::Avx512, Kernel::Auto}) {
    if (!standin::raster::KernelRuns(k)) continue;
    ScopedEnv kernel("DEMO_KERNEL", k == Kernel::Auto ? "no-such-kernel" : standin::raster::KernelName(k));
    const std::vector<std::vector<uint16_t>> frames = DrawFrames(scenePath, kTimes);
    for (size_t i = 0; i < kTimes.size(); ++i) {
      EXPECT_EQ(Differing(frames[i], reference[i]), 0u) << standin::raster::KernelName(k) << ", time " << kTimes[i];
    }
  }
  devtest::RemoveFolder(folder);
}

}  // namespace
