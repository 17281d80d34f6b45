#include "raster/TileQueue.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace standin::raster {

int ThreadCountFromEnvironment() {
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

void TileQueue::Resize(int width, int height) {
  if (width <= width_ && height <= height_) return;
  Finish();  // the queued commands are binned on the old grid
  width_ = std::max(width, width_);
  height_ = std::max(height, height_);
  tilesX_ = (width_ + kTileSize - 1) / kTileSize;
  tilesY_ = (height_ + kTileSize - 1) / kTileSize;
  bins_.resize(static_cast<size_t>(tilesX_) * tilesY_);
}

void TileQueue::Bin(uint32_t command, const Clip& box) {
  const int tx0 = box.x0 / kTileSize, tx1 = box.x1 / kTileSize;
  const int ty0 = box.y0 / kTileSize, ty1 = box.y1 / kTileSize;
  for (int ty = ty0; ty <= ty1; ++ty) {
    for (int tx = tx0; tx <= tx1; ++tx) bins_[static_cast<size_t>(ty) * tilesX_ + tx].push_back(command);
  }
  ++commands_;
}

// A triangle goes only to the tiles of its bounding box that it may cover: a
// tile is skipped when one edge function is negative at the tile's corner
// where that function is largest (then it is negative over the whole tile).
// Edge values stay below 2^48: |e0| < 2^47, |ex|, |ey| < 2^31 and offsets
// below 2^15 pixels.
void TileQueue::BinTriangle(uint32_t command, const Setup& s) {
  const int tx0 = s.minX / kTileSize, tx1 = s.maxX / kTileSize;
  const int ty0 = s.minY / kTileSize, ty1 = s.maxY / kTileSize;
  if (tx0 == tx1 && ty0 == ty1) {
    bins_[static_cast<size_t>(ty0) * tilesX_ + tx0].push_back(command);
    ++commands_;
    return;
  }
  for (int ty = ty0; ty <= ty1; ++ty) {
    const int64_t y0 = std::max(ty * kTileSize, s.minY) - s.minY;
    const int64_t y1 = std::min(ty * kTileSize + kTileSize - 1, s.maxY) - s.minY;
    for (int tx = tx0; tx <= tx1; ++tx) {
      const int64_t x0 = std::max(tx * kTileSize, s.minX) - s.minX;
      const int64_t x1 = std::min(tx * kTileSize + kTileSize - 1, s.maxX) - s.minX;
      bool touched = true;
      for (int e = 0; e < 3 && touched; ++e) {
        const int64_t best = s.e0[e] + s.ex[e] * (s.ex[e] > 0 ? x1 : x0) + s.ey[e] * (s.ey[e] > 0 ? y1 : y0);
        touched = best >= 0;
      }
      if (touched) bins_[static_cast<size_t>(ty) * tilesX_ + tx].push_back(command);
    }
  }
  ++commands_;
}

void TileQueue::Draw(const Target& target, const State& state, const Texture* texture,
                     const Vertex* vertices, size_t count) {
  Resize(target.width, target.height);
  DrawPlan plan;
  if (!PlanDraw(target, state, texture, Kernel::Auto, &plan)) return;
  plans_.push_back(plan);
  SetUpTriangles(plan, vertices, count, [](void* context, const Setup& s) {
    auto* q = static_cast<TileQueue*>(context);
    const auto index = static_cast<uint32_t>(q->setups_.size());
    q->setups_.push_back(s);
    q->setupPlan_.push_back(static_cast<uint32_t>(q->plans_.size() - 1));
    q->BinTriangle(index, s);
  }, this);
}

void TileQueue::Clear(const Target& target, int x0, int y0, int x1, int y1, bool color,
                      uint32_t argb, bool depth, float z) {
  Resize(target.width, target.height);
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, target.width);
  y1 = std::min(y1, target.height);
  if (x0 >= x1 || y0 >= y1) return;
  const auto index = static_cast<uint32_t>(clears_.size());
  const Clip rect{x0, y0, x1 - 1, y1 - 1};
  clears_.push_back(ClearCommand{target, rect, color, depth, argb, z});
  Bin(index | kClearBit, rect);
}

void TileQueue::DrawTile(int tile) {
  std::vector<uint32_t>& bin = bins_[tile];
  if (bin.empty()) return;
  const int tx = tile % tilesX_, ty = tile / tilesX_;
  const Clip area{tx * kTileSize, ty * kTileSize, tx * kTileSize + kTileSize - 1,
                  ty * kTileSize + kTileSize - 1};
  uint64_t covered = 0;
  for (uint32_t command : bin) {
    if (command & kClearBit) {
      const ClearCommand& c = clears_[command & ~kClearBit];
      const int x0 = std::max(c.rect.x0, area.x0), y0 = std::max(c.rect.y0, area.y0);
      const int x1 = std::min(c.rect.x1, area.x1) + 1, y1 = std::min(c.rect.y1, area.y1) + 1;
      if (c.color) FillColor(c.target, x0, y0, x1, y1, c.argb);
      if (c.depth) FillDepth(c.target, x0, y0, x1, y1, c.z);
      continue;
    }
    const DrawPlan& plan = plans_[setupPlan_[command]];
    const Clip clip{area.x0, area.y0, std::min(area.x1, plan.target.width - 1),
                    std::min(area.y1, plan.target.height - 1)};
    DrawSetup(plan, setups_[command], clip, &covered);
  }
  bin.clear();
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
    const int tiles = tilesX_ * tilesY_;
    for (int t; (t = nextTile_.fetch_add(1, std::memory_order_relaxed)) < tiles;) DrawTile(t);
    std::lock_guard<std::mutex> lock(mutex_);
    if (--busy_ == 0) done_.notify_one();
  }
}

void TileQueue::Finish() {
  if (commands_ == 0) return;
  if (workers_.empty()) {
    for (int i = 1; i < threads_; ++i) workers_.emplace_back([this] { Worker(); });
  }
  nextTile_.store(0, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = static_cast<int>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
  // This thread draws too.
  const int tiles = tilesX_ * tilesY_;
  for (int t; (t = nextTile_.fetch_add(1, std::memory_order_relaxed)) < tiles;) DrawTile(t);
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return busy_ == 0; });
  }
  plans_.clear();
  setups_.clear();
  setupPlan_.clear();
  clears_.clear();
  commands_ = 0;
}

}  // namespace standin::raster
