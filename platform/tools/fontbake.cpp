// fontbake FONT OUT.inc: writes the System font's glyphs, read by the same
// loader as the desktop build's TextOutA, as C++ data for a build without
// FreeType (the web host compiles it in).
#include <cstdio>
#include <string>

#include "gdi/SystemFont.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fontbake FONT OUT.inc\n");
    return 2;
  }
  standin::SystemFont font;
  std::string error;
  if (!standin::LoadSystemFont(argv[1], &font, &error)) {
    std::fprintf(stderr, "fontbake: %s\n", error.c_str());
    return 1;
  }
  const std::string partial = std::string(argv[2]) + ".partial";
  FILE* out = std::fopen(partial.c_str(), "w");
  if (out == nullptr) {
    std::fprintf(stderr, "fontbake: cannot write %s\n", partial.c_str());
    return 1;
  }
  std::fprintf(out, "// Made by fontbake from %s; do not edit.\n", argv[1]);
  std::fprintf(out, "constexpr int kBakedCellHeight = %d, kBakedAscent = %d;\n", font.cellHeight, font.ascent);
  std::fprintf(out, "// present, advance, left, top, width, rows, offset\nconstexpr int kBakedGlyphs[256][7] = {\n");
  for (const standin::FontGlyph& g : font.glyphs)
    std::fprintf(out, "  {%d, %d, %d, %d, %d, %d, %d},\n", g.present ? 1 : 0, g.advance, g.left, g.top, g.width,
                 g.rows, g.offset);
  std::fprintf(out, "};\nconstexpr unsigned char kBakedPixels[%zu] = {", font.pixels.size() + 1);
  for (size_t i = 0; i < font.pixels.size(); ++i) std::fprintf(out, "%s%d,", i % 32 == 0 ? "\n  " : "", font.pixels[i]);
  std::fprintf(out, "\n  0};\n");
  const bool ok = std::fclose(out) == 0 && std::rename(partial.c_str(), argv[2]) == 0;
  if (!ok) {
    std::remove(partial.c_str());
    std::fprintf(stderr, "fontbake: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
