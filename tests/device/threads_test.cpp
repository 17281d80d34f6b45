// The demo's frames are the same pictures whatever the device's thread count:
// the generator's short piece at several demo times, drawn by the demo's own
// renderer and player at 1, 2, 3 and 8 threads (DEMO_THREADS).
#include <gtest/gtest.h>

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

class DemoThreads : public devtest::DeviceTest {};

TEST_F(DemoThreads, FramesAreIdenticalAtEveryThreadCount) {
  const std::string folder = devtest::MakeContentFolder(true, false);
  ASSERT_FALSE(folder.empty());
  const std::string scenePath = folder + "/scene.2vef";
  const uint32_t times[] = {0, 1700, 4100, 6600, 9900};
  std::vector<std::vector<uint16_t>> first;
  const char* saved = std::getenv("DEMO_THREADS");
  const std::string savedValue = saved != nullptr ? saved : "";
  for (int threads : {1, 2, 3, 8}) {
    setenv("DEMO_THREADS", std::to_string(threads).c_str(), 1);
    HWND window = CreateMainWindow(0, SW_SHOWNORMAL, true, 800, 600);
    D3DRenderer* renderer = DemoCreateRenderer(window, 800, 600);
    Scene* scene = DemoImportScene(scenePath.c_str());
    ASSERT_TRUE(scene->isPlayable());
    auto* player = new ScenePlayer(renderer, scene);
    for (size_t i = 0; i < std::size(times); ++i) {
      renderer->ClearFrame(0x20, 1.0f);
      player->Render(times[i]);
      renderer->Print(0, 0, 0, "%u", times[i]);
      const std::vector<uint16_t> pixels = BackPixels(renderer->BackSurface);
      renderer->Present();
      ASSERT_EQ(pixels.size(), 800u * 600u);
      if (threads == 1) {
        first.push_back(pixels);
        continue;
      }
      size_t differing = 0;
      for (size_t p = 0; p < pixels.size(); ++p) differing += pixels[p] != first[i][p];
      EXPECT_EQ(differing, 0u) << threads << " threads, time " << times[i];
    }
    delete player;
    delete renderer;
    delete scene;
    DestroyWindow(window);
  }
  if (saved != nullptr) {
    setenv("DEMO_THREADS", savedValue.c_str(), 1);
  } else {
    unsetenv("DEMO_THREADS");
  }
  // The frames are real pictures: more than the clear colour.
  size_t drawn = 0;
  for (uint16_t p : first[2]) drawn += p != first[2][400 * 800];
  EXPECT_GT(drawn, 1000u);
  devtest::RemoveFolder(folder);
}

}  // namespace
