// Where a presented picture lands in what shows it; shared by every host.
#include <algorithm>
#include <cstdint>

#include "standin/desktop.h"

namespace standin {

FitRect PlacePicture(Scaling scaling, int srcWidth, int srcHeight, int dstWidth, int dstHeight) {
  if (srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0) return FitRect{0, 0, 0, 0};
  switch (scaling) {
    case Scaling::Stretch:
      return FitRect{0, 0, dstWidth, dstHeight};
    case Scaling::Integer: {
      const int factor = std::min(dstWidth / srcWidth, dstHeight / srcHeight);
      if (factor < 1) break;
      const int w = srcWidth * factor, h = srcHeight * factor;
      return FitRect{(dstWidth - w) / 2, (dstHeight - h) / 2, w, h};
    }
    case Scaling::Fit:
      break;
  }
  return FitWithAspect(srcWidth, srcHeight, dstWidth, dstHeight);
}

FitRect FitWithAspect(int srcWidth, int srcHeight, int dstWidth, int dstHeight) {
  if (srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0) return FitRect{0, 0, 0, 0};
  const int64_t sw = srcWidth, sh = srcHeight, dw = dstWidth, dh = dstHeight;
  int64_t w, h;
  if (dw * sh <= dh * sw) {  // the width limits
    w = dw;
    h = (sh * dw * 2 + sw) / (sw * 2);
  } else {
    h = dh;
    w = (sw * dh * 2 + sh) / (sh * 2);
  }
  return FitRect{static_cast<int>((dw - w) / 2), static_cast<int>((dh - h) / 2),
                 static_cast<int>(w), static_cast<int>(h)};
}

}  // namespace standin
