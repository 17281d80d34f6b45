// A renderer for tests: keeps every draw with its textures and vertices, every
// texture selection, every upload and every text, in call order.
#ifndef TESTS_PIPELINE_RECORDINGRENDERER_H
#define TESTS_PIPELINE_RECORDINGRENDERER_H

#include <stdarg.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "Renderer.h"
#include "Scene.h"

struct RecordedDraw {
  int texture0;                    // CurrentTexture0 when the batch was drawn
  int texture1;                    // CurrentTexture1
  std::vector<TLVertex> vertices;  // 3 per triangle
};

struct RecordedPrint {
  uint32_t color;
  int x, y;
  std::string text;
};

// One entry per call, to check the order of selections, draws and prints.
struct RecordedEvent {
  enum Kind { kFlush, kSelect, kPrint } kind;
  int a, b;  // kFlush: triangles drawn (0 for an empty batch); kSelect: index, stage
};

class RecordingRenderer : public Renderer {
 public:
  int width = 800;
  int height = 600;
  std::vector<RecordedDraw> draws;  // non-empty flushes only
  int flushCalls = 0;               // every Flush, empty ones included
  std::vector<RecordedPrint> prints;
  std::vector<RecordedEvent> events;
  std::vector<const Texture*> uploads;
  std::vector<std::vector<uint8_t>> uploadedPixels;  // copies: the player frees the originals

  int GetWidth() override { return width; }
  int GetHeight() override { return height; }
  void Present() override {}
  void Print(uint32_t color, int x, int y, const char* format, ...) override {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    prints.push_back({color, x, y, text});
    events.push_back({RecordedEvent::kPrint, x, y});
  }
  void WindowChanged() override {}
  void Flush() override {
    ++flushCalls;
    events.push_back({RecordedEvent::kFlush, TriangleCount, 0});
    if (TriangleCount == 0) return;
    draws.push_back({CurrentTexture0, CurrentTexture1,
                     std::vector<TLVertex>(Vertices, Vertices + 3 * TriangleCount)});
    TriangleCount = 0;
  }
  int UploadTexture(Texture& texture) override {
    uploads.push_back(&texture);
    uploadedPixels.emplace_back(texture.pixels,
                                texture.pixels + size_t(texture.width) * texture.height * 3);
    return 10 + static_cast<int>(uploads.size()) - 1;
  }
  void SelectTexture(int index, int stage) override {
    events.push_back({RecordedEvent::kSelect, index, stage});
  }
  void FreeTexture(int) override {}
  void FreeAllTextures() override {}
  void ClearFrame(uint32_t, float) override {}

  int Selections() const {
    int n = 0;
    for (const RecordedEvent& e : events) n += e.kind == RecordedEvent::kSelect;
    return n;
  }
};

// A renderer whose Flush only empties the batch (benchmarks, allocation counts).
class DiscardingRenderer : public Renderer {
 public:
  long long triangles = 0;
  int GetWidth() override { return 800; }
  int GetHeight() override { return 600; }
  void Present() override {}
  void Print(uint32_t, int, int, const char*, ...) override {}
  void WindowChanged() override {}
  void Flush() override {
    triangles += TriangleCount;
    TriangleCount = 0;
  }
  int UploadTexture(Texture&) override { return 0; }
  void SelectTexture(int, int) override {}
  void FreeTexture(int) override {}
  void FreeAllTextures() override {}
  void ClearFrame(uint32_t, float) override {}
};

#endif
