// F12's picture files: where they go, and the picture as an 8-bit RGB PNG.
#include "sdlhost/screenshot.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <vector>

#include "standin/desktop.h"
#include "standin/rgb565.h"

namespace standin {

std::string PicturesFolder(const char* pictureDirEnv, const char* home, const std::string& userDirs) {
  if (pictureDirEnv != nullptr && *pictureDirEnv != '\0') return pictureDirEnv;
  std::istringstream lines(userDirs);
  std::string line, found;
  const std::string key = "XDG_PICTURES_DIR=";
  while (std::getline(lines, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
    std::string value = line.substr(start + key.size());
    // The format: a double-quoted absolute path or one under "$HOME/".
    if (value.size() < 2 || value.front() != '"') continue;
    size_t close = value.find('"', 1);
    if (close == std::string::npos) continue;
    value = value.substr(1, close - 1);
    if (value.compare(0, 5, "$HOME") == 0) {
      if (home == nullptr || *home == '\0') continue;
      std::string rest = value.substr(5);
      if (rest.empty() || rest == "/") return std::string();  // $HOME itself: disabled
      if (rest[0] != '/') continue;
      found = std::string(home) + rest;
    } else if (value[0] == '/') {
      found = value;
    }
  }
  return found;
}

std::string PicturesFolderHere() {
  const char* home = std::getenv("HOME");
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string file = config != nullptr && *config == '/'
                         ? std::string(config) + "/user-dirs.dirs"
                         : std::string(home != nullptr ? home : "") + "/.config/user-dirs.dirs";
  std::ifstream in(file);
  std::stringstream text;
  if (in) text << in.rdbuf();
  std::string folder = PicturesFolder(std::getenv("XDG_PICTURES_DIR"), home, text.str());
  struct stat st;
  if (folder.empty() || stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ".";
  return folder;
}

void PictureToRgb8(const Picture& picture, std::vector<uint8_t>* rgb) {
  rgb->resize(static_cast<size_t>(picture.width) * picture.height * 3);
  uint8_t* out = rgb->data();
  for (int y = 0; y < picture.height; ++y) {
    const uint8_t* row = static_cast<const uint8_t*>(picture.pixels) + static_cast<ptrdiff_t>(y) * picture.pitch;
    for (int x = 0; x < picture.width; ++x) {
      if (picture.format == PixelFormat::RGB565) {
        uint16_t v;
        std::memcpy(&v, row + x * 2, 2);
        standin::Rgb565ToRgb8(v, out);
        out += 3;
      } else {
        uint32_t v;
        std::memcpy(&v, row + x * 4, 4);
        *out++ = static_cast<uint8_t>(v >> 16);
        *out++ = static_cast<uint8_t>(v >> 8);
        *out++ = static_cast<uint8_t>(v);
      }
    }
  }
}

namespace {

struct PngFailure {
  std::string message;
};

void OnPngError(png_structp png, png_const_charp message) {
  static_cast<PngFailure*>(png_get_error_ptr(png))->message = message;
  png_longjmp(png, 1);
}
void OnPngWarning(png_structp, png_const_charp) {}

// Writes the whole file or returns false; the caller removes a partial file.
bool WritePng(FILE* file, const Picture& picture, std::string* error) {
  std::vector<uint8_t> rgb;
  PictureToRgb8(picture, &rgb);
  PngFailure failure;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, OnPngError, OnPngWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    *error = "out of memory";
    return false;
  }
  std::vector<png_bytep> rows(static_cast<size_t>(picture.height));
  for (int y = 0; y < picture.height; ++y) rows[y] = rgb.data() + static_cast<size_t>(y) * picture.width * 3;
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    *error = failure.message;
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::string SaveScreenshot(const Picture& picture, const std::string& folder, const std::string& prefix,
                           std::string* error) {
  if (picture.pixels == nullptr || picture.width <= 0 || picture.height <= 0) {
    *error = "nothing has been shown yet";
    return std::string();
  }
  const std::string part = folder + "/." + prefix + "-" + std::to_string(getpid()) + ".png.part";
  FILE* file = std::fopen(part.c_str(), "wb");
  if (file == nullptr) {
    *error = part + ": " + std::strerror(errno);
    return std::string();
  }
  const bool written = WritePng(file, picture, error);
  if (std::fclose(file) != 0 && written) *error = part + ": " + std::strerror(errno);
  if (!written || !error->empty()) {
    std::remove(part.c_str());
    return std::string();
  }
  // The finished file gets a name of its own: link() never replaces one that
  // exists, so two pictures taken in the same second both stay.
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string name;
  for (int n = 1; n < 1000; ++n) {
    name = folder + "/" + prefix + "-" + stamp + (n > 1 ? "-" + std::to_string(n) : "") + ".png";
    if (link(part.c_str(), name.c_str()) == 0) break;
    if (errno != EEXIST) {
      *error = name + ": " + std::strerror(errno);
      name.clear();
      break;
    }
    name.clear();
  }
  std::remove(part.c_str());
  if (name.empty() && error->empty()) *error = folder + ": no free file name";
  return name;
}

}  // namespace standin
