// The device draws the same pictures whatever its thread count: each recorded
// stream's first frame (kept in the repository) at 1, 2, 3 and 8 threads.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "CountingNew.h"  // this test program counts every operator new
#include "StreamReplay.h"
#include "raster/TileQueue.h"

namespace {

// DEMO_THREADS for the devices made in a scope, restored after it.
class ThreadCount {
 public:
  explicit ThreadCount(int n) {
    if (const char* v = std::getenv("DEMO_THREADS")) saved_ = v, had_ = true;
    setenv("DEMO_THREADS", std::to_string(n).c_str(), 1);
  }
  ~ThreadCount() {
    if (had_) {
      setenv("DEMO_THREADS", saved_.c_str(), 1);
    } else {
      unsetenv("DEMO_THREADS");
    }
  }

 private:
  std::string saved_;
  bool had_ = false;
};

class StreamThreads : public ::testing::TestWithParam<const char*> {};

TEST_P(StreamThreads, PicturesAreIdenticalAtEveryThreadCount) {
  const std::string path = std::string(DEMO_SOURCE_DIR) + "/tests/data/streams/" + GetParam();
  std::vector<uint16_t> first;
  for (int threads : {1, 2, 3, 8}) {
    ThreadCount count(threads);
    stream_replay::Replay replay;
    std::string error;
    ASSERT_TRUE(replay.Open(path, &error)) << error;
    // Twice: the second frame reuses the queue's memory and must not see the first's commands.
    replay.DrawFrame(0);
    replay.DrawFrame(0);
    const std::vector<uint16_t> pixels = replay.Pixels();
    ASSERT_FALSE(pixels.empty());
    if (first.empty()) {
      first = pixels;
      size_t lit = 0;
      for (uint16_t p : pixels) lit += p != 0;
      EXPECT_GT(lit, pixels.size() / 2);  // a real picture, not an empty one
      continue;
    }
    size_t differing = 0;
    for (size_t i = 0; i < pixels.size(); ++i) differing += pixels[i] != first[i];
    EXPECT_EQ(differing, 0u) << threads << " threads";
  }
}

// Once a frame has been drawn whole, drawing it again allocates nothing, queued or not.
TEST_P(StreamThreads, ASecondFrameAllocatesNothing) {
  const std::string path = std::string(DEMO_SOURCE_DIR) + "/tests/data/streams/" + GetParam();
  for (int threads : {1, 3}) {
    ThreadCount count(threads);
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
