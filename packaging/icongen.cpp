// Draws the icon at build time: a violet orb on a pedestal of light
// inside a tumbling golden ring, on a dark blue rounded square, as in the demo.
// Writes an RGBA PNG of the given size.
//
//   icongen SIZE FILE
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Rgba {
  float r, g, b, a;  // 0..1, not premultiplied
};

// `top` over `under`, both 0..1.
Rgba Over(Rgba top, Rgba under) {
  const float a = top.a + under.a * (1 - top.a);
  if (a <= 0) return Rgba{0, 0, 0, 0};
  auto mix = [&](float t, float u) { return (t * top.a + u * under.a * (1 - top.a)) / a; };
  return Rgba{mix(top.r, under.r), mix(top.g, under.g), mix(top.b, under.b), a};
}

// Coverage of a shape given its signed distance in pixels (inside negative):
// a one-pixel ramp, so edges are antialiased.
float Coverage(float distance) { return std::clamp(0.5f - distance, 0.0f, 1.0f); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: icongen SIZE FILE\n");
    return 1;
  }
  const int size = std::atoi(argv[1]);
  if (size < 16 || size > 1024) {
    std::fprintf(stderr, "icongen: SIZE must be 16..1024\n");
    return 1;
  }
  const float unit = size / 2.0f;  // pixels per unit of the -1..1 square
  std::vector<uint8_t> rgba(static_cast<size_t>(size) * size * 4);
  for (int j = 0; j < size; ++j) {
    for (int i = 0; i < size; ++i) {
      const float x = (i + 0.5f) / unit - 1, y = (j + 0.5f) / unit - 1;
      // The rounded square: corner radius 0.25.
      const float qx = std::max(std::fabs(x) - 0.7f, 0.0f), qy = std::max(std::fabs(y) - 0.7f, 0.0f);
      const float square = (std::sqrt(qx * qx + qy * qy) - 0.25f) * unit;
      Rgba back{0.03f + 0.05f * (1 - y), 0.03f + 0.04f * (1 - y), 0.18f + 0.12f * (1 - y), Coverage(square)};
      Rgba c = back;
      // The pedestal's glow under the orb.
      const float glow = std::exp(-((x * x) / 0.08f + (y - 0.62f) * (y - 0.62f) / 0.01f));
      c = Over(Rgba{0.9f, 0.5f, 1.0f, 0.8f * glow * back.a}, c);
      // The back half of the ring (behind the orb): an ellipse outline tilted.
      const float angle = -0.35f, ca = std::cos(angle), sa = std::sin(angle);
      const float rx = ca * x - sa * (y + 0.05f), ry = sa * x + ca * (y + 0.05f);
      const float ellipse = std::sqrt(rx * rx / (0.78f * 0.78f) + ry * ry / (0.28f * 0.28f));
      const float ringDistance = std::fabs(ellipse - 1) * 0.28f * unit - 0.045f * unit;
      const Rgba gold{1.0f, 0.78f - 0.25f * ry, 0.25f, Coverage(ringDistance)};
      if (ry < 0) c = Over(gold, c);
      // The orb: a shaded violet sphere, lit from the upper left.
      const float ox = x / 0.48f, oy = (y + 0.05f) / 0.48f, d2 = ox * ox + oy * oy;
      const float orbDistance = (std::sqrt(d2) - 1) * 0.48f * unit;
      if (orbDistance < 1) {
        const float nz = std::sqrt(std::max(0.0f, 1 - d2));
        const float light = std::max(0.0f, (-0.5f * ox - 0.6f * oy + 0.62f * nz));
        const float spec = std::pow(std::max(0.0f, -0.3f * ox - 0.4f * oy + 0.87f * nz), 24.0f);
        Rgba orb{std::min(1.0f, 0.35f + 0.55f * light + spec), std::min(1.0f, 0.1f + 0.2f * light + spec),
                 std::min(1.0f, 0.55f + 0.45f * light + spec), Coverage(orbDistance)};
        c = Over(orb, c);
      }
      // The front half of the ring.
      if (ry >= 0) c = Over(gold, c);
      uint8_t* p = &rgba[(static_cast<size_t>(j) * size + i) * 4];
      p[0] = static_cast<uint8_t>(std::lround(std::clamp(c.r, 0.0f, 1.0f) * 255));
      p[1] = static_cast<uint8_t>(std::lround(std::clamp(c.g, 0.0f, 1.0f) * 255));
      p[2] = static_cast<uint8_t>(std::lround(std::clamp(c.b, 0.0f, 1.0f) * 255));
      p[3] = static_cast<uint8_t>(std::lround(std::clamp(c.a, 0.0f, 1.0f) * 255));
    }
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = size;
  image.height = size;
  image.format = PNG_FORMAT_RGBA;
  if (!png_image_write_to_file(&image, argv[2], 0, rgba.data(), 0, nullptr)) {
    std::fprintf(stderr, "icongen: %s: %s\n", argv[2], image.message);
    std::remove(argv[2]);
    return 1;
  }
  return 0;
}
