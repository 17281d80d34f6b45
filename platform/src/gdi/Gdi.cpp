// GDI text on a raster target: TextOutA with the System font and GDI's
// defaults for a new device context (black text on an opaque white box the
// size of the text, alignment left/top: y is the top of the text cell).
#include "gdi/Gdi.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "gdi/SystemFont.h"
#include "standin/graphics.h"

namespace standin {

namespace {

struct DeviceContext {
  raster::Target target;
  AxisScale scaleX, scaleY;
  DrawnCallback drawn = nullptr;
  void* owner = nullptr;
};

std::vector<DeviceContext*>& LiveContexts() {
  static std::vector<DeviceContext*> contexts;
  return contexts;
}

DeviceContext* Lookup(HDC handle) {
  auto* dc = reinterpret_cast<DeviceContext*>(handle);
  const auto& live = LiveContexts();
  return std::find(live.begin(), live.end(), dc) != live.end() ? dc : nullptr;
}

bool g_textShown = true;

// Black and white in the target's pixel format.
constexpr uint32_t kTextPixel = 0;
uint32_t WhitePixel(raster::ColorFormat format) {
  return format == raster::ColorFormat::RGB565 ? 0xFFFF : 0xFFFFFF;
}

}  // namespace

void SetTextShown(bool shown) { g_textShown = shown; }

HDC CreateDC(const raster::Target& target, AxisScale scaleX, AxisScale scaleY, DrawnCallback drawn,
             void* owner) {
  auto* dc = new DeviceContext{target, scaleX, scaleY, drawn, owner};
  LiveContexts().push_back(dc);
  return reinterpret_cast<HDC>(dc);
}

void DestroyDC(HDC handle) {
  DeviceContext* dc = Lookup(handle);
  if (dc == nullptr) return;
  auto& live = LiveContexts();
  live.erase(std::remove(live.begin(), live.end(), dc), live.end());
  delete dc;
}

bool IsLiveDC(HDC handle) { return Lookup(handle) != nullptr; }

}  // namespace standin

extern "C" BOOL WINAPI TextOutA(HDC handle, int x, int y, LPCSTR text, int length) {
  standin::DeviceContext* dc = standin::Lookup(handle);
  if (dc == nullptr || length < 0 || (text == nullptr && length > 0)) return FALSE;
  if (length == 0 || !standin::g_textShown) return TRUE;
  const standin::SystemFont* font = standin::GetSystemFont();
  if (font == nullptr) return FALSE;

  const standin::raster::Target& target = dc->target;
  const int bpp = target.format == standin::raster::ColorFormat::RGB565 ? 2 : 4;
  // Positions and glyphs are in text pixels; each becomes the block of device
  // pixels the context's scale gives (one pixel unless the resolution is forced).
  const standin::AxisScale& sx = dc->scaleX;
  const standin::AxisScale& sy = dc->scaleY;
  const bool unscaled = sx.Unscaled() && sy.Unscaled();
  auto put = [&](int px, int py, uint32_t value) {
    const int x0 = std::max(0, unscaled ? px : sx.Edge(px));
    const int x1 = std::min(target.width, unscaled ? px + 1 : sx.Edge(px + 1));
    const int y0 = std::max(0, unscaled ? py : sy.Edge(py));
    const int y1 = std::min(target.height, unscaled ? py + 1 : sy.Edge(py + 1));
    for (int dy = y0; dy < y1; ++dy) {
      uint8_t* p = target.color + static_cast<ptrdiff_t>(dy) * target.pitch + static_cast<ptrdiff_t>(x0) * bpp;
      for (int dx = x0; dx < x1; ++dx, p += bpp) {
        if (bpp == 2) {
          const uint16_t v = static_cast<uint16_t>(value);
          std::memcpy(p, &v, 2);
        } else {
          std::memcpy(p, &value, 4);
        }
      }
    }
  };

  // The opaque box: the text cell as wide as the advances.
  int width = 0;
  for (int i = 0; i < length; ++i) {
    const standin::FontGlyph& g = font->glyphs[static_cast<unsigned char>(text[i])];
    if (g.present) width += g.advance;
  }
  const uint32_t white = standin::WhitePixel(target.format);
  for (int py = y; py < y + font->cellHeight; ++py) {
    for (int px = x; px < x + width; ++px) put(px, py, white);
  }
  // The glyphs, top of the cell at y.
  int pen = x;
  for (int i = 0; i < length; ++i) {
    const standin::FontGlyph& g = font->glyphs[static_cast<unsigned char>(text[i])];
    if (!g.present) continue;
    const int top = y + font->ascent - g.top;
    const uint8_t* ink = font->pixels.data() + g.offset;
    for (int row = 0; row < g.rows; ++row) {
      for (int col = 0; col < g.width; ++col) {
        if (ink[row * g.width + col] != 0) put(pen + g.left + col, top + row, standin::kTextPixel);
      }
    }
    pen += g.advance;
  }
  if (dc->drawn != nullptr) dc->drawn(dc->owner);
  return TRUE;
}
