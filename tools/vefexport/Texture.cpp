#include "Texture.h"

#include <algorithm>
#include <cmath>

namespace vefexport {

double SrgbToLinear(double e) {
  e = std::clamp(e, 0.0, 1.0);
  return e <= 0.04045 ? e / 12.92 : std::pow((e + 0.055) / 1.055, 2.4);
}

uint8_t LinearToSrgb8(double v) {
  if (!(v > 0)) return 0;  // NaN too
  if (v >= 1) return 255;
  const double e = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
  return uint8_t(std::lround(e * 255));
}

int TextureSide(const Image& image, int maxSide) {
  const int big = std::max(image.width, image.height);
  int side = 256;
  while (side > 32 && (side > maxSide || side > big)) side /= 2;
  return side;
}

std::vector<uint8_t> ResampleRgb(const Image& im, int side, const std::array<double, 3>& tint) {
  std::vector<uint8_t> out(size_t(side) * size_t(side) * 3);
  const double sx = double(im.width) / side, sy = double(im.height) / side;
  auto texel = [&](int x, int y, int c) { return double(im.rgba[(size_t(y) * size_t(im.width) + size_t(x)) * 4 + size_t(c)]); };
  for (int oy = 0; oy < side; ++oy) {
    for (int ox = 0; ox < side; ++ox) {
      double acc[3] = {0, 0, 0};
      if (sx >= 1 && sy >= 1) {
        // Box: the source rectangle [ox*sx, (ox+1)*sx) x [oy*sy, (oy+1)*sy), texels weighted by overlap.
        const double x0 = ox * sx, x1 = x0 + sx, y0 = oy * sy, y1 = y0 + sy;
        double total = 0;
        for (int y = int(y0); y < int(std::ceil(y1)) && y < im.height; ++y) {
          const double wy = std::min(y1, y + 1.0) - std::max(y0, double(y));
          for (int x = int(x0); x < int(std::ceil(x1)) && x < im.width; ++x) {
            const double w = wy * (std::min(x1, x + 1.0) - std::max(x0, double(x)));
            if (w <= 0) continue;
            total += w;
            for (int c = 0; c < 3; ++c) acc[c] += w * texel(x, y, c);
          }
        }
        for (double& a : acc) a /= total;
      } else {
        // Bilinear, centres aligned: source coordinate (o + 0.5) * scale - 0.5, clamped.
        const double fx = std::clamp((ox + 0.5) * sx - 0.5, 0.0, im.width - 1.0);
        const double fy = std::clamp((oy + 0.5) * sy - 0.5, 0.0, im.height - 1.0);
        const int x0 = int(fx), y0 = int(fy), x1 = std::min(x0 + 1, im.width - 1), y1 = std::min(y0 + 1, im.height - 1);
        const double ax = fx - x0, ay = fy - y0;
        for (int c = 0; c < 3; ++c)
          acc[c] = (1 - ay) * ((1 - ax) * texel(x0, y0, c) + ax * texel(x1, y0, c)) +
                   ay * ((1 - ax) * texel(x0, y1, c) + ax * texel(x1, y1, c));
      }
      for (int c = 0; c < 3; ++c)
        out[(size_t(oy) * size_t(side) + size_t(ox)) * 3 + size_t(c)] =
            tint[size_t(c)] == 1 ? uint8_t(std::clamp(std::lround(acc[c]), 0L, 255L))
                                 : LinearToSrgb8(SrgbToLinear(acc[c] / 255) * tint[size_t(c)]);
    }
  }
  return out;
}

std::vector<uint16_t> ToRgb565(const std::vector<uint8_t>& rgb) {
  std::vector<uint16_t> out(rgb.size() / 3);
  for (size_t i = 0; i < out.size(); ++i) {
    const unsigned r = (rgb[3 * i] * 31u + 127u) / 255u, g = (rgb[3 * i + 1] * 63u + 127u) / 255u,
                   b = (rgb[3 * i + 2] * 31u + 127u) / 255u;
    out[i] = uint16_t(r << 11 | g << 5 | b);
  }
  return out;
}

}  // namespace vefexport
