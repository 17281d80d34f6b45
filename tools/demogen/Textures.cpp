// Procedural textures: value noise, tiles, plasma and patterns. Every random
// choice comes from a fixed-seed generator per texture.
#include "Textures.h"

#include <algorithm>
#include <cmath>

#include "Random.h"

namespace demogen {
namespace {

constexpr float kPi = 3.14159265358979f;

// Tileable value noise on a period x period lattice of random values.
class Noise {
 public:
  Noise(int period, uint64_t seed) : period_(period), values_(size_t(period * period)) {
    Random random(seed);
    for (float& v : values_) v = random.Unit();
  }
  // Smoothly interpolated noise at (x, y) in lattice units, 0..1, wrapping.
  float At(float x, float y) const {
    int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    float fx = x - float(x0), fy = y - float(y0);
    fx = fx * fx * (3.0f - 2.0f * fx);
    fy = fy * fy * (3.0f - 2.0f * fy);
    float a = Value(x0, y0), b = Value(x0 + 1, y0), c = Value(x0, y0 + 1), d = Value(x0 + 1, y0 + 1);
    return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
  }
  // Four octaves, 0..1; x and y in 0..1 of the texture.
  float Fractal(float x, float y) const {
    float sum = 0.0f, amplitude = 0.5f, scale = float(period_) / 8.0f;
    for (int o = 0; o < 4; ++o) {
      sum += At(x * scale, y * scale) * amplitude;
      amplitude *= 0.5f;
      scale *= 2.0f;
    }
    return sum / 0.9375f;
  }

 private:
  float Value(int x, int y) const {
    x = ((x % period_) + period_) % period_;
    y = ((y % period_) + period_) % period_;
    return values_[size_t(y * period_ + x)];
  }
  int period_;
  std::vector<float> values_;
};

uint8_t Byte(float v) { return uint8_t(std::clamp(v, 0.0f, 1.0f) * 255.0f); }

struct Rgb {
  float r, g, b;
};
Rgb Mix(Rgb a, Rgb b, float t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

template <typename Shade>
Texture565 Make565(int side, Shade shade) {
  Texture565 t;
  t.side = side;
  t.texels.resize(size_t(side * side));
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      Rgb c = shade(x, y);
      t.texels[size_t(y * side + x)] = PackRgb565(Byte(c.r), Byte(c.g), Byte(c.b));
    }
  return t;
}

// A paletted texture from a 256-entry gradient and a 0..1 value per texel.
template <typename Gradient, typename Value>
TexturePaletted MakePaletted(int side, Gradient gradient, Value value) {
  TexturePaletted t;
  t.side = side;
  t.palette.resize(768);
  for (int i = 0; i < 256; ++i) {
    Rgb c = gradient(float(i) / 255.0f);
    t.palette[size_t(i * 3)] = Byte(c.r);
    t.palette[size_t(i * 3 + 1)] = Byte(c.g);
    t.palette[size_t(i * 3 + 2)] = Byte(c.b);
  }
  t.indices.resize(size_t(side * side));
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x)
      t.indices[size_t(y * side + x)] = uint8_t(std::clamp(value(x, y), 0.0f, 1.0f) * 255.0f);
  return t;
}

}  // namespace

uint16_t PackRgb565(uint8_t r, uint8_t g, uint8_t b) {
  return uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
}

Texture565 FloorTiles() {
  const int side = 256, tile = 64;
  Noise noise(32, 11);
  Random random(12);
  float tint[16];
  for (float& t : tint) t = 0.85f + 0.15f * random.Unit();
  return Make565(side, [&](int x, int y) {
    int tx = x % tile, ty = y % tile;
    float n = noise.Fractal(float(x) / side, float(y) / side);
    // Marble veins: a sine through the noise field.
    float vein = std::pow(std::fabs(std::sin((float(x + y) / side * 6.0f + n * 5.0f) * kPi)), 0.3f);
    float k = tint[(y / tile) * 4 + x / tile] * (0.75f + 0.25f * vein);
    Rgb stone{0.62f * k, 0.58f * k, 0.53f * k};
    // Grout, darker and slightly bevelled at the tile edges.
    int edge = std::min(std::min(tx, tile - 1 - tx), std::min(ty, tile - 1 - ty));
    if (edge < 2) return Rgb{0.12f, 0.11f, 0.1f};
    if (edge < 4) return Mix(stone, Rgb{0.3f, 0.28f, 0.25f}, 0.5f);
    return stone;
  });
}

TexturePaletted Mosaic() {
  const int side = 256;
  Noise noise(16, 21);
  auto gradient = [](float t) {
    // Dark teal through teal to gold.
    if (t < 0.5f) return Mix(Rgb{0.02f, 0.12f, 0.14f}, Rgb{0.1f, 0.55f, 0.55f}, t * 2.0f);
    return Mix(Rgb{0.6f, 0.45f, 0.12f}, Rgb{1.0f, 0.85f, 0.35f}, (t - 0.5f) * 2.0f);
  };
  return MakePaletted(side, gradient, [&](int x, int y) {
    // Diamond lattice of small tesserae; the diamonds' centres are gold.
    int cx = x % 64 - 32, cy = y % 64 - 32;
    float diamond = float(std::abs(cx) + std::abs(cy)) / 32.0f;
    float jitter = noise.Fractal(float(x) / side, float(y) / side) * 0.2f;
    bool grout = (x % 8 == 0) || (y % 8 == 0);
    if (grout) return 0.02f;
    if (diamond < 0.55f) return 0.6f + 0.35f * (1.0f - diamond / 0.55f) + jitter * 0.2f;
    return 0.15f + 0.3f * (diamond - 0.55f) + jitter;
  });
}

TexturePaletted ColumnStone() {
  const int side = 128;
  Noise noise(16, 31);
  auto gradient = [](float t) { return Mix(Rgb{0.3f, 0.22f, 0.15f}, Rgb{0.95f, 0.85f, 0.68f}, t); };
  return MakePaletted(side, gradient, [&](int x, int y) {
    float n = noise.Fractal(float(x) / side, float(y) / side);
    int course = y % 32;
    float joint = (course < 2) ? 0.35f : 1.0f;
    // Vertical fluting: darker grooves around the shaft.
    float flute = 0.8f + 0.2f * std::cos(float(x) / side * 16.0f * kPi);
    return (0.35f + 0.65f * n) * joint * flute;
  });
}

Texture565 Plasma() {
  const int side = 128;
  return Make565(side, [&](int x, int y) {
    float u = float(x) / side * 2.0f * kPi, v = float(y) / side * 2.0f * kPi;
    float p = std::sin(u * 2.0f) + std::sin(v * 3.0f + u) + std::sin((u + v) * 2.0f) + std::sin(u * 5.0f - v * 2.0f) * 0.5f;
    float t = 0.5f + p / 7.0f;
    // Deep blue through magenta to hot white.
    Rgb c = t < 0.5f ? Mix(Rgb{0.1f, 0.05f, 0.45f}, Rgb{0.85f, 0.2f, 0.85f}, t * 2.0f)
                     : Mix(Rgb{0.85f, 0.2f, 0.85f}, Rgb{1.0f, 0.95f, 0.8f}, (t - 0.5f) * 2.0f);
    return c;
  });
}

Texture565 Circuit() {
  const int side = 64;
  Random random(41);
  std::vector<uint8_t> traces(size_t(side * side), 0);
  // Random right-angled traces on a 4-texel grid.
  for (int n = 0; n < 22; ++n) {
    int x = int(random.Below(16)) * 4, y = int(random.Below(16)) * 4;
    for (int s = 0; s < 6; ++s) {
      bool horizontal = random.Below(2) == 0;
      int length = 4 * int(1 + random.Below(4));
      for (int i = 0; i < length; ++i) {
        traces[size_t(((y + side) % side) * side + (x + side) % side)] = 1;
        if (horizontal) ++x; else ++y;
      }
    }
    traces[size_t(((y + side) % side) * side + (x + side) % side)] = 2;
  }
  return Make565(side, [&](int x, int y) {
    uint8_t t = traces[size_t(y * side + x)];
    if (t == 2) return Rgb{1.0f, 0.85f, 0.3f};
    if (t == 1) return Rgb{0.75f, 0.9f, 0.45f};
    bool frame = x < 2 || y < 2 || x >= side - 2 || y >= side - 2;
    return frame ? Rgb{0.15f, 0.2f, 0.15f} : Rgb{0.05f, 0.35f, 0.15f};
  });
}

TexturePaletted Bricks() {
  const int side = 64;
  Noise noise(8, 51);
  Random random(52);
  float shade[32];
  for (float& s : shade) s = 0.55f + 0.45f * random.Unit();
  auto gradient = [](float t) {
    if (t < 0.1f) return Rgb{0.5f, 0.48f, 0.45f};  // mortar
    return Mix(Rgb{0.35f, 0.1f, 0.06f}, Rgb{0.85f, 0.35f, 0.2f}, (t - 0.1f) / 0.9f);
  };
  return MakePaletted(side, gradient, [&](int x, int y) {
    int row = y / 8, offset = (row % 2) * 8;
    int bx = (x + offset) % side;
    if (y % 8 == 0 || bx % 16 == 0) return 0.05f;
    float n = noise.Fractal(float(x) / side, float(y) / side);
    return 0.12f + 0.88f * shade[size_t((row * 4 + bx / 16) % 32)] * (0.8f + 0.2f * n);
  });
}

Texture565 Checker() {
  return Make565(32, [](int x, int y) {
    bool white = ((x / 8) + (y / 8)) % 2 == 0;
    return white ? Rgb{0.92f, 0.94f, 1.0f} : Rgb{0.15f, 0.3f, 0.8f};
  });
}

TexturePaletted Stripes() {
  auto gradient = [](float t) { return Mix(Rgb{0.08f, 0.07f, 0.05f}, Rgb{1.0f, 0.72f, 0.1f}, t); };
  return MakePaletted(32, gradient, [](int x, int y) {
    return ((x + y) / 8) % 2 == 0 ? 1.0f : 0.05f;
  });
}

}  // namespace demogen
