// vef::SceneWriter - builds scene files ("*.2vef") record by record.
//
// Usage:
//   vef::SceneWriter w;
//   int32_t list = w.addVertexList({{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}});
//   vef::MeshRecord mesh;  mesh.faces = {{0, 1, 2}};  mesh.vertexList = list;
//   int32_t m = w.addMesh(mesh);
//   ...
//   std::string error;
//   if (!w.writeFile("scene.2vef", &error)) { ... }
//
// Records are written in the order they are added, each as it is added, so the
// writer can also produce files whose references point forward or nowhere.
// Record indices are assigned automatically (1, 2, 3, ...; 0 is never handed
// out because it means "none" in several refs) unless a record gives its own;
// an automatic index is always one above the largest index used so far.
//
// The header is computed from the records added: frameCount = largest key frame
// number + 1 (0 without keys), one count per record kind (a key with both the
// object and the camera bit counts for both), recordTableSize = largest index
// + 1. Any header value can be overridden (files with wrong counts are test
// input too), and addRaw appends bytes that count for nothing.
//
// Every record has an optional `flags` override: when set, that byte is written
// as the flags instead of the one derived from the record's content, while the
// payload is still written from the content. This makes inconsistent records.
//
// Byte layout and flag bits: src/3d/SceneFormat.h.
#ifndef VEF_SCENEWRITER_H
#define VEF_SCENEWRITER_H

#include <stdint.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace vef {

using Float3 = std::array<float, 3>;
using Index3 = std::array<uint16_t, 3>;

// A matrix block: each present part sets its flag bit (0x01, 0x02, 0x04).
struct MatrixBlock {
  std::optional<Float3> angles;       // radians about x, y, z
  std::optional<Float3> scale;        // factors of rows r0, r1, r2
  std::optional<Float3> translation;  // t

  static MatrixBlock Translation(float x, float y, float z);
  uint8_t flags() const;  // the part bits of the present parts
};

// Type 1.
struct MaterialRun {
  uint32_t length;   // faces covered, continuing from the previous run
  int32_t material;  // ref; 0 = default material
};
struct MeshRecord {
  std::optional<int32_t> index;          // automatic when empty
  std::optional<uint8_t> flags;          // override of the derived flags
  std::optional<int32_t> faceCount;      // written instead of faces.size()
  std::vector<Index3> faces;             // vertex indices, corners 0, 1, 2
  bool byteIndices = false;              // 0x08: low byte of each index is written
  std::optional<int32_t> vertexList;     // 0x10: ref
  std::optional<std::vector<MaterialRun>> runs;  // 0x40: per-face materials as runs
  int32_t material = 0;                  // without runs: one ref for all faces
  std::optional<int32_t> uvList;         // 0x20: ref, followed by `uvs`
  std::vector<Index3> uvs;               // UV indices per face, written as given
  std::optional<MatrixBlock> placement;  // 0x80 plus its part bits
};

// Type 2.
struct VertexListRecord {
  std::optional<int32_t> index;
  std::optional<uint8_t> flags;          // no bits are defined; default 0
  std::optional<uint32_t> count;         // written instead of positions.size()
  std::vector<Float3> positions;
};

// Type 3. Without `object` and `camera` the record ends after the ignored bytes.
struct KeyRecord {
  std::optional<int32_t> index;
  std::optional<uint8_t> flags;
  int32_t frame = 0;
  uint32_t ignored = 0;                  // the 4 bytes nobody reads
  std::optional<uint8_t> extraByte;      // 0x10: one more ignored byte
  bool camera = false;                   // 0x08
  bool object = false;                   // 0x40: `mesh` is written
  int32_t mesh = 0;                      // ref (object keys)
  std::optional<int32_t> morph;          // 0x80: ref morph vertex list (written with `object` only)
  bool noMatrix = false;                 // 0x20: no matrix block, an object key uses its mesh's placement
  MatrixBlock matrix;                    // its part bits are set; the block is written for object or
                                         // camera keys without noMatrix
};

// Type 4. Each colour is black, white or an explicit triple.
struct ColorField {
  enum Mode { kBytes, kBlack, kWhite };
  Mode mode = kWhite;
  std::array<uint8_t, 3> rgb{};          // red, green, blue 0..255 (kBytes)

  static ColorField Bytes(uint8_t r, uint8_t g, uint8_t b) { return {kBytes, {r, g, b}}; }
};
struct MaterialRecord {
  std::optional<int32_t> index;
  std::optional<uint8_t> flags;
  ColorField color0, diffuse, color2;
  std::optional<int32_t> texture;        // 0x40: ref
};

// Type 5.
struct UVListRecord {
  std::optional<int32_t> index;
  std::optional<uint8_t> flags;
  std::optional<int32_t> count;          // written instead of coords.size()
  std::vector<std::array<float, 2>> coords;  // (u, v) as in the file
};

// Type 6. side 32, 64, 128 or 256 sets its size bit; 0 sets none (the record is
// then only its header). RGB565 writes `texels`, otherwise `palette` (768 bytes)
// and `indices`; each is written as given, so sizes must match side*side for a
// well-formed record.
struct TextureRecord {
  std::optional<int32_t> index;
  std::optional<uint8_t> flags;
  uint32_t side = 32;
  bool rgb565 = true;                    // 0x10
  std::vector<uint16_t> texels;          // side*side RGB565 values, rows first to last
  std::vector<uint8_t> palette;          // 768 bytes: 256 x (red, green, blue)
  std::vector<uint8_t> indices;          // side*side palette indices
};

// Type 7.
struct LightRecord {
  std::optional<int32_t> index;
  std::optional<uint8_t> flags;
  std::array<uint8_t, 3> color{{255, 255, 255}};  // red, green, blue 0..255
  float intensity = 1.0f;
  std::optional<MatrixBlock> matrix;     // 0x10 plus its part bits
};

// Header values; each empty field is computed from the records.
struct HeaderOverride {
  std::optional<uint32_t> frameCount;
  std::optional<int32_t> meshes, vertexLists;
  std::optional<uint32_t> cameras;
  std::optional<int32_t> objectKeys, materials, uvLists, textures, lights;
  std::optional<int32_t> recordTableSize;
};

class SceneWriter {
 public:
  // Each returns the record index written.
  int32_t addMesh(const MeshRecord& r);
  int32_t addVertexList(const VertexListRecord& r);
  int32_t addKey(const KeyRecord& r);
  int32_t addMaterial(const MaterialRecord& r);
  int32_t addUVList(const UVListRecord& r);
  int32_t addTexture(const TextureRecord& r);
  int32_t addLight(const LightRecord& r);
  // Appends bytes as they are (malformed records, unknown types, garbage).
  void addRaw(const std::vector<uint8_t>& bytes);

  HeaderOverride header;  // set fields replace the computed values

  // The 40 header bytes followed by the records.
  std::vector<uint8_t> bytes() const;
  // Writes bytes() to a temporary file beside `path` and renames it over `path`,
  // so a failure leaves no half-written file. On failure returns false and, if
  // `error` is given, says what failed.
  bool writeFile(const std::string& path, std::string* error = nullptr) const;

  // Bytes of the records written so far (without the header).
  size_t bodySize() const { return body_.size(); }

  // Streaming: the 40 header bytes for the records added so far, and the
  // record bytes not yet taken (moved out; the counts and indices stay, so a
  // long scene can go to a file piece by piece and get its header last).
  std::vector<uint8_t> headerBytes() const;
  std::vector<uint8_t> takeBody();

 private:
  int32_t beginRecord(uint8_t type, uint8_t flags, std::optional<int32_t> index);
  void put8(uint8_t v) { body_.push_back(v); }
  void put16(uint16_t v);
  void put32(uint32_t v);
  void putF(float v);
  void putMatrix(const MatrixBlock& m);

  std::vector<uint8_t> body_;
  int32_t nextIndex_ = 1;
  int32_t maxIndex_ = -1;
  int32_t maxFrame_ = -1;
  int32_t meshes_ = 0, vertexLists_ = 0, objectKeys_ = 0, materials_ = 0, uvLists_ = 0,
          textures_ = 0, lights_ = 0;
  uint32_t cameras_ = 0;
};

// A file written under a temporary name beside `path` and renamed over it by
// commit(); destroyed or aborted before that, it removes the temporary file,
// so a failure or an interruption never leaves a half-written `path`.
class AtomicFile {
 public:
  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile() { abort(); }
  bool open(const std::string& path, std::string* error);
  bool write(const uint8_t* data, size_t size, std::string* error);
  bool writeAt(uint64_t offset, const std::vector<uint8_t>& bytes, std::string* error);
  bool commit(std::string* error);  // mode 0644, close, rename
  void abort();                     // close and remove the temporary file
  uint64_t size() const { return size_; }

 private:
  bool fail(const std::string& what, int err, std::string* error);
  std::string path_, temp_;
  int fd_ = -1;
  uint64_t size_ = 0;
};

// Writes `bytes` to `path` through a temporary file and a rename (see
// SceneWriter::writeFile).
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string* error = nullptr);

// The smallest complete scene, 229 bytes: two frames, one triangle (vertex list
// index 1, material 2 with all colours white, mesh 3), camera keys 4 and 6 with
// empty matrix blocks, object keys 5 and 7 translated to (0, 0, -10) and
// (0, 0, -20), and a white light of intensity 1 at the origin (index 8).
std::vector<uint8_t> TwoFrameSample();

}  // namespace vef

#endif
