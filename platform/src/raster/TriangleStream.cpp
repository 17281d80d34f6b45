#include "raster/TriangleStream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace standin::raster {

namespace {

class Reader {
 public:
  Reader(const std::vector<uint8_t>& data) : data_(data) {}
  bool Has(size_t n) const { return n <= data_.size() - pos_; }
  size_t Remaining() const { return data_.size() - pos_; }
  template <typename T>
  T Get() {
    T v;
    std::memcpy(&v, data_.data() + pos_, sizeof v);
    pos_ += sizeof v;
    return v;
  }
  void Copy(void* out, size_t n) {
    std::memcpy(out, data_.data() + pos_, n);
    pos_ += n;
  }
  size_t Position() const { return pos_; }

 private:
  const std::vector<uint8_t>& data_;
  size_t pos_ = 0;
};

}  // namespace

bool LoadTriangleStream(const std::string& path, TriangleStream* out, std::string* error) {
  auto fail = [&](const std::string& what) {
    *error = path + ": " + what;
    return false;
  };
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return fail(std::string("cannot open: ") + std::strerror(errno));
  std::vector<uint8_t> data;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  const bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (readError) return fail("read error");

  Reader r(data);
  if (!r.Has(48)) return fail("file of " + std::to_string(data.size()) + " bytes is shorter than the 48-byte header");
  char magic[4];
  r.Copy(magic, 4);
  if (std::memcmp(magic, "TRS1", 4) != 0) return fail("not a TRS1 stream (bad magic)");
  const uint32_t version = r.Get<uint32_t>();
  if (version != 1) return fail("version " + std::to_string(version) + ", expected 1");
  const uint32_t width = r.Get<uint32_t>(), height = r.Get<uint32_t>();
  if (width == 0 || height == 0 || width > 16384 || height > 16384) {
    return fail("screen size " + std::to_string(width) + " x " + std::to_string(height) + " out of range");
  }
  const uint32_t numTextures = r.Get<uint32_t>(), numFrames = r.Get<uint32_t>();
  out->width = static_cast<int>(width);
  out->height = static_cast<int>(height);
  out->maxBatch = r.Get<uint32_t>();
  out->cull = r.Get<uint32_t>();
  if (out->maxBatch == 0) return fail("max batch is 0");
  if (out->cull > 2) return fail("cull mode " + std::to_string(out->cull) + " is not 0, 1 or 2");
  r.Get<float>();
  r.Get<float>();
  r.Get<uint32_t>();
  r.Get<uint32_t>();

  out->textures.clear();
  for (uint32_t t = 0; t < numTextures; ++t) {
    if (!r.Has(4)) return fail("texture " + std::to_string(t) + ": header past the end of the file");
    const uint32_t side = r.Get<uint32_t>();
    if (side < 32 || side > 256) return fail("texture " + std::to_string(t) + ": side " + std::to_string(side) + " not in 32..256");
    const size_t bytes = static_cast<size_t>(side) * side * 2;
    if (!r.Has(bytes)) return fail("texture " + std::to_string(t) + ": " + std::to_string(bytes) + " bytes of texels, " + std::to_string(r.Remaining()) + " left");
    StreamTexture tex;
    tex.side = static_cast<int>(side);
    tex.texels.resize(static_cast<size_t>(side) * side);
    r.Copy(tex.texels.data(), bytes);
    out->textures.push_back(std::move(tex));
  }

  out->frames.clear();
  for (uint32_t fr = 0; fr < numFrames; ++fr) {
    if (!r.Has(16)) return fail("frame " + std::to_string(fr) + ": header past the end of the file");
    StreamFrame frame;
    const uint32_t count = r.Get<uint32_t>();
    frame.front = r.Get<uint32_t>();
    frame.covered = r.Get<uint64_t>();
    if (static_cast<uint64_t>(count) * 88 > r.Remaining()) {
      return fail("frame " + std::to_string(fr) + ": " + std::to_string(count) + " triangles of 88 bytes, " + std::to_string(r.Remaining()) + " bytes left");
    }
    frame.triangles.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
      StreamTriangle& t = frame.triangles[i];
      r.Copy(t.v, sizeof t.v);
      t.texture = r.Get<uint32_t>();
      if (t.texture >= numTextures) {
        return fail("frame " + std::to_string(fr) + ", triangle " + std::to_string(i) + ": texture " + std::to_string(t.texture) + " of " + std::to_string(numTextures));
      }
    }
    out->frames.push_back(std::move(frame));
  }
  if (r.Remaining() != 0) return fail(std::to_string(r.Remaining()) + " bytes after the last frame");
  return true;
}

}  // namespace standin::raster
