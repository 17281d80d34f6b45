#include "SceneWriter.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "SceneFormat.h"

#ifdef _WIN32
// The Windows build (mingw-w64): no pwrite or fchmod, and a rename that does
// not replace an existing file.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
namespace {
ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  if (_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  return ::write(fd, data, static_cast<unsigned>(size));
}
int fchmod(int, int) { return 0; }  // a new file's rights follow its folder's
int RenameOver(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return 0;
  errno = EACCES;
  return -1;
}
}  // namespace
#else
namespace {
int RenameOver(const char* from, const char* to) { return std::rename(from, to); }
}  // namespace
#endif

namespace vef {

namespace fmt = SceneFormat;

MatrixBlock MatrixBlock::Translation(float x, float y, float z) {
  MatrixBlock m;
  m.translation = Float3{{x, y, z}};
  return m;
}

uint8_t MatrixBlock::flags() const {
  return static_cast<uint8_t>((angles ? fmt::kMatrixRotation : 0) | (scale ? fmt::kMatrixScale : 0) |
                              (translation ? fmt::kMatrixTranslation : 0));
}

void SceneWriter::put16(uint16_t v) {
  put8(static_cast<uint8_t>(v));
  put8(static_cast<uint8_t>(v >> 8));
}

void SceneWriter::put32(uint32_t v) {
  for (int i = 0; i < 4; ++i) put8(static_cast<uint8_t>(v >> (8 * i)));
}

void SceneWriter::putF(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  put32(bits);
}

void SceneWriter::putMatrix(const MatrixBlock& m) {
  for (const auto* part : {&m.angles, &m.scale, &m.translation}) {
    if (*part) {
      for (float f : **part) putF(f);
    }
  }
}

int32_t SceneWriter::beginRecord(uint8_t type, uint8_t flags, std::optional<int32_t> index) {
  int32_t idx = index ? *index : nextIndex_;
  if (idx > maxIndex_) maxIndex_ = idx;
  if (idx >= nextIndex_ && idx < INT32_MAX) nextIndex_ = idx + 1;
  put8(type);
  put8(flags);
  put32(static_cast<uint32_t>(idx));
  return idx;
}

int32_t SceneWriter::addMesh(const MeshRecord& r) {
  uint8_t flags = 0;
  if (r.byteIndices) flags |= fmt::kMeshByteIndices;
  if (r.vertexList) flags |= fmt::kMeshVertexList;
  if (r.uvList) flags |= fmt::kMeshUVs;
  if (r.runs) flags |= fmt::kMeshMaterialRuns;
  if (r.placement) flags |= fmt::kMeshPlacement | r.placement->flags();
  if (r.flags) flags = *r.flags;
  int32_t idx = beginRecord(fmt::kMesh, flags, r.index);
  put32(static_cast<uint32_t>(r.faceCount ? *r.faceCount : static_cast<int32_t>(r.faces.size())));
  for (const Index3& f : r.faces) {
    for (uint16_t v : f) {
      if (r.byteIndices) {
        put8(static_cast<uint8_t>(v));
      } else {
        put16(v);
      }
    }
  }
  if (r.vertexList) put32(static_cast<uint32_t>(*r.vertexList));
  if (r.runs) {
    put32(static_cast<uint32_t>(r.runs->size()));
    for (const MaterialRun& run : *r.runs) {
      put32(run.length);
      put32(static_cast<uint32_t>(run.material));
    }
  } else {
    put32(static_cast<uint32_t>(r.material));
  }
  if (r.uvList) {
    put32(static_cast<uint32_t>(*r.uvList));
    for (const Index3& f : r.uvs) {
      for (uint16_t v : f) put16(v);
    }
  }
  if (r.placement) putMatrix(*r.placement);
  ++meshes_;
  return idx;
}

int32_t SceneWriter::addVertexList(const VertexListRecord& r) {
  int32_t idx = beginRecord(fmt::kVertexList, r.flags ? *r.flags : 0, r.index);
  put32(r.count ? *r.count : static_cast<uint32_t>(r.positions.size()));
  for (const Float3& p : r.positions) {
    for (float f : p) putF(f);
  }
  ++vertexLists_;
  return idx;
}

int32_t SceneWriter::addKey(const KeyRecord& r) {
  uint8_t flags = r.matrix.flags();
  if (r.camera) flags |= fmt::kKeyCamera;
  if (r.extraByte) flags |= fmt::kKeyExtraByte;
  if (r.noMatrix) flags |= fmt::kKeyNoMatrix;
  if (r.object) flags |= fmt::kKeyObject;
  if (r.object && r.morph) flags |= fmt::kKeyMorph;
  if (r.flags) flags = *r.flags;
  int32_t idx = beginRecord(fmt::kKey, flags, r.index);
  put32(static_cast<uint32_t>(r.frame));
  put32(r.ignored);
  if (r.extraByte) put8(*r.extraByte);
  if (r.object) {
    put32(static_cast<uint32_t>(r.mesh));
    if (r.morph) put32(static_cast<uint32_t>(*r.morph));
  }
  if ((r.object || r.camera) && !r.noMatrix) putMatrix(r.matrix);
  if (r.object) ++objectKeys_;
  if (r.camera) ++cameras_;
  if (r.frame > maxFrame_) maxFrame_ = r.frame;
  return idx;
}

int32_t SceneWriter::addMaterial(const MaterialRecord& r) {
  const ColorField* fields[3] = {&r.color0, &r.diffuse, &r.color2};
  const uint8_t black[3] = {fmt::kMatColor0Black, fmt::kMatDiffuseBlack, fmt::kMatColor2Black};
  const uint8_t white[3] = {fmt::kMatColor0White, fmt::kMatDiffuseWhite, fmt::kMatColor2White};
  uint8_t flags = 0;
  for (int i = 0; i < 3; ++i) {
    if (fields[i]->mode == ColorField::kBlack) flags |= black[i];
    if (fields[i]->mode == ColorField::kWhite) flags |= white[i];
  }
  if (r.texture) flags |= fmt::kMatTexture;
  if (r.flags) flags = *r.flags;
  int32_t idx = beginRecord(fmt::kMaterial, flags, r.index);
  for (const ColorField* c : fields) {
    if (c->mode == ColorField::kBytes) {
      for (uint8_t b : c->rgb) put8(b);
    }
  }
  if (r.texture) put32(static_cast<uint32_t>(*r.texture));
  ++materials_;
  return idx;
}

int32_t SceneWriter::addUVList(const UVListRecord& r) {
  int32_t idx = beginRecord(fmt::kUVList, r.flags ? *r.flags : 0, r.index);
  put32(static_cast<uint32_t>(r.count ? *r.count : static_cast<int32_t>(r.coords.size())));
  for (const auto& uv : r.coords) {
    putF(uv[0]);
    putF(uv[1]);
  }
  ++uvLists_;
  return idx;
}

int32_t SceneWriter::addTexture(const TextureRecord& r) {
  uint8_t flags = 0;
  switch (r.side) {
    case 32: flags = fmt::kTex32; break;
    case 64: flags = fmt::kTex64; break;
    case 128: flags = fmt::kTex128; break;
    case 256: flags = fmt::kTex256; break;
    default: break;
  }
  if (r.rgb565) flags |= fmt::kTexRGB565;
  if (r.flags) flags = *r.flags;
  int32_t idx = beginRecord(fmt::kTexture, flags, r.index);
  if (r.side != 0) {
    if (r.rgb565) {
      for (uint16_t t : r.texels) put16(t);
    } else {
      body_.insert(body_.end(), r.palette.begin(), r.palette.end());
      body_.insert(body_.end(), r.indices.begin(), r.indices.end());
    }
  }
  ++textures_;
  return idx;
}

int32_t SceneWriter::addLight(const LightRecord& r) {
  uint8_t flags = r.matrix ? static_cast<uint8_t>(fmt::kLightMatrix | r.matrix->flags()) : 0;
  if (r.flags) flags = *r.flags;
  int32_t idx = beginRecord(fmt::kLight, flags, r.index);
  for (uint8_t b : r.color) put8(b);
  putF(r.intensity);
  if (r.matrix) putMatrix(*r.matrix);
  ++lights_;
  return idx;
}

void SceneWriter::addRaw(const std::vector<uint8_t>& bytes) {
  body_.insert(body_.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> SceneWriter::headerBytes() const {
  const HeaderOverride& h = header;
  uint32_t values[fmt::kHeaderValues] = {
      h.frameCount ? *h.frameCount : static_cast<uint32_t>(maxFrame_ + 1),
      static_cast<uint32_t>(h.meshes ? *h.meshes : meshes_),
      static_cast<uint32_t>(h.vertexLists ? *h.vertexLists : vertexLists_),
      h.cameras ? *h.cameras : cameras_,
      static_cast<uint32_t>(h.objectKeys ? *h.objectKeys : objectKeys_),
      static_cast<uint32_t>(h.materials ? *h.materials : materials_),
      static_cast<uint32_t>(h.uvLists ? *h.uvLists : uvLists_),
      static_cast<uint32_t>(h.textures ? *h.textures : textures_),
      static_cast<uint32_t>(h.lights ? *h.lights : lights_),
      static_cast<uint32_t>(h.recordTableSize ? *h.recordTableSize : maxIndex_ + 1),
  };
  std::vector<uint8_t> out;
  out.reserve(fmt::kHeaderSize);
  for (uint32_t v : values) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  return out;
}

std::vector<uint8_t> SceneWriter::takeBody() {
  std::vector<uint8_t> out;
  out.swap(body_);
  return out;
}

std::vector<uint8_t> SceneWriter::bytes() const {
  std::vector<uint8_t> out = headerBytes();
  out.insert(out.end(), body_.begin(), body_.end());
  return out;
}

bool SceneWriter::writeFile(const std::string& path, std::string* error) const {
  return WriteFileAtomically(path, bytes(), error);
}

bool AtomicFile::fail(const std::string& what, int err, std::string* error) {
  if (error) *error = path_ + ": " + what + ": " + std::strerror(err);
  abort();
  return false;
}

bool AtomicFile::open(const std::string& path, std::string* error) {
  abort();
  path_ = path;
  size_ = 0;
  std::string tmp = path + ".tmpXXXXXX";
  std::vector<char> name(tmp.begin(), tmp.end());
  name.push_back('\0');
  fd_ = mkstemp(name.data());
  if (fd_ < 0) return fail("cannot create temporary file", errno, error);
  temp_ = name.data();
  return true;
}

bool AtomicFile::write(const uint8_t* data, size_t size, std::string* error) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd_, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("write failed", errno, error);
    }
    done += static_cast<size_t>(n);
  }
  size_ += size;
  return true;
}

bool AtomicFile::writeAt(uint64_t offset, const std::vector<uint8_t>& bytes, std::string* error) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("write failed", errno, error);
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool AtomicFile::commit(std::string* error) {
  // mkstemp creates 0600; a scene file is an ordinary document.
  fchmod(fd_, 0644);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(temp_.c_str());
    temp_.clear();
    return fail("write failed", err, error);
  }
  if (RenameOver(temp_.c_str(), path_.c_str()) != 0) {
    int err = errno;
    ::unlink(temp_.c_str());
    temp_.clear();
    return fail("cannot rename temporary file", err, error);
  }
  temp_.clear();
  return true;
}

void AtomicFile::abort() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string* error) {
  AtomicFile file;
  return file.open(path, error) && file.write(bytes.data(), bytes.size(), error) && file.commit(error);
}

std::vector<uint8_t> TwoFrameSample() {
  SceneWriter w;
  int32_t list = w.addVertexList({1, {}, {}, {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}}});
  MaterialRecord white;
  white.index = 2;
  int32_t material = w.addMaterial(white);
  MeshRecord mesh;
  mesh.index = 3;
  mesh.faces = {{{0, 1, 2}}};
  mesh.vertexList = list;
  mesh.material = material;
  int32_t m = w.addMesh(mesh);
  for (int32_t frame = 0; frame < 2; ++frame) {
    KeyRecord camera;
    camera.index = 4 + 2 * frame;
    camera.frame = frame;
    camera.camera = true;
    w.addKey(camera);
    KeyRecord key;
    key.index = 5 + 2 * frame;
    key.frame = frame;
    key.object = true;
    key.mesh = m;
    key.matrix = MatrixBlock::Translation(0, 0, -10.0f * static_cast<float>(frame + 1));
    w.addKey(key);
  }
  LightRecord light;
  light.index = 8;
  light.matrix = MatrixBlock::Translation(0, 0, 0);
  w.addLight(light);
  return w.bytes();
}

}  // namespace vef
