// Drawing spread over threads. Draw calls and clears are only recorded: the
// vertices are copied into the queue, so the caller may reuse its buffer at
// once. Finish does the work on every thread in two phases:
//  1. The recorded sequence is cut, in order, into chunks of about
//     kChunkTriangles triangles. Each thread takes whole chunks, sets their
//     triangles up and bins them (and the chunk's clears) into the chunk's own
//     per-tile lists, so setup is spread over the threads too.
//  2. Each screen tile is drawn by one thread, walking the chunks in order, so
//     every pixel sees the same operations in the same order as on one thread:
//     the pictures are identical whatever the thread count. Kernels never touch
//     a pixel outside their tile. Tiles are taken costliest first (by the
//     pixels their triangles' boxes cover), so no thread is left with a big
//     tile at the end while the others idle.
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
  // Tiles are squares of 2^tileShift pixels, tileShift from 6 to 8: the
  // largest that still gives each thread at least kTilesPerThread tiles
  // (larger tiles cut fewer triangles into pieces, each drawn on its own;
  // more tiles leave less idle time behind the last one). At 800 x 600 that is
  // 256 pixels for 2 or 3 threads (12 tiles), 128 for up to 8 (35 tiles).
  static constexpr int kMinTileShift = 6, kMaxTileShift = 8;
  static constexpr int kTilesPerThread = 4;
  // Triangles per chunk (before clipping): enough that taking a chunk costs
  // nothing beside its setup, few enough that the threads end phase 1 together.
  static constexpr uint32_t kChunkTriangles = 256;
  // Vertices the queue holds at most (28 MB; a demo frame has tens of
  // thousands): a call that does not fit finishes the queue first.
  static constexpr size_t kMaxVertices = size_t{1} << 20;

  explicit TileQueue(int threads);  // 2 or more
  ~TileQueue();
  TileQueue(const TileQueue&) = delete;
  TileQueue& operator=(const TileQueue&) = delete;

  int Threads() const { return threads_; }
  bool Empty() const { return segments_.empty(); }

  // As DrawTriangleList; the vertices are copied before it returns.
  void Draw(const Target& target, const State& state, const Texture* texture,
            const Vertex* vertices, size_t count, Kernel kernel = Kernel::Auto);
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
  // A run of one draw call's triangles, or (with kClearBit) a clear.
  struct Segment {
    uint32_t command;  // index into plans_, or kClearBit | index into clears_
    uint32_t first;    // vertex index into vertices_
    uint32_t count;    // vertices, a multiple of 3
  };
  static constexpr uint32_t kClearBit = 0x80000000u;
  // A tile's entry in a chunk's list: a setup of the chunk or, with
  // kClearBit, a clear.
  struct Hit {
    uint32_t tile, item;
  };
  // Phase 1's output for one chunk, written by one thread, read by all in phase 2.
  struct Chunk {
    std::vector<Setup> setups;
    std::vector<uint32_t> setupPlan;  // the plan of each setup
    std::vector<Hit> hits;            // in submission order, before grouping
    std::vector<uint32_t> items;      // grouped by tile, each group in submission order
    std::vector<uint32_t> start;      // tile t's items are [start[t], start[t + 1])
    std::vector<uint32_t> cost;       // per tile: estimated pixels
  };

  void AddSegment(uint32_t command, uint32_t first, uint32_t count, uint32_t weight);
  void CloseChunk();
  void Track(int width, int height);
  void SetUpChunk(size_t index);
  void BinTriangle(Chunk& chunk, uint32_t item, const Setup& setup) const;
  void BinRect(Chunk& chunk, uint32_t item, const Clip& box) const;
  void OrderTiles();
  void DrawTile(int tile);
  void Work();
  void Worker();

  const int threads_;
  int width_ = 0, height_ = 0;  // the area the tiles cover, pixels
  int tileShift_ = kMaxTileShift;  // this Finish's tile size, log2 pixels
  int tilesX_ = 0, tilesY_ = 0;

  // The recording.
  std::vector<Vertex> vertices_;
  std::vector<DrawPlan> plans_;
  std::vector<ClearCommand> clears_;
  std::vector<Segment> segments_;
  std::vector<uint32_t> chunkEnds_;  // chunk i's segments end at chunkEnds_[i]
  uint32_t openWeight_ = 0;          // triangles in the chunk being filled

  // Finish's work.
  std::vector<Chunk> chunks_;    // the first chunkEnds_.size() are this frame's
  std::vector<int> tileOrder_;   // costliest first
  std::vector<uint64_t> tileCost_;

  // The pool: workers wait for a new generation, set up chunks until none is
  // left, wait for every chunk, draw tiles until none is left, then report back.
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_, done_, binned_;
  uint64_t generation_ = 0;
  int busy_ = 0;         // workers still in this generation
  bool allBinned_ = false;  // phase 1 is over
  bool stop_ = false;
  std::atomic<size_t> nextChunk_{0}, chunksDone_{0};
  std::atomic<int> nextTile_{0};
};

}  // namespace standin::raster

#endif
