// Drawing spread over threads. Draw calls and clears are queued: each
// triangle is set up once, on the caller's thread, and binned into the
// screen tiles its bounding box touches. Finish draws every tile on one
// thread, the tile's commands in submission order, so each pixel sees the same
// operations in the same order as on one thread: the pictures are identical
// whatever the thread count. Kernels never touch a pixel outside their tile.
//
// The queue keeps its memory from frame to frame (no allocation once the
// largest frame has been seen) and starts its worker threads on the first
// Finish with work; the destructor stops and joins them.
#ifndef STANDIN_RASTER_TILEQUEUE_H
#define STANDIN_RASTER_TILEQUEUE_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "raster/Raster.h"

namespace standin::raster {

// DEMO_THREADS when it is a number from 1 to 64, else every core the system reports.
int ThreadCountFromEnvironment();

class TileQueue {
 public:
  static constexpr int kTileSize = 128;  // pixels, square: few enough to split little, enough to share

  explicit TileQueue(int threads);  // 2 or more
  ~TileQueue();
  TileQueue(const TileQueue&) = delete;
  TileQueue& operator=(const TileQueue&) = delete;

  int Threads() const { return threads_; }
  bool Empty() const { return commands_ == 0; }

  // As DrawTriangleList (Kernel::Auto); the vertices are read before it returns.
  void Draw(const Target& target, const State& state, const Texture* texture,
            const Vertex* vertices, size_t count);
  // As FillColor and/or FillDepth on [x0, x1) x [y0, y1).
  void Clear(const Target& target, int x0, int y0, int x1, int y1, bool color, uint32_t argb,
             bool depth, float z);
  // Draws everything queued and returns when it is in memory.
  void Finish();

 private:
  struct ClearCommand {
    Target target;
    Clip rect;  // inclusive
    bool color, depth;
    uint32_t argb;
    float z;
  };
  // A tile's command: a triangle (index into setups_) or, with kClearBit, a clear.
  static constexpr uint32_t kClearBit = 0x80000000u;

  void Bin(uint32_t command, const Clip& box);
  void BinTriangle(uint32_t command, const Setup& setup);
  void DrawTile(int tile);
  void Worker();
  void Resize(int width, int height);

  const int threads_;
  int width_ = 0, height_ = 0;  // the area the tiles cover, pixels
  int tilesX_ = 0, tilesY_ = 0;
  std::vector<std::vector<uint32_t>> bins_;  // per tile, in submission order
  std::vector<DrawPlan> plans_;
  std::vector<Setup> setups_;
  std::vector<uint32_t> setupPlan_;  // the plan of each setup
  std::vector<ClearCommand> clears_;
  size_t commands_ = 0;

  // The pool: workers wait for a new generation, draw tiles until none is
  // left, then report back.
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  uint64_t generation_ = 0;
  int busy_ = 0;  // workers still drawing this generation
  bool stop_ = false;
  std::atomic<int> nextTile_{0};
};

}  // namespace standin::raster

#endif
