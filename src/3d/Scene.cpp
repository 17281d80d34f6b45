// The scene importer: reads "scene.2vef" (layout in SceneFormat.h) in one
// forward pass, then hands over to the post-load preparation (ScenePrepare.cpp).
//
// The file is not trusted. Every count is checked against the bytes left in the
// file before anything is allocated from it, every record index against the
// record table, and every reference against the kind of record it must name. A
// file that breaks one of these limits is refused: the scene is emptied, stays
// not playable, and one message names the file, the record and the problem.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <vector>

#include "DebugPrint.h"
#include "Scene.h"
#include "SceneFormat.h"
#include "SceneImport.h"

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "The scene reader copies little-endian file values straight into memory."
#endif

namespace fmt = SceneFormat;

// ---------------------------------------------------------------------------
// Array

namespace {

void ReleaseRecord(Mesh* m) {
  delete[] m->faces;
  delete m;
}
void ReleaseRecord(UVList* l) {
  delete[] l->coords;
  delete l;
}
void ReleaseRecord(VertexList* l) {
  delete[] l->positions;
  delete[] l->normals;
  delete l;
}
void ReleaseRecord(Texture* t) {
  delete[] t->pixels;
  delete t;
}
void ReleaseRecord(Key* k) { delete k; }
void ReleaseRecord(Material* m) { delete m; }
void ReleaseRecord(Light* l) { delete l; }

}  // namespace

template <typename T>
Array<T>::~Array() {
  for (int32_t i = 0; i < capacity; ++i) {
    if (items[i] != nullptr) {
      ReleaseRecord(items[i]);
      items[i] = nullptr;
    }
  }
  delete[] items;
}

template <typename T>
void Array<T>::Init(int32_t n) {
  if (capacity != 0) {
    DebugPrint("\nFehler: Array war schon initialisiert");
    // Replacing the slot block would orphan every item already added; keep
    // them and only grow.
    if (n > capacity) {
      T** grown = new T*[n]();
      std::copy(items, items + count, grown);
      delete[] items;
      items = grown;
      capacity = n;
    }
    return;
  }
  if (n <= 0) return;
  capacity = n;
  items = new T*[n]();
}

template <typename T>
void Array<T>::Add(T* item) {
  if (count >= capacity) {
    DebugPrint("\nArray\xFC" "berauf, Resize()");
    Resize();
  }
  items[count++] = item;
}

template <typename T>
void Array<T>::Resize() {
  int32_t grown = capacity < 8 ? 16 : capacity * 2;
  if (grown <= count) grown = count + 1;
  T** slots = new T*[grown]();
  if (count > 0) std::copy(items, items + count, slots);
  delete[] items;
  items = slots;
  capacity = grown;
}

template struct Array<Mesh>;
template struct Array<Material>;
template struct Array<Key>;
template struct Array<VertexList>;
template struct Array<UVList>;
template struct Array<Light>;
template struct Array<Texture>;

Material::Material()
    : color0{1.0f, 1.0f, 1.0f},
      diffuse{1.0f, 1.0f, 1.0f},
      color2{1.0f, 1.0f, 1.0f},
      textureHandle(-1),
      texture(nullptr) {}

// ---------------------------------------------------------------------------
// Scene life cycle

Scene::Scene()
    : frameCount(0),
      maxVertexCount(0),
      frameDuration(0.0f),
      defaultMaterial(new Material()),
      textures(nullptr),
      frameSpans(nullptr),
      cameraCount(0),
      keyFrameCount(0),
      recordTable(nullptr),
      recordFlags(0),
      recordIndex(0),
      stream(nullptr),
      importState(nullptr),
      playable(false) {}

Scene::~Scene() {
  clear();
  delete defaultMaterial;
}

namespace {

template <typename T>
void Empty(Array<T>& a) {
  a.~Array<T>();
  new (&a) Array<T>();
}

}  // namespace

// Back to the state of a fresh Scene (the default material stays).
void Scene::clear() {
  // A key with both the object and the camera bit sits in both lists; the
  // object list owns it. Only object keys have a kind.
  for (int32_t i = 0; i < cameras.capacity; ++i) {
    if (cameras.items[i] != nullptr && cameras.items[i]->kind != 0) cameras.items[i] = nullptr;
  }
  Empty(meshes);
  Empty(materials);
  Empty(keys);
  Empty(vertexLists);
  Empty(uvLists);
  Empty(lights);
  Empty(cameras);
  delete textures;
  textures = nullptr;
  for (Texture* texture : uploadedTextures) ReleaseRecord(texture);
  uploadedTextures.clear();
  delete[] frameSpans;
  frameSpans = nullptr;
  delete[] recordTable;
  recordTable = nullptr;
  if (stream != nullptr) {
    stream->close();
    delete stream;
    stream = nullptr;
  }
  delete importState;
  importState = nullptr;
  frameCount = 0;
  maxVertexCount = 0;
  frameDuration = 0.0f;
  cameraCount = 0;
  keyFrameCount = 0;
  recordFlags = 0;
  recordIndex = 0;
}

bool Scene::isPlayable() const { return playable; }

void Scene::dropTexturePixels() {
  if (textures == nullptr) return;
  // The Array's destructor releases whatever its slots hold, so the records
  // are taken out of them first.
  for (int32_t i = 0; i < textures->capacity; ++i) {
    Texture* texture = textures->items[i];
    if (texture == nullptr) continue;
    delete[] texture->pixels;
    texture->pixels = nullptr;
    textures->items[i] = nullptr;
    uploadedTextures.push_back(texture);
  }
  delete textures;
  textures = nullptr;
}

const char* Scene::refusalReason() const { return refusal.c_str(); }

void Scene::refuse(int32_t record, const char* format, ...) {
  if (importState != nullptr && importState->refused) return;  // the first problem is the reason
  char problem[400];
  va_list args;
  va_start(args, format);
  vsnprintf(problem, sizeof problem, format, args);
  va_end(args);
  char where[32];
  if (record == ImportState::kHeader) {
    snprintf(where, sizeof where, "header");
  } else if (record == ImportState::kNoRecord) {
    where[0] = '\0';
  } else {
    snprintf(where, sizeof where, "record index %d", record);
  }
  refusal = fileName + ": " + (where[0] ? std::string(where) + ": " : std::string()) + problem;
  playable = false;
  if (importState != nullptr) importState->refused = true;
  DebugPrint("\nImport refused: %s", refusal.c_str());
}

// ---------------------------------------------------------------------------
// Reading

bool Scene::readBytes(void* out, size_t n) {
  ImportState& st = *importState;
  if (st.failed) return false;
  std::streamsize got = stream->rdbuf()->sgetn(static_cast<char*>(out), static_cast<std::streamsize>(n));
  if (got < 0) got = 0;
  st.position += static_cast<uint64_t>(got);
  if (static_cast<size_t>(got) != n) {
    // A short read puts the stream at its end; every later read delivers nothing.
    // Short of the file's size it is a failed read, not the end of the file.
    if (st.position < st.fileSize) st.readError = true;
    st.failed = true;
    stream->setstate(std::ios::eofbit | std::ios::failbit);
    return false;
  }
  return true;
}

uint64_t Scene::bytesLeft() const {
  const ImportState& st = *importState;
  return st.position < st.fileSize ? st.fileSize - st.position : 0;
}

// Stores the record under recordIndex; refuses an index outside the table.
bool Scene::checkAndStore(void* record, uint8_t type) {
  const ImportState& st = *importState;
  if (recordIndex < 0 || recordIndex >= st.recordTableSize) {
    refuse(recordIndex, "record index outside 0..%d (recordTableSize %d)", st.recordTableSize - 1,
           st.recordTableSize);
    return false;
  }
  recordTable[recordIndex] = {record, type};
  return true;
}

// The record under recordIndex was cut by the end of the file: it is not kept.
void Scene::dropRecord(void* record) {
  if (recordIndex >= 0 && recordIndex < importState->recordTableSize &&
      recordTable[recordIndex].record == record) {
    recordTable[recordIndex] = {nullptr, 0};
  }
  DebugPrint("\nImport warning: %s: record index %d is cut by the end of the file and dropped",
             fileName.c_str(), recordIndex);
}

void Scene::readMatrix(Matrix* m) {
  if (m == nullptr) {
    DebugPrint("\nError: readMatrix");
    return;
  }
  m->SetIdentity();
  // The present parts follow each other: one read for the whole block.
  float v[9];
  if (!readBytes(v, SceneFormat::MatrixBlockSize(recordFlags))) return;
  const float* part = v;
  if (recordFlags & fmt::kMatrixRotation) {
    m->SetRotation(part[0], part[1], part[2]);
    part += 3;
  }
  if (recordFlags & fmt::kMatrixScale) {
    m->Scale(part[0], part[1], part[2]);
    part += 3;
  }
  if (recordFlags & fmt::kMatrixTranslation) m->t = {part[0], part[1], part[2]};
}

void Scene::readColor(RGBColor* color) {
  uint8_t b[3] = {0, 0, 0};
  readBytes(b, 3);
  const float scale = 1.0f / 255.0f;
  *color = {b[0] * scale, b[1] * scale, b[2] * scale};
}

void Scene::convertRGB565(const uint8_t* texels, uint32_t count, uint8_t* out) {
  for (uint32_t i = 0; i < count; ++i) {
    fmt::WidenTexel565(static_cast<uint16_t>(texels[2 * i] | (texels[2 * i + 1] << 8)), out + 3 * i);
  }
}

void Scene::convertPaletted(const uint8_t* palette, const uint8_t* indices, uint32_t count,
                            uint8_t* out) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = palette + 3 * indices[i];
    out[3 * i] = entry[0];
    out[3 * i + 1] = entry[1];
    out[3 * i + 2] = entry[2];
  }
}

void Scene::readMesh() {
  ImportState& st = *importState;
  int32_t faceCount = 0;
  if (!readBytes(&faceCount, 4)) return dropRecord(nullptr);
  const uint64_t indexBytes = fmt::MeshIndexBytes(recordFlags);
  if (faceCount < 0) return refuse(recordIndex, "mesh face count %d is negative", faceCount);
  if (indexBytes * static_cast<uint64_t>(faceCount) > bytesLeft()) {
    return refuse(recordIndex, "mesh face count %d needs %llu bytes of vertex indices, %llu left",
                  faceCount, static_cast<unsigned long long>(indexBytes * faceCount),
                  static_cast<unsigned long long>(bytesLeft()));
  }
  Mesh* mesh = new Mesh(faceCount);
  if (!checkAndStore(mesh, fmt::kMesh)) return ReleaseRecord(mesh);
  ImportState::MeshRefs refs;
  refs.self = recordIndex;

  // Vertex indices: one bulk read, widened per face.
  std::vector<uint8_t> raw(static_cast<size_t>(indexBytes * faceCount));
  bool ok = raw.empty() || readBytes(raw.data(), raw.size());
  for (int32_t i = 0; ok && i < faceCount; ++i) {
    for (int c = 0; c < 3; ++c) {
      mesh->faces[i].vertex[c] =
          indexBytes == 3 ? raw[3 * i + c]
                          : static_cast<uint16_t>(raw[6 * i + 2 * c] | (raw[6 * i + 2 * c + 1] << 8));
    }
  }
  if (ok && (recordFlags & fmt::kMeshVertexList)) ok = readBytes(&refs.vertexList, 4);
  if (ok && (recordFlags & fmt::kMeshMaterialRuns)) {
    mesh->perFaceMaterial = 1;
    uint32_t runCount = 0;
    ok = readBytes(&runCount, 4);
    const uint64_t runBytes = static_cast<uint64_t>(fmt::kMaterialRunBytes) * runCount;
    if (ok && runBytes > bytesLeft()) {
      ReleaseRecord(mesh);
      recordTable[recordIndex] = {nullptr, 0};
      return refuse(recordIndex, "material run count %u needs %llu bytes, %llu left", runCount,
                    static_cast<unsigned long long>(runBytes), static_cast<unsigned long long>(bytesLeft()));
    }
    uint64_t covered = 0;
    for (uint32_t r = 0; ok && r < runCount; ++r) {
      uint32_t run[2];
      ok = readBytes(run, fmt::kMaterialRunBytes);
      if (!ok) break;
      covered += run[0];
      if (covered > static_cast<uint64_t>(faceCount)) {
        ReleaseRecord(mesh);
        recordTable[recordIndex] = {nullptr, 0};
        return refuse(recordIndex, "material runs cover %llu faces, the mesh has %d",
                      static_cast<unsigned long long>(covered), faceCount);
      }
      refs.runs.push_back({run[0], static_cast<int32_t>(run[1])});
    }
  } else if (ok) {
    ok = readBytes(&refs.material, 4);
  }
  if (ok && (recordFlags & fmt::kMeshUVs)) {
    ok = readBytes(&refs.uvList, 4);
    const uint64_t uvBytes = static_cast<uint64_t>(fmt::kMeshUVIndexBytes) * faceCount;
    if (ok && uvBytes > bytesLeft()) {
      ReleaseRecord(mesh);
      recordTable[recordIndex] = {nullptr, 0};
      return refuse(recordIndex, "mesh face count %d needs %llu bytes of UV indices, %llu left",
                    faceCount, static_cast<unsigned long long>(uvBytes), static_cast<unsigned long long>(bytesLeft()));
    }
    if (ok && faceCount > 0) {
      std::vector<uint8_t> uv(static_cast<size_t>(uvBytes));
      ok = readBytes(uv.data(), uv.size());
      for (int32_t i = 0; ok && i < faceCount; ++i) {
        for (int c = 0; c < 3; ++c) {
          mesh->faces[i].uv[c] = static_cast<uint16_t>(uv[6 * i + 2 * c] | (uv[6 * i + 2 * c + 1] << 8));
        }
      }
    }
  }
  if (ok && (recordFlags & fmt::kMeshPlacement)) {
    readMatrix(&mesh->matrix);
    mesh->hasMatrix = 1;
    ok = !st.failed;
  }
  if (!ok) {
    dropRecord(mesh);
    ReleaseRecord(mesh);
    return;
  }
  meshes.Add(mesh);
  st.meshRefs.push_back(std::move(refs));
}

void Scene::readVertexList() {
  uint32_t count = 0;
  if (!readBytes(&count, 4)) return dropRecord(nullptr);
  if (12ull * count > bytesLeft()) {
    return refuse(recordIndex, "vertex count %u needs %llu bytes, %llu left", count, 12ull * count,
                  static_cast<unsigned long long>(bytesLeft()));
  }
  if (count > maxVertexCount) maxVertexCount = count;
  VertexList* list = new VertexList{static_cast<int32_t>(count), new Vec3[count](), new Vec3[count]()};
  if (!checkAndStore(list, fmt::kVertexList)) return ReleaseRecord(list);
  if (count > 0 && !readBytes(list->positions, 12ull * count)) {
    dropRecord(list);
    ReleaseRecord(list);
    return;
  }
  vertexLists.Add(list);
}

void Scene::readKey() {
  ImportState& st = *importState;
  Key* key = new Key();
  key->matrix.SetIdentity();
  if (!checkAndStore(key, fmt::kKey)) return ReleaseRecord(key);
  uint8_t head[9] = {};  // i32 frame number, ignored bytes
  int32_t ref[2] = {0, 0};  // mesh, morph list
  ImportState::KeyRefs refs;
  refs.self = recordIndex;
  bool ok = readBytes(head, fmt::KeyHeadBytes(recordFlags));
  int32_t frame;
  memcpy(&frame, head, 4);
  const bool object = (recordFlags & fmt::kKeyObject) != 0;
  const bool camera = (recordFlags & fmt::kKeyCamera) != 0;
  if (ok && object) {
    ok = readBytes(ref, fmt::KeyRefBytes(recordFlags));
    key->kind = (recordFlags & fmt::kKeyMorph) ? 2 : 1;
    refs.mesh = ref[0];
    refs.morph = ref[1];
  }
  key->useMeshMatrix = (recordFlags & fmt::kKeyNoMatrix) ? 1 : 0;
  if (ok && fmt::KeyHasMatrix(recordFlags)) {
    readMatrix(&key->matrix);
    ok = !st.failed;
  }
  if (!ok) {
    dropRecord(key);
    ReleaseRecord(key);
    return;
  }
  if (!object && !camera) {
    // Nothing refers to such a key after reading; the slot remembers its kind
    // so that a reference to it is reported as naming a key.
    ReleaseRecord(key);
    recordTable[recordIndex].record = nullptr;
    return;
  }
  if (object) {
    if (keyFrameCount >= kMaxObjectKeys) {
      ReleaseRecord(key);
      recordTable[recordIndex] = {nullptr, 0};
      return refuse(recordIndex, "more than %d object keys", kMaxObjectKeys);
    }
    keys.Add(key);
    keyFrames[keyFrameCount++] = frame;
    st.keyRefs.push_back(refs);
  }
  if (camera) {
    key->matrix.r0.z = -key->matrix.r0.z;
    key->matrix.r1.z = -key->matrix.r1.z;
    key->matrix.r2.z = -key->matrix.r2.z;
    key->matrix.t.z = -key->matrix.t.z;
    cameras.Add(key);
  }
}

void Scene::readMaterial() {
  Material* material = new Material();
  if (!checkAndStore(material, fmt::kMaterial)) return ReleaseRecord(material);
  int32_t texture = 0;
  const RGBColor black = {0.0f, 0.0f, 0.0f}, white = {1.0f, 1.0f, 1.0f};
  RGBColor* colors[3] = {&material->color0, &material->diffuse, &material->color2};
  for (int i = 0; i < 3; ++i) {
    switch (fmt::MaterialColor(recordFlags, i)) {
      case fmt::kColorBlack: *colors[i] = black; break;
      case fmt::kColorWhite: *colors[i] = white; break;
      case fmt::kColorTriple: readColor(colors[i]); break;
    }
  }
  if (recordFlags & fmt::kMatTexture) readBytes(&texture, 4);
  if (importState->failed) {
    dropRecord(material);
    ReleaseRecord(material);
    return;
  }
  materials.Add(material);
  importState->materialRefs.push_back({recordIndex, texture});
}

void Scene::readUVList() {
  int32_t count = 0;
  if (!readBytes(&count, 4)) return dropRecord(nullptr);
  if (count < 0) return refuse(recordIndex, "UV count %d is negative", count);
  if (8ull * static_cast<uint32_t>(count) > bytesLeft()) {
    return refuse(recordIndex, "UV count %d needs %llu bytes, %llu left", count, 8ull * count,
                  static_cast<unsigned long long>(bytesLeft()));
  }
  UVList* list = new UVList{count, new float[count][2]()};
  if (!checkAndStore(list, fmt::kUVList)) return ReleaseRecord(list);
  if (count > 0 && !readBytes(list->coords, 8ull * count)) {
    dropRecord(list);
    ReleaseRecord(list);
    return;
  }
  for (int32_t i = 0; i < count; ++i) list->coords[i][1] = 1.0f - list->coords[i][1];
  uvLists.Add(list);
}

void Scene::readTexture() {
  const uint32_t side = fmt::TextureSide(recordFlags);
  if (side == 0) return;  // no size bit: nothing is read or stored
  const uint32_t texels = side * side;
  Texture* texture = new Texture{new uint8_t[texels * 3](), -1, static_cast<uint16_t>(side),
                                 static_cast<uint16_t>(side)};
  if (!checkAndStore(texture, fmt::kTexture)) return ReleaseRecord(texture);
  bool ok;
  if (recordFlags & fmt::kTexRGB565) {
    std::vector<uint8_t> raw(texels * 2);
    ok = readBytes(raw.data(), raw.size());
    if (ok) convertRGB565(raw.data(), texels, texture->pixels);
  } else {
    std::vector<uint8_t> palette(fmt::kPaletteBytes), indices(texels);
    ok = readBytes(palette.data(), palette.size()) && readBytes(indices.data(), indices.size());
    if (ok) convertPaletted(palette.data(), indices.data(), texels, texture->pixels);
  }
  if (!ok) {
    dropRecord(texture);
    ReleaseRecord(texture);
    return;
  }
  textures->Add(texture);
}

void Scene::readLight() {
  uint8_t rgb[3];
  float intensity = 0.0f;
  bool ok = readBytes(rgb, 3) && readBytes(&intensity, 4);
  Light* light = new Light();
  light->mode = 0;
  light->enabled = 1;
  light->matrix.SetIdentity();
  const float scale = 1.0f / 255.0f;
  light->color = {rgb[0] * scale, rgb[1] * scale, rgb[2] * scale};
  light->intensity = intensity;
  if (!ok) {
    delete light;
    return dropRecord(nullptr);
  }
  if (!checkAndStore(light, fmt::kLight)) return ReleaseRecord(light);
  if (recordFlags & fmt::kLightMatrix) readMatrix(&light->matrix);
  if (importState->failed) {
    dropRecord(light);
    ReleaseRecord(light);
    return;
  }
  lights.Add(light);
}

// ---------------------------------------------------------------------------
// The import

void Scene::importFile(const char* name) {
  const std::string requested = name != nullptr ? name : "";
  if (importState != nullptr || playable || meshes.count + keys.count + cameras.count > 0) {
    DebugPrint("\nImport error: %s: the scene already holds an imported file", requested.c_str());
    return;
  }
  fileName = requested;
  refusal.clear();
  std::ifstream* file = new std::ifstream(fileName, std::ios::in | std::ios::binary);
  if (!file->is_open()) {
    const int err = errno;
    delete file;
    refusal = fileName + ": cannot open: " + strerror(err);
    DebugPrint("\nImport refused: %s", refusal.c_str());
    return;
  }
  stream = file;
  importStream();
}

void Scene::importStream() {
  if (stream == nullptr) {
    refusal = fileName + ": no stream to read";
    DebugPrint("\nImport refused: %s", refusal.c_str());
    return;
  }
  if (importState != nullptr) {
    DebugPrint("\nImport error: %s: an import is already running", fileName.c_str());
    return;
  }
  importState = new ImportState();
  ImportState& st = *importState;
  playable = false;
  refusal.clear();

  // The size bounds every count: a record is at least 6 bytes long.
  stream->seekg(0, std::ios::end);
  const std::streamoff size = stream->tellg();
  stream->seekg(0, std::ios::beg);
  if (size < 0 || !*stream) {
    refuse(ImportState::kNoRecord, "cannot determine the file size");
    clear();
    return;
  }
  st.fileSize = static_cast<uint64_t>(size);

  // 1, 2: the header.
  keyFrameCount = 0;
  uint32_t header[fmt::kHeaderValues];
  if (!readBytes(header, sizeof header)) {
    refuse(ImportState::kHeader, "the file has %llu bytes, fewer than the %u-byte header",
           static_cast<unsigned long long>(st.fileSize), fmt::kHeaderSize);
    clear();
    return;
  }
  frameCount = header[0];
  cameraCount = header[3];
  const char* names[fmt::kHeaderValues] = {"frame count",   "mesh count",     "vertex list count",
                                           "camera count",  "object key count", "material count",
                                           "UV list count", "texture count",  "light count",
                                           "recordTableSize"};
  const uint64_t maxRecords = bytesLeft() / fmt::kRecordHeaderSize;
  uint64_t total = 0;
  for (uint32_t i = 1; i + 1 < fmt::kHeaderValues; ++i) {
    const int64_t count = i == 3 ? static_cast<int64_t>(header[i]) : static_cast<int32_t>(header[i]);
    if (count < 0 || static_cast<uint64_t>(count) > maxRecords) {
      refuse(ImportState::kHeader, "%s %lld does not fit the %llu bytes after the header", names[i],
             static_cast<long long>(count), static_cast<unsigned long long>(bytesLeft()));
      clear();
      return;
    }
    total += static_cast<uint64_t>(count);
  }
  const int32_t tableSize = static_cast<int32_t>(header[9]);
  if (total > maxRecords) {
    refuse(ImportState::kHeader, "the counts add up to %llu records, the %llu bytes after the header hold at most %llu",
           static_cast<unsigned long long>(total), static_cast<unsigned long long>(bytesLeft()),
           static_cast<unsigned long long>(maxRecords));
  } else if (static_cast<int32_t>(header[4]) > kMaxObjectKeys) {
    refuse(ImportState::kHeader, "object key count %d is above the limit of %d",
           static_cast<int32_t>(header[4]), kMaxObjectKeys);
  } else if (tableSize < 0 || static_cast<uint64_t>(tableSize) > st.fileSize) {
    refuse(ImportState::kHeader, "recordTableSize %d is outside 0..%llu (the file size)", tableSize,
           static_cast<unsigned long long>(st.fileSize));
  } else if (frameCount < 2) {
    refuse(ImportState::kHeader, "frame count %u is below 2", frameCount);
  }
  if (st.refused) {
    clear();
    return;
  }
  st.recordTableSize = tableSize;

  // 3: the record table, cleared so that a slot no record fills is detected.
  recordTable = new RecordSlot[tableSize > 0 ? tableSize : 1]();

  // 4.
  DebugPrint("\ntotal Objs:%d", static_cast<int32_t>(total));

  // 5: arrays at their final size.
  meshes.Init(static_cast<int32_t>(header[1]));
  vertexLists.Init(static_cast<int32_t>(header[2]));
  keys.Init(static_cast<int32_t>(header[4]));
  materials.Init(static_cast<int32_t>(header[5]));
  uvLists.Init(static_cast<int32_t>(header[6]));
  lights.Init(static_cast<int32_t>(header[8]));
  cameras.Init(static_cast<int32_t>(cameraCount));
  textures = new Array<Texture>();
  textures->Init(static_cast<int32_t>(header[7]));
  st.meshRefs.reserve(static_cast<size_t>(header[1]));
  st.keyRefs.reserve(static_cast<size_t>(header[4]));
  st.materialRefs.reserve(static_cast<size_t>(header[5]));

  // 6: the record loop, until the end of the file.
  uint8_t type = 0;
  readBytes(&type, 1);
  while (!st.failed && !st.refused) {
    uint8_t recordHeader[5];
    if (!readBytes(recordHeader, 5)) {
      DebugPrint("\nImport warning: %s: record header cut by the end of the file", fileName.c_str());
      break;
    }
    recordFlags = recordHeader[0];
    memcpy(&recordIndex, recordHeader + 1, 4);
    switch (type) {
      case fmt::kMesh: readMesh(); break;
      case fmt::kVertexList: readVertexList(); break;
      case fmt::kKey: readKey(); break;
      case fmt::kMaterial: readMaterial(); break;
      case fmt::kUVList: readUVList(); break;
      case fmt::kTexture: readTexture(); break;
      case fmt::kLight: readLight(); break;
      default:
        // The bytes after this record header are read as the next record.
        DebugPrint("\nImport error: unknown VornExportFileID: %d", type);
        break;
    }
    if (st.refused) break;
    readBytes(&type, 1);
  }

  // 7.
  stream->close();
  delete stream;
  stream = nullptr;
  if (st.readError && !st.refused) {
    refuse(ImportState::kNoRecord, "read failed at byte %llu of %llu", static_cast<unsigned long long>(st.position),
           static_cast<unsigned long long>(st.fileSize));
  }
  if (st.refused || !validate()) {
    clear();
    return;
  }

  // 8: post-load preparation.
  buildFrameSpans();
  resolveReferences();
  if (!checkMorphPartners() || !checkWork()) {
    clear();
    return;
  }
  delete[] recordTable;
  recordTable = nullptr;
  bakeCameraSpace();
  frameDuration = 10000.0f / static_cast<float>(static_cast<uint32_t>(frameCount - 1));
  computeMeshGeometry();
  computeStaticLighting();
  delete importState;
  importState = nullptr;
  playable = true;
}
