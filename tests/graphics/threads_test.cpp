// The device draws the same pictures whatever its thread count and kernel:
// each recorded stream's first frame (kept in the repository) at 1, 2, 3 and
// 8 threads, and with each kernel DEMO_KERNEL can force on this CPU.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "CountingNew.h"  // this test program counts every operator new
#include "ScopedEnv.h"
#include "StreamReplay.h"
#include "raster/TileQueue.h"

namespace {

class StreamThreads : public ::testing::TestWithParam<const char*> {};

// The stream's first frame as the device draws it with the environment as it is.
std::vector<uint16_t> FirstFrame(const std::string& path) {
  stream_replay::Replay replay;
  std::string error;
  EXPECT_TRUE(replay.Open(path, &error)) << error;
  // Twice: the second frame reuses the queue's memory and must not see the first's commands.
  replay.DrawFrame(0);
  replay.DrawFrame(0);
  return replay.Pixels();
}

size_t Differing(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b) {
  if (a.size() != b.size()) return std::max(a.size(), b.size());
  size_t differing = 0;
  for (size_t i = 0; i < a.size(); ++i) differing += a[i] != b[i];
  return differing;
}

TEST_P(StreamThreads, PicturesAreIdenticalAtEveryThreadCount) {
  const std::string path = std::string(DEMO_SOURCE_DIR) + "/tests/data/streams/" + GetParam();
  std::vector<uint16_t> first;
  for (int threads : {1, 2, 3, 8}) {
    ScopedEnv count("DEMO_THREADS", std::to_string(threads));
    const std::vector<uint16_t> pixels = FirstFrame(path);
    ASSERT_FALSE(pixels.empty());
    if (first.empty()) {
      first = pixels;
      size_t lit = 0;
      for (uint16_t p : pixels) lit += p != 0;
      EXPECT_GT(lit, pixels.size() / 2);  // a real picture, not an empty one
      continue;
    }
    EXPECT_EQ(Differing(pixels, first), 0u) << threads << " threads";
  }
}

// Every kernel DEMO_KERNEL can force here draws the reference kernel's
// pixels, with one thread and with two.
TEST_P(StreamThreads, ForcedKernelsDrawTheSame) {
  using standin::raster::Kernel;
  const std::string path = std::string(DEMO_SOURCE_DIR) + "/tests/data/streams/" + GetParam();
  for (int threads : {1, 2}) {
    ScopedEnv count("DEMO_THREADS", std::to_string(threads));
    std::vector<uint16_t> reference;
    {
      ScopedEnv kernel("DEMO_KERNEL", "reference");
      reference = FirstFrame(path);
    }
    ASSERT_FALSE(reference.empty());
    for (Kernel k : {Kernel::Simd128, Kernel::Avx2, Kernel::Avx512}) {
      if (!standin::raster::KernelRuns(k)) continue;
      ScopedEnv kernel("DEMO_KERNEL", standin::raster::KernelName(k));
      EXPECT_EQ(Differing(FirstFrame(path), reference), 0u) << standin::raster::KernelName(k) << ", " << threads
                                                            << " threads";
    }
  }
}

// Once a frame has been drawn whole, drawing it again allocates nothing, queued or not.
TEST_P(StreamThreads, ASecondFrameAllocatesNothing) {
  const std::string path = std::string(DEMO_SOURCE_DIR) + "/tests/data/streams/" + GetParam();
  for (int threads : {1, 3}) {
    ScopedEnv count("DEMO_THREADS", std::to_string(threads));
    stream_replay::Replay replay;
    std::string error;
    ASSERT_TRUE(replay.Open(path, &error)) << error;
    // The first frame builds the textures' padded copies, which finishes the
    // queue midway; the second is the first whole one.
    for (int warm = 0; warm < 2; ++warm) {
      replay.DrawFrame(0);
      replay.FirstPixel();
    }
    const long before = gAllocations.load();
    replay.DrawFrame(0);
    replay.FirstPixel();
    EXPECT_EQ(gAllocations.load() - before, 0) << threads << " threads";
  }
}

// A call with more vertices than the queue holds is drawn in parts, with the
// queue finished between them; clears stay in their place. Without depth
// testing the last triangle over a pixel wins, so a lost, repeated or
// reordered triangle shows.
TEST(TileQueue, ACallLargerThanTheQueueDrawsAsTheDirectPath) {
  const int w = 200, h = 150;
  std::mt19937 rng(13);
  std::uniform_real_distribution<float> x(-4.0f, w + 4.0f), y(-4.0f, h + 4.0f), d(-3.0f, 3.0f);
  std::vector<standin::raster::Vertex> list;
  for (size_t i = 0; i < standin::raster::TileQueue::kMaxVertices / 3 + 500; ++i) {
    const float cx = x(rng), cy = y(rng);
    const auto colour = static_cast<uint32_t>(rng());
    for (int k = 0; k < 3; ++k) list.push_back({cx + d(rng), cy + d(rng), 0.5f, 1.0f, colour, 0, 0});
  }
  standin::raster::State state;
  state.cull = standin::raster::Cull::None;
  state.viewWidth = w;
  state.viewHeight = h;
  std::vector<uint16_t> pictures[2];
  for (int queued = 0; queued < 2; ++queued) {
    std::vector<uint16_t>& color = pictures[queued];
    color.assign(static_cast<size_t>(w) * h, 0);
    standin::raster::Target target;
    target.color = reinterpret_cast<uint8_t*>(color.data());
    target.pitch = w * 2;
    target.width = w;
    target.height = h;
    const standin::raster::Vertex* tail = list.data() + list.size() - 600;
    if (queued) {
      standin::raster::TileQueue queue(3);
      queue.Draw(target, state, nullptr, list.data(), list.size());
      queue.Clear(target, 20, 30, 170, 90, true, 0x123456, false, 0.0f);
      queue.Draw(target, state, nullptr, tail, 600);
      queue.Finish();
    } else {
      standin::raster::DrawTriangleList(target, state, nullptr, list.data(), list.size());
      standin::raster::FillColor(target, 20, 30, 170, 90, 0x123456);
      standin::raster::DrawTriangleList(target, state, nullptr, tail, 600);
    }
  }
  size_t differing = 0;
  for (size_t i = 0; i < pictures[0].size(); ++i) differing += pictures[0][i] != pictures[1][i];
  EXPECT_EQ(differing, 0u);
}

INSTANTIATE_TEST_SUITE_P(Recorded, StreamThreads, ::testing::Values("small.trs", "large.trs", "mixed.trs"));

}  // namespace
