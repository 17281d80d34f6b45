// Texture records from decoded images: resampled to a square power-of-two side
// and stored as RGB565 texels or as a 256-colour palette (libimagequant).
#ifndef VEFEXPORT_TEXTURE_H
#define VEFEXPORT_TEXTURE_H

#include <stdint.h>

#include <array>
#include <vector>

#include "Model.h"

namespace vefexport {

// Colours. Model colours (glTF factors, light colours) are linear; textures
// and everything the player and device work with are 8-bit sRGB.
// sRGB-encoded e in 0..1 to linear: e / 12.92 up to 0.04045, else
// ((e + 0.055) / 1.055)^2.4. Clamped to 0..1 first.
double SrgbToLinear(double e);
// Linear v to 8-bit sRGB: 12.92 v up to 0.0031308, else 1.055 v^(1/2.4) - 0.055,
// times 255, rounded to nearest; below 0 gives 0, above 1 gives 255. For
// example 0.738 -> 223, 0.364 -> 163, 0.048 -> 62.
uint8_t LinearToSrgb8(double v);

// Side for an image: the largest of 256, 128, 64, 32 that is <= `maxSide` and
// not above the image's larger dimension (32 at least).
int TextureSide(const Image& image, int maxSide);

// `image` resampled to side x side RGB (3 bytes per texel), each channel
// multiplied by the linear factor `tint` (0..1) in linear light and encoded
// again (a factor of exactly 1 leaves the channel as resampled). Down-sampling
// averages the source texels each output texel covers (box filter, exact area
// weights); up-sampling is bilinear with texel centres aligned. Results round
// to nearest.
std::vector<uint8_t> ResampleRgb(const Image& image, int side, const std::array<double, 3>& tint);

// 8-bit channel to RGB565 field, rounded to nearest: (c * max + 127) / 255 with
// max 31 or 63, so 255 -> 31/63 and 0 -> 0.
std::vector<uint16_t> ToRgb565(const std::vector<uint8_t>& rgb);

// 256-colour palette (768 bytes) and one index per texel, by libimagequant.
// False if the quantiser fails.
bool ToPalette(const std::vector<uint8_t>& rgb, int side, std::vector<uint8_t>* palette,
               std::vector<uint8_t>* indices);

}  // namespace vefexport

#endif
