#include "SceneJson.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "SceneFormat.h"

namespace vef {

namespace {


void Num(std::string& o, double v) {
  if (!std::isfinite(v)) {
    o += "null";
    return;
  }
  char b[32];
  std::snprintf(b, sizeof b, "%.9g", v);
  o += b;
}

void Vec(std::string& o, const Vec3& v) {
  o += '[';
  Num(o, v.x);
  o += ',';
  Num(o, v.y);
  o += ',';
  Num(o, v.z);
  o += ']';
}

void Color(std::string& o, const RGBColor& c) { Vec(o, {c.r, c.g, c.b}); }

void Mat(std::string& o, const Matrix& m) {
  o += "{\"r0\":";
  Vec(o, m.r0);
  o += ",\"r1\":";
  Vec(o, m.r1);
  o += ",\"r2\":";
  Vec(o, m.r2);
  o += ",\"t\":";
  Vec(o, m.t);
  o += '}';
}

// FNV-1a, 64 bits.
uint64_t Hash(const uint8_t* p, size_t n) {
  uint64_t h = 14695981039346656037ull;
  for (size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= 1099511628211ull;
  }
  return h;
}

template <typename T>
std::unordered_map<const T*, int32_t> Positions(const Array<T>& a) {
  std::unordered_map<const T*, int32_t> m;
  for (int32_t i = 0; i < a.count; ++i) m.emplace(a.items[i], i);
  return m;
}

template <typename T>
int32_t PositionOf(const std::unordered_map<const T*, int32_t>& m, const T* p) {
  auto it = m.find(p);
  return it == m.end() ? -1 : it->second;
}

}  // namespace

std::string SceneJson(const Scene& s, const FileListing& l) {
  std::string o;
  const FileHeader& h = l.header;
  char b[512];
  std::snprintf(b, sizeof b,
                "{\"header\":{\"frameCount\":%u,\"meshes\":%d,\"vertexLists\":%d,\"cameraCount\":%u,"
                "\"objectKeys\":%d,\"materials\":%d,\"uvLists\":%d,\"textures\":%d,\"lights\":%d,"
                "\"recordTableSize\":%d},\"maxVertexCount\":%u,\"frameDuration\":",
                h.frameCount, h.meshes, h.vertexLists, h.cameras, h.objectKeys, h.materials, h.uvLists,
                h.textures, h.lights, h.recordTableSize, s.maxVertexCount);
  o += b;
  Num(o, s.frameDuration);

  o += ",\"frameSpans\":[";
  for (uint32_t i = 0; i < s.frameCount; ++i) {
    if (i) o += ',';
    o += "[" + std::to_string(s.frameSpans[i].firstKey) + "," + std::to_string(s.frameSpans[i].keyCount) + "]";
  }
  o += ']';

  // Record indices of the meshes, in file order as the importer keeps them.
  std::vector<int32_t> meshIndex;
  for (const RecordInfo& r : l.records) {
    if (r.type == SceneFormat::kMesh && r.problem.empty()) meshIndex.push_back(r.index);
  }
  const auto meshPos = Positions(s.meshes);
  const auto keyPos = Positions(s.keys);
  const auto cameraPos = Positions(s.cameras);
  const auto listPos = Positions(s.vertexLists);
  const auto uvPos = Positions(s.uvLists);
  const auto materialPos = Positions(s.materials);
  std::unordered_map<const Texture*, int32_t> texturePos;
  if (s.textures != nullptr) texturePos = Positions(*s.textures);

  o += ",\"cameras\":[";
  for (int32_t i = 0; i < s.cameras.count; ++i) {
    const Key* k = s.cameras.items[i];
    if (i) o += ',';
    o += "{\"next\":" + std::to_string(PositionOf(cameraPos, static_cast<const Key*>(k->next))) + ",\"matrix\":";
    Mat(o, k->matrix);
    o += '}';
  }
  o += "],\"keys\":[";
  for (int32_t j = 0; j < s.keys.count; ++j) {
    const Key* k = s.keys.items[j];
    if (j) o += ',';
    const int32_t mesh = PositionOf(meshPos, static_cast<const Mesh*>(k->mesh));
    std::snprintf(b, sizeof b, "{\"frame\":%d,\"kind\":%u,\"mesh\":%d,\"meshRecord\":%d,\"next\":%d,", s.keyFrames[j],
                  k->kind, mesh, mesh >= 0 && mesh < static_cast<int32_t>(meshIndex.size()) ? meshIndex[mesh] : -1,
                  PositionOf(keyPos, static_cast<const Key*>(k->next)));
    o += b;
    if (k->kind == 2) {
      o += "\"morphVertexList\":" +
           std::to_string(PositionOf(listPos, static_cast<const VertexList*>(k->morphVertices))) + ",";
    }
    o += "\"matrix\":";
    Mat(o, k->matrix);
    o += '}';
  }
  o += "],\"meshes\":[";
  for (int32_t i = 0; i < s.meshes.count; ++i) {
    const Mesh* m = s.meshes.items[i];
    if (i) o += ',';
    std::snprintf(b, sizeof b,
                  "{\"record\":%d,\"faceCount\":%d,\"vertexList\":%d,\"uvList\":%d,\"perFaceMaterial\":%u,"
                  "\"material\":%d,\"hasMatrix\":%u,\"matrix\":",
                  i < static_cast<int32_t>(meshIndex.size()) ? meshIndex[i] : -1, m->faceCount,
                  PositionOf(listPos, static_cast<const VertexList*>(m->vertexList)),
                  PositionOf(uvPos, static_cast<const UVList*>(m->uvList)), m->perFaceMaterial,
                  m->material == s.defaultMaterial ? -1 : PositionOf(materialPos, static_cast<const Material*>(m->material)),
                  m->hasMatrix);
    o += b;
    Mat(o, m->matrix);
    o += ",\"faces\":[";
    for (int32_t f = 0; f < m->faceCount; ++f) {
      const Face& face = m->faces[f];
      if (f) o += ',';
      std::snprintf(b, sizeof b, "{\"vertex\":[%u,%u,%u],\"uv\":[%u,%u,%u],\"material\":%d,\"normal\":", face.vertex[0],
                    face.vertex[1], face.vertex[2], face.uv[0], face.uv[1], face.uv[2],
                    face.material == s.defaultMaterial ? -1 : PositionOf(materialPos, static_cast<const Material*>(face.material)));
      o += b;
      Vec(o, face.normal);
      o += ",\"planeD\":";
      Num(o, face.planeD);
      o += ",\"cornerColor\":[";
      for (int c = 0; c < 3; ++c) {
        if (c) o += ',';
        Color(o, face.cornerColor[c]);
      }
      o += "]}";
    }
    o += "],\"vertexNormals\":[";
    if (m->vertexList != nullptr) {
      for (int32_t v = 0; v < m->vertexList->count; ++v) {
        if (v) o += ',';
        Vec(o, m->vertexList->normals[v]);
      }
    }
    o += "]}";
  }
  o += "],\"vertexLists\":[";
  for (int32_t i = 0; i < s.vertexLists.count; ++i) {
    if (i) o += ',';
    o += "{\"count\":" + std::to_string(s.vertexLists.items[i]->count) + "}";
  }
  o += "],\"uvLists\":[";
  for (int32_t i = 0; i < s.uvLists.count; ++i) {
    if (i) o += ',';
    o += "{\"count\":" + std::to_string(s.uvLists.items[i]->count) + "}";
  }
  o += "],\"materials\":[";
  for (int32_t i = 0; i < s.materials.count; ++i) {
    const Material* m = s.materials.items[i];
    if (i) o += ',';
    o += "{\"color0\":";
    Color(o, m->color0);
    o += ",\"diffuse\":";
    Color(o, m->diffuse);
    o += ",\"color2\":";
    Color(o, m->color2);
    o += ",\"textureHandle\":" + std::to_string(m->textureHandle) +
         ",\"texture\":" + std::to_string(PositionOf(texturePos, static_cast<const Texture*>(m->texture))) + "}";
  }
  o += "],\"textures\":[";
  for (int32_t i = 0; s.textures != nullptr && i < s.textures->count; ++i) {
    const Texture* t = s.textures->items[i];
    if (i) o += ',';
    std::snprintf(b, sizeof b, "{\"width\":%u,\"height\":%u,\"handle\":%d,\"pixelsFnv1a64\":\"%016" PRIx64 "\"}",
                  t->width, t->height, t->handle, Hash(t->pixels, size_t(t->width) * t->height * 3));
    o += b;
  }
  o += "],\"lights\":[";
  for (int32_t i = 0; i < s.lights.count; ++i) {
    const Light* li = s.lights.items[i];
    if (i) o += ',';
    o += "{\"mode\":" + std::to_string(li->mode) + ",\"enabled\":" + std::to_string(li->enabled) + ",\"color\":";
    Color(o, li->color);
    o += ",\"intensity\":";
    Num(o, li->intensity);
    o += ",\"position\":";
    Vec(o, li->matrix.t);
    o += '}';
  }
  o += "]}\n";
  return o;
}

}  // namespace vef
