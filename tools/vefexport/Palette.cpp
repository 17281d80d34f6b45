// The 256-colour textures: libimagequant's quantiser. A file of its own so
// that a build without the library (Windows) leaves it out.
#include <libimagequant.h>

#include <algorithm>

#include "Texture.h"

namespace vefexport {

bool ToPalette(const std::vector<uint8_t>& rgb, int side, std::vector<uint8_t>* palette,
               std::vector<uint8_t>* indices) {
  std::vector<uint8_t> rgba(size_t(side) * size_t(side) * 4);
  for (size_t i = 0; i < rgba.size() / 4; ++i) {
    std::copy_n(&rgb[3 * i], 3, &rgba[4 * i]);
    rgba[4 * i + 3] = 255;
  }
  liq_attr* attr = liq_attr_create();
  if (!attr) return false;
  liq_set_max_colors(attr, 256);
  liq_image* img = liq_image_create_rgba(attr, rgba.data(), side, side, 0);
  liq_result* res = nullptr;
  bool ok = img && liq_image_quantize(img, attr, &res) == LIQ_OK;
  if (ok) {
    indices->assign(size_t(side) * size_t(side), 0);
    ok = liq_write_remapped_image(res, img, indices->data(), indices->size()) == LIQ_OK;
    const liq_palette* pal = liq_get_palette(res);
    palette->assign(768, 0);
    for (unsigned i = 0; ok && i < pal->count && i < 256; ++i) {
      (*palette)[3 * i] = pal->entries[i].r;
      (*palette)[3 * i + 1] = pal->entries[i].g;
      (*palette)[3 * i + 2] = pal->entries[i].b;
    }
  }
  if (res) liq_result_destroy(res);
  if (img) liq_image_destroy(img);
  liq_attr_destroy(attr);
  return ok;
}

}  // namespace vefexport
