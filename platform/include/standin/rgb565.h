// The 16-bit pixel format RGB565 (red bits 15..11, green 10..5, blue 4..0)
// widened to 8-bit channels by repeating the top bits:
//   r8 = r5 << 3 | r5 >> 2,  g8 = g6 << 2 | g6 >> 4,  b8 = b5 << 3 | b5 >> 2,
// so 0 stays 0 and the largest value becomes 255, as a display shows them.
//
// Not part of the Windows API: the stand-in, tests and tools include this.
#ifndef STANDIN_RGB565_H
#define STANDIN_RGB565_H

#include <stdint.h>

namespace standin {

// A 5-bit channel (0..31) as 0..255.
inline uint8_t Widen5(uint32_t c) { return static_cast<uint8_t>(c << 3 | c >> 2); }
// A 6-bit channel (0..63) as 0..255.
inline uint8_t Widen6(uint32_t c) { return static_cast<uint8_t>(c << 2 | c >> 4); }

// The pixel v as red, green, blue.
inline void Rgb565ToRgb8(uint16_t v, uint8_t rgb[3]) {
  rgb[0] = Widen5(v >> 11u);
  rgb[1] = Widen6((v >> 5u) & 63u);
  rgb[2] = Widen5(v & 31u);
}

}  // namespace standin

#endif
