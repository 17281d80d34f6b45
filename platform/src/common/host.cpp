#include "standin/host.h"

#include <cstring>

namespace standin {

namespace {
Host* g_host = nullptr;

int BytesPerPixel(PixelFormat format) { return format == PixelFormat::RGB565 ? 2 : 4; }
}  // namespace

HeadlessHost& DefaultHeadlessHost() {
  static HeadlessHost host;
  return host;
}

Host& CurrentHost() { return g_host != nullptr ? *g_host : DefaultHeadlessHost(); }

void SetHost(Host* host) { g_host = host; }

void HeadlessHost::SetDisplayMode(int width, int height, int bitsPerPixel) {
  modeWidth_ = width;
  modeHeight_ = height;
  modeBits_ = bitsPerPixel;
}

void HeadlessHost::GetDisplayMode(int* width, int* height, int* bitsPerPixel) const {
  if (width != nullptr) *width = modeWidth_;
  if (height != nullptr) *height = modeHeight_;
  if (bitsPerPixel != nullptr) *bitsPerPixel = modeBits_;
}

void HeadlessHost::Present(HWND window, const Picture& picture, bool /*waitForVerticalBlank*/) {
  const int rowBytes = picture.width * BytesPerPixel(picture.format);
  last_.resize(static_cast<size_t>(rowBytes) * static_cast<size_t>(picture.height));
  const auto* src = static_cast<const uint8_t*>(picture.pixels);
  if (src == nullptr || last_.empty()) {
    // nothing to copy
  } else if (picture.pitch == rowBytes) {
    std::memcpy(last_.data(), src, last_.size());  // rows that touch: one copy
  } else {
    for (int y = 0; y < picture.height; ++y) {
      std::memcpy(last_.data() + static_cast<size_t>(y) * rowBytes,
                  src + static_cast<ptrdiff_t>(y) * picture.pitch, static_cast<size_t>(rowBytes));
    }
  }
  lastWidth_ = picture.width;
  lastHeight_ = picture.height;
  lastFormat_ = picture.format;
  lastWindow_ = window;
  ++presentCount_;
}

}  // namespace standin
