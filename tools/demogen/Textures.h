// Procedural textures of the default scene. Each is a square image of 3-byte
// texels (red, green, blue), rows first to last, and is stored in the scene
// either as RGB565 texels or as a 256-colour palette with indices.
#ifndef DEMOGEN_TEXTURES_H
#define DEMOGEN_TEXTURES_H

#include <cstdint>
#include <vector>

namespace demogen {

// An RGB565 texture: side*side values, bits 15..11 red, 10..5 green, 4..0 blue.
struct Texture565 {
  int side = 0;                 // texels: 32, 64, 128 or 256
  std::vector<uint16_t> texels; // rows first to last
};

// A paletted texture: 256 entries of (red, green, blue) and one index per texel.
struct TexturePaletted {
  int side = 0;                 // texels: 32, 64, 128 or 256
  std::vector<uint8_t> palette; // 768 bytes
  std::vector<uint8_t> indices; // side*side
};

// RGB565 of 8-bit channels, each truncated: (r >> 3) << 11 | (g >> 2) << 5 | b >> 3.
uint16_t PackRgb565(uint8_t r, uint8_t g, uint8_t b);

Texture565 FloorTiles();         // 256: four by four stone tiles with grout
TexturePaletted Mosaic();        // 256: gold and teal mosaic of the floor's inlay
TexturePaletted ColumnStone();   // 128: sandstone courses
Texture565 Plasma();             // 128: glowing plasma of the morphing orb
Texture565 Circuit();            // 64: green circuit board
TexturePaletted Bricks();        // 64: red bricks of the pedestal
Texture565 Checker();            // 32: blue and white checker
TexturePaletted Stripes();       // 32: amber hazard stripes

}  // namespace demogen

#endif
