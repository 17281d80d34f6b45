#include "common/cp1252.h"

#include <cstring>

namespace standin {

namespace {
// 0x80..0x9F differ from Latin-1; the rest of the upper half is Latin-1.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};
}  // namespace

char32_t Cp1252ToCodePoint(uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHigh[byte - 0x80];
  return byte;
}

void AppendCp1252AsUtf8(const char* text, size_t length, std::string& out) {
  for (size_t i = 0; i < length; ++i) {
    char32_t c = Cp1252ToCodePoint(static_cast<uint8_t>(text[i]));
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

std::string Cp1252ToUtf8(const char* text, size_t length) {
  std::string out;
  out.reserve(length + length / 4);
  AppendCp1252AsUtf8(text, length, out);
  return out;
}

std::string Cp1252ToUtf8(const char* text) { return Cp1252ToUtf8(text, std::strlen(text)); }

}  // namespace standin
