// Pictures: RGB565 conversion, placing the shown picture, bilinear scaling, PNG files
// (compressed with ISA-L's igzip, read with libpng).
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "Capture.h"
#include "standin/rgb565.h"

namespace democapture {

void Rgb565ToRgb(const uint16_t* pixels, int width, int height, int pitchBytes, Image* out) {
  out->width = width;
  out->height = height;
  out->rgb.resize(size_t(width) * size_t(height) * 3);
  for (int y = 0; y < height; ++y) {
    const uint16_t* row = reinterpret_cast<const uint16_t*>(reinterpret_cast<const uint8_t*>(pixels) + size_t(y) * size_t(pitchBytes));
    uint8_t* o = out->rgb.data() + size_t(y) * size_t(width) * 3;
    for (int x = 0; x < width; ++x) {
      standin::Rgb565ToRgb8(row[x], o);
      o += 3;
    }
  }
}

void DevelopFrame(const standin::Picture& shown, const Layout& l, Image* work, Image* out) {
  const bool scaled = l.outWidth != l.frameWidth || l.outHeight != l.frameHeight;
  Image* frame = scaled ? work : out;
  frame->width = l.frameWidth;
  frame->height = l.frameHeight;
  frame->rgb.resize(size_t(l.frameWidth) * size_t(l.frameHeight) * 3);
  if (l.pictureWidth != l.frameWidth || l.pictureHeight != l.frameHeight)
    std::fill(frame->rgb.begin(), frame->rgb.end(), uint8_t(0));
  for (int y = 0; y < shown.height; ++y) {
    const uint8_t* in = static_cast<const uint8_t*>(shown.pixels) + ptrdiff_t(y) * shown.pitch;
    uint8_t* o = frame->rgb.data() + (size_t(l.pictureY + y) * size_t(l.frameWidth) + size_t(l.pictureX)) * 3;
    if (shown.format == standin::PixelFormat::RGB565) {
      const auto* row = reinterpret_cast<const uint16_t*>(in);
      for (int x = 0; x < shown.width; ++x, o += 3) standin::Rgb565ToRgb8(row[x], o);
    } else {
      const auto* row = reinterpret_cast<const uint32_t*>(in);
      for (int x = 0; x < shown.width; ++x, o += 3) {
        o[0] = uint8_t(row[x] >> 16);
        o[1] = uint8_t(row[x] >> 8);
        o[2] = uint8_t(row[x]);
      }
    }
  }
  if (scaled) *out = Scale(*frame, l.outWidth, l.outHeight);
}

Image Scale(const Image& in, int width, int height) {
  if (in.width == width && in.height == height) return in;
  Image out;
  out.width = width;
  out.height = height;
  out.rgb.resize(size_t(width) * size_t(height) * 3);
  const float sx = float(in.width) / float(width), sy = float(in.height) / float(height);
  for (int y = 0; y < height; ++y) {
    float fy = std::fmax(0.0f, (float(y) + 0.5f) * sy - 0.5f);
    int y0 = std::min(int(fy), in.height - 1), y1 = std::min(y0 + 1, in.height - 1);
    float ty = fy - float(y0);
    for (int x = 0; x < width; ++x) {
      float fx = std::fmax(0.0f, (float(x) + 0.5f) * sx - 0.5f);
      int x0 = std::min(int(fx), in.width - 1), x1 = std::min(x0 + 1, in.width - 1);
      float tx = fx - float(x0);
      for (int c = 0; c < 3; ++c) {
        auto at = [&](int px, int py) { return float(in.rgb[(size_t(py) * size_t(in.width) + size_t(px)) * 3 + size_t(c)]); };
        float top = at(x0, y0) + (at(x1, y0) - at(x0, y0)) * tx;
        float bottom = at(x0, y1) + (at(x1, y1) - at(x0, y1)) * tx;
        out.rgb[(size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(c)] = uint8_t(std::lround(top + (bottom - top) * ty));
      }
    }
  }
  return out;
}

namespace {

struct PngError {
  std::string message;
};

void OnPngError(png_structp png, png_const_charp message) {
  static_cast<PngError*>(png_get_error_ptr(png))->message = message;
  png_longjmp(png, 1);
}
void OnPngWarning(png_structp, png_const_charp) {}

}  // namespace

namespace {

void Put32(uint8_t* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = uint8_t(v >> (24 - 8 * i));
}

// Writes one chunk: length, type, data, CRC-32 of type and data (big-endian).
bool WriteChunk(FILE* f, const char type[4], const uint8_t* data, size_t size) {
  uint8_t head[8], tail[4];
  Put32(head, uint32_t(size));
  std::memcpy(head + 4, type, 4);
  uint32_t crc = libdeflate_crc32(0, head + 4, 4);
  if (size > 0) crc = libdeflate_crc32(crc, data, size);
  Put32(tail, crc);
  return std::fwrite(head, 1, 8, f) == 8 && (size == 0 || std::fwrite(data, 1, size, f) == size) &&
         std::fwrite(tail, 1, 4, f) == 4;
}

}  // namespace

bool WritePng(const std::string& path, const Image& image, int level, std::string* error) {
  // Work buffers live with the thread: a capture writes thousands of frames.
  thread_local std::vector<uint8_t> filtered, zlib, levelBuffer;
  // Each row: filter type 0 (none). On rendered frames the fast deflate below
  // packs unfiltered rows as small as sub- or up-filtered ones, and sooner.
  const size_t stride = size_t(image.width) * 3;
  filtered.resize((stride + 1) * size_t(image.height));
  for (int y = 0; y < image.height; ++y) {
    uint8_t* out = filtered.data() + size_t(y) * (stride + 1);
    out[0] = 0;
    std::memcpy(out + 1, image.rgb.data() + size_t(y) * stride, stride);
  }
  // One zlib stream in one IDAT chunk, from ISA-L's igzip: its fast levels
  // compress rendered frames about three times as fast as libdeflate's
  // fastest, for files about a tenth larger.
  static const uint32_t kLevelBytes[4] = {ISAL_DEF_LVL0_DEFAULT, ISAL_DEF_LVL1_DEFAULT, ISAL_DEF_LVL2_DEFAULT,
                                          ISAL_DEF_LVL3_DEFAULT};
  level = std::clamp(level, 0, 3);
  levelBuffer.resize(kLevelBytes[level]);
  // Deflate's worst case (stored blocks) plus the zlib header and trailer.
  zlib.resize(filtered.size() + filtered.size() / 16 + 1024);
  isal_zstream stream;
  isal_deflate_stateless_init(&stream);
  stream.gzip_flag = IGZIP_ZLIB;
  stream.level = uint32_t(level);
  stream.level_buf = levelBuffer.data();
  stream.level_buf_size = uint32_t(levelBuffer.size());
  stream.next_in = filtered.data();
  stream.avail_in = uint32_t(filtered.size());
  stream.next_out = zlib.data();
  stream.avail_out = uint32_t(zlib.size());
  stream.end_of_stream = 1;
  stream.flush = NO_FLUSH;
  if (filtered.size() > UINT32_MAX / 2 || isal_deflate_stateless(&stream) != COMP_OK) {
    *error = "cannot write '" + path + "': compression failed";
    return false;
  }
  const size_t packed = stream.total_out;

  const std::string temp = path + ".partial";
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) {
    *error = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
  }
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  uint8_t header[13];
  Put32(header, uint32_t(image.width));
  Put32(header + 4, uint32_t(image.height));
  const uint8_t format[5] = {8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, adaptive filters, no interlace
  std::memcpy(header + 8, format, 5);
  bool written = std::fwrite(kSignature, 1, 8, f) == 8 && WriteChunk(f, "IHDR", header, 13) &&
                 WriteChunk(f, "IDAT", zlib.data(), packed) && WriteChunk(f, "IEND", nullptr, 0);
  int saved = errno;
  if (std::fclose(f) != 0 && written) {
    written = false;
    saved = errno;
  }
  if (!written) {
    std::remove(temp.c_str());
    *error = "cannot write '" + path + "': " + std::strerror(saved);
    return false;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    *error = "cannot write '" + path + "': " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool ReadPng(const std::string& path, Image* image, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot open '" + path + "': " + std::strerror(errno);
    return false;
  }
  PngError state;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  volatile bool ok = png && info;  // read again after a jump
  std::vector<png_bytep> rows;  // outside the jump's reach: no destructor is skipped
  if (ok && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    png_read_info(png, info);
    // Any PNG becomes 8-bit RGB.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    image->width = int(png_get_image_width(png, info));
    image->height = int(png_get_image_height(png, info));
    if (png_get_rowbytes(png, info) != size_t(image->width) * 3) png_error(png, "unexpected row layout");
    image->rgb.assign(size_t(image->width) * size_t(image->height) * 3, 0);
    rows.resize(size_t(image->height));
    for (int y = 0; y < image->height; ++y) rows[size_t(y)] = image->rgb.data() + size_t(y) * size_t(image->width) * 3;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
  } else {
    ok = false;
  }
  png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
  std::fclose(f);
  if (!ok) *error = "'" + path + "' is not a readable PNG: " + state.message;
  return ok;
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

}  // namespace democapture
