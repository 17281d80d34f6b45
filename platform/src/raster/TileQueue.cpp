#include "raster/TileQueue.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace standin::raster {

int ThreadCountFromEnvironment() {
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
  return 1;  // a WebAssembly build without threads
#endif
  if (const char* v = std::getenv("DEMO_THREADS")) {
    char* end = nullptr;
    const long n = std::strtol(v, &end, 10);
    if (end != v && *end == '\0' && n >= 1 && n <= 64) return static_cast<int>(n);
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min(cores, 64u));
}

TileQueue::TileQueue(int threads) : threads_(std::max(threads, 2)) {}

TileQueue::~TileQueue() {
  Finish();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void TileQueue::Track(int width, int height) {
  width_ = std::max(width, width_);
  height_ = std::max(height, height_);
}

void TileQueue::AddSegment(uint32_t command, uint32_t first, uint32_t count, uint32_t weight) {
  segments_.push_back(Segment{command, first, count});
  openWeight_ += weight;
  if (openWeight_ >= kChunkTriangles) CloseChunk();
}

void TileQueue::CloseChunk() {
  if (segments_.size() > (chunkEnds_.empty() ? 0 : chunkEnds_.back())) {
    chunkEnds_.push_back(static_cast<uint32_t>(segments_.size()));
  }
  openWeight_ = 0;
}

void TileQueue::Draw(const Target& target, const State& state, const Texture* texture,
                     const Vertex* vertices, size_t count, Kernel kernel) {
  count -= count % 3;
  if (count == 0) return;
  DrawPlan plan;
  if (!PlanDraw(target, state, texture, kernel, &plan)) return;
  bool planned = false;
  // Triangles are set up independently of each other, so a call may be cut
  // anywhere between triangles: at chunk ends and when the queue is full.
  while (count > 0) {
    if (vertices_.size() + 3 > kMaxVertices) {
      Finish();
      planned = false;
    }
    if (!planned) {
      Track(target.width, target.height);
      plans_.push_back(plan);
      planned = true;
    }
    const size_t room = (kMaxVertices - vertices_.size()) / 3;
    const size_t triangles = std::min({count / 3, room, size_t{kChunkTriangles - openWeight_}});
    const auto first = static_cast<uint32_t>(vertices_.size());
    vertices_.insert(vertices_.end(), vertices, vertices + triangles * 3);
    AddSegment(static_cast<uint32_t>(plans_.size() - 1), first, static_cast<uint32_t>(triangles * 3),
               static_cast<uint32_t>(triangles));
    vertices += triangles * 3;
    count -= triangles * 3;
  }
}

void TileQueue::Clear(const Target& target, int x0, int y0, int x1, int y1, bool color,
                      uint32_t argb, bool depth, float z) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, target.width);
  y1 = std::min(y1, target.height);
  if (x0 >= x1 || y0 >= y1) return;
  Track(target.width, target.height);
  const auto index = static_cast<uint32_t>(clears_.size());
  clears_.push_back(ClearCommand{target, Clip{x0, y0, x1 - 1, y1 - 1}, color, depth, argb, z});
  AddSegment(index | kClearBit, 0, 0, 1);
}

// A clear goes to every tile of its rectangle, costed at an eighth of its pixels
// there (a fill is several times faster per pixel than a triangle).
void TileQueue::BinRect(Chunk& chunk, uint32_t item, const Clip& box) const {
  const int shift = tileShift_, size = 1 << shift;
  const int tx0 = box.x0 >> shift, tx1 = box.x1 >> shift;
  const int ty0 = box.y0 >> shift, ty1 = box.y1 >> shift;
  for (int ty = ty0; ty <= ty1; ++ty) {
    const int h = std::min(ty * size + size - 1, box.y1) - std::max(ty * size, box.y0) + 1;
    for (int tx = tx0; tx <= tx1; ++tx) {
      const int w = std::min(tx * size + size - 1, box.x1) - std::max(tx * size, box.x0) + 1;
      const uint32_t tile = static_cast<uint32_t>(ty * tilesX_ + tx);
      chunk.hits.push_back(Hit{tile, item});
      chunk.cost[tile] += static_cast<uint32_t>(w * h) / 8;
    }
  }
}

// A triangle goes only to the tiles of its bounding box that it may cover: a
// tile is skipped when one edge function is negative at the tile's corner
// where that function is largest (then it is negative over the whole tile).
// Edge values stay below 2^48: |e0| < 2^47, |ex|, |ey| < 2^31 and offsets
// below 2^15 pixels.
// A tile's cost is half the box's pixels in it (a triangle fills about half
// its box) plus a fixed 32 for the triangle's own overhead.
void TileQueue::BinTriangle(Chunk& chunk, uint32_t item, const Setup& s) const {
  const int shift = tileShift_, size = 1 << shift;
  const int tx0 = s.minX >> shift, tx1 = s.maxX >> shift;
  const int ty0 = s.minY >> shift, ty1 = s.maxY >> shift;
  if (tx0 == tx1 && ty0 == ty1) {
    const uint32_t tile = static_cast<uint32_t>(ty0 * tilesX_ + tx0);
    chunk.hits.push_back(Hit{tile, item});
    chunk.cost[tile] += static_cast<uint32_t>((s.maxX - s.minX + 1) * (s.maxY - s.minY + 1)) / 2 + 32;
    return;
  }
  for (int ty = ty0; ty <= ty1; ++ty) {
    const int64_t y0 = std::max(ty * size, s.minY) - s.minY;
    const int64_t y1 = std::min(ty * size + size - 1, s.maxY) - s.minY;
    for (int tx = tx0; tx <= tx1; ++tx) {
      const int64_t x0 = std::max(tx * size, s.minX) - s.minX;
      const int64_t x1 = std::min(tx * size + size - 1, s.maxX) - s.minX;
      bool touched = true;
      for (int e = 0; e < 3 && touched; ++e) {
        const int64_t best = s.e0[e] + s.ex[e] * (s.ex[e] > 0 ? x1 : x0) + s.ey[e] * (s.ey[e] > 0 ? y1 : y0);
        touched = best >= 0;
      }
      if (!touched) continue;
      const uint32_t tile = static_cast<uint32_t>(ty * tilesX_ + tx);
      chunk.hits.push_back(Hit{tile, item});
      chunk.cost[tile] += static_cast<uint32_t>((x1 - x0 + 1) * (y1 - y0 + 1)) / 2 + 32;
    }
  }
}

// Phase 1 for one chunk: set up its triangles, then group its hits by tile
// (a stable counting sort, so each tile keeps submission order).
void TileQueue::SetUpChunk(size_t index) {
  Chunk& chunk = chunks_[index];
  const size_t tiles = static_cast<size_t>(tilesX_) * tilesY_;
  chunk.setups.clear();
  chunk.setupPlan.clear();
  chunk.hits.clear();
  chunk.cost.assign(tiles, 0);
  struct Sink {
    TileQueue* queue;
    Chunk* chunk;
    uint32_t plan;
  } sink{this, &chunk, 0};
  const uint32_t begin = index == 0 ? 0 : chunkEnds_[index - 1];
  for (uint32_t i = begin; i < chunkEnds_[index]; ++i) {
    const Segment& seg = segments_[i];
    if (seg.command & kClearBit) {
      BinRect(chunk, seg.command, clears_[seg.command & ~kClearBit].rect);
      continue;
    }
    sink.plan = seg.command;
    SetUpTriangles(plans_[seg.command], vertices_.data() + seg.first, seg.count,
                   [](void* context, const Setup& s) {
                     auto* k = static_cast<Sink*>(context);
                     const auto item = static_cast<uint32_t>(k->chunk->setups.size());
                     k->chunk->setups.push_back(s);
                     k->chunk->setupPlan.push_back(k->plan);
                     k->queue->BinTriangle(*k->chunk, item, s);
                   },
                   &sink);
  }
  chunk.start.assign(tiles + 1, 0);
  for (const Hit& h : chunk.hits) ++chunk.start[h.tile + 1];
  for (size_t t = 0; t < tiles; ++t) chunk.start[t + 1] += chunk.start[t];
  chunk.items.resize(chunk.hits.size());
  // start[t] walks through tile t's group, ending where tile t + 1's begins...
  for (const Hit& h : chunk.hits) chunk.items[chunk.start[h.tile]++] = h.item;
  // ...so shifting it up by one restores the beginnings.
  for (size_t t = tiles; t > 0; --t) chunk.start[t] = chunk.start[t - 1];
  chunk.start[0] = 0;
}

// Run by the thread that bins the last chunk, before any tile is drawn.
// Ties go in tile order, so the order is the same in every run.
void TileQueue::OrderTiles() {
  const size_t tiles = static_cast<size_t>(tilesX_) * tilesY_;
  tileCost_.assign(tiles, 0);
  for (size_t c = 0; c < chunkEnds_.size(); ++c) {
    const std::vector<uint32_t>& cost = chunks_[c].cost;
    for (size_t t = 0; t < tiles; ++t) tileCost_[t] += cost[t];
  }
  tileOrder_.resize(tiles);
  for (size_t t = 0; t < tiles; ++t) tileOrder_[t] = static_cast<int>(t);
  // std::sort, not stable_sort, which takes a buffer from the heap.
  std::sort(tileOrder_.begin(), tileOrder_.end(), [this](int a, int b) {
    return tileCost_[a] != tileCost_[b] ? tileCost_[a] > tileCost_[b] : a < b;
  });
}

void TileQueue::DrawTile(int tile) {
  const int size = 1 << tileShift_;
  const int tx = tile % tilesX_, ty = tile / tilesX_;
  const Clip area{tx * size, ty * size, tx * size + size - 1, ty * size + size - 1};
  uint64_t covered = 0;
  for (size_t c = 0; c < chunkEnds_.size(); ++c) {
    const Chunk& chunk = chunks_[c];
    const uint32_t end = chunk.start[tile + 1];
    for (uint32_t i = chunk.start[tile]; i < end; ++i) {
      const uint32_t item = chunk.items[i];
      // The setups were mostly written by another core: ask for the next one
      // while this one is drawn.
      if (i + 1 < end && !(chunk.items[i + 1] & kClearBit)) {
        const char* next = reinterpret_cast<const char*>(&chunk.setups[chunk.items[i + 1]]);
        for (size_t b = 0; b < sizeof(Setup); b += 64) __builtin_prefetch(next + b);
      }
      if (item & kClearBit) {
        const ClearCommand& k = clears_[item & ~kClearBit];
        const int x0 = std::max(k.rect.x0, area.x0), y0 = std::max(k.rect.y0, area.y0);
        const int x1 = std::min(k.rect.x1, area.x1) + 1, y1 = std::min(k.rect.y1, area.y1) + 1;
        if (k.color) FillColor(k.target, x0, y0, x1, y1, k.argb);
        if (k.depth) FillDepth(k.target, x0, y0, x1, y1, k.z);
        continue;
      }
      const DrawPlan& plan = plans_[chunk.setupPlan[item]];
      const Clip clip{area.x0, area.y0, std::min(area.x1, plan.target.width - 1),
                      std::min(area.y1, plan.target.height - 1)};
      DrawSetup(plan, chunk.setups[item], clip, &covered);
    }
  }
}

// One thread's share of a Finish: chunks while any is left, then (once every
// chunk is binned) tiles while any is left.
void TileQueue::Work() {
  const size_t chunks = chunkEnds_.size();
  for (size_t c; (c = nextChunk_.fetch_add(1, std::memory_order_relaxed)) < chunks;) {
    SetUpChunk(c);
    // acq_rel: the thread that sees the last chunk done sees every chunk's data.
    if (chunksDone_.fetch_add(1, std::memory_order_acq_rel) + 1 == chunks) {
      OrderTiles();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        allBinned_ = true;
      }
      binned_.notify_all();
    }
  }
  {
    std::unique_lock<std::mutex> lock(mutex_);
    binned_.wait(lock, [&] { return allBinned_; });
  }
  const int tiles = tilesX_ * tilesY_;
  for (int k; (k = nextTile_.fetch_add(1, std::memory_order_relaxed)) < tiles;) DrawTile(tileOrder_[k]);
}

void TileQueue::Worker() {
  uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
    }
    Work();
    std::lock_guard<std::mutex> lock(mutex_);
    if (--busy_ == 0) done_.notify_one();
  }
}

void TileQueue::Finish() {
  if (segments_.empty()) return;
  CloseChunk();
  for (tileShift_ = kMaxTileShift;; --tileShift_) {
    const int size = 1 << tileShift_;
    tilesX_ = (width_ + size - 1) / size;
    tilesY_ = (height_ + size - 1) / size;
    if (tileShift_ == kMinTileShift || tilesX_ * tilesY_ >= kTilesPerThread * threads_) break;
  }
  if (chunks_.size() < chunkEnds_.size()) chunks_.resize(chunkEnds_.size());
  if (workers_.empty()) {
    for (int i = 1; i < threads_; ++i) workers_.emplace_back([this] { Worker(); });
  }
  nextChunk_.store(0, std::memory_order_relaxed);
  chunksDone_.store(0, std::memory_order_relaxed);
  nextTile_.store(0, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    allBinned_ = false;
    busy_ = static_cast<int>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
  Work();  // this thread works too
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return busy_ == 0; });
  }
  vertices_.clear();
  plans_.clear();
  clears_.clear();
  segments_.clear();
  chunkEnds_.clear();
  openWeight_ = 0;
}

}  // namespace standin::raster
