// Texture records from decoded images: resampled to a square power-of-two side
// and stored as RGB565 texels or as a 256-colour palette (libimagequant).
#ifndef VEFEXPORT_TEXTURE_H
#define VEFEXPORT_TEXTURE_H

#include <stdint.h>

#include <array>
#include <vector>

#include "Model.h"

namespace vefexport {

// Side for an image: the largest of 256, 128, 64, 32 that is <= `maxSide` and
// not above the image's larger dimension (32 at least).
int TextureSide(const Image& image, int maxSide);

// `image` resampled to side x side RGB (3 bytes per texel), each channel
// multiplied by `tint` (0..1). Down-sampling averages the source texels each
// output texel covers (box filter, exact area weights); up-sampling is
// bilinear with texel centres aligned. Results round to nearest.
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
