// Post-load preparation: from the raw records of the file to the form the
// player reads every frame. Runs once, after the record stream, in this order:
// validate, buildFrameSpans, resolveReferences, (morph partner and work checks), release
// the record table, bakeCameraSpace, frameDuration, computeMeshGeometry,
// computeStaticLighting.
#include <math.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "DebugPrint.h"
#include "Scene.h"
#include "SceneFormat.h"
#include "SceneImport.h"

namespace fmt = SceneFormat;

namespace {

const char* KindName(uint8_t type) {
  const char* name = fmt::RecordTypeName(type);
  return name != nullptr ? name : "nothing";
}

}  // namespace

void* Scene::recordAt(int32_t i) const { return recordTable[i].record; }

// Checks everything the player will rely on that only the whole file can tell:
// references, index ranges, morph list sizes and the camera count.
bool Scene::validate() {
  ImportState& st = *importState;
  // A reference `ref` made by record `owner` in the given role must name a
  // stored record of kind `type`.
  auto checkRef = [&](int32_t owner, const char* role, int32_t ref, uint8_t type) {
    if (ref < 0 || ref >= st.recordTableSize) {
      refuse(owner, "%s ref %d is outside the record table (recordTableSize %d)", role, ref,
             st.recordTableSize);
      return false;
    }
    const RecordSlot& slot = recordTable[ref];
    if (slot.type == 0) {
      refuse(owner, "%s ref %d names no record", role, ref);
      return false;
    }
    if (slot.type != type || slot.record == nullptr) {
      refuse(owner, "%s ref %d names a %s, not a %s", role, ref, KindName(slot.type), KindName(type));
      return false;
    }
    return true;
  };

  if (cameras.count < 1 || static_cast<uint32_t>(cameras.count) < frameCount) {
    refuse(ImportState::kNoRecord, "%d camera keys for %u frames", cameras.count, frameCount);
    return false;
  }

  for (int32_t i = 0; i < materials.count; ++i) {
    const ImportState::MaterialRefs& r = st.materialRefs[i];
    if (r.texture != 0 && !checkRef(r.self, "texture", r.texture, fmt::kTexture)) return false;
  }

  for (int32_t i = 0; i < meshes.count; ++i) {
    ImportState::MeshRefs& r = st.meshRefs[i];
    const Mesh* mesh = meshes.items[i];
    if (r.vertexList != 0 && !checkRef(r.self, "vertex list", r.vertexList, fmt::kVertexList)) return false;
    if (r.uvList != 0 && !checkRef(r.self, "UV list", r.uvList, fmt::kUVList)) return false;
    if (mesh->perFaceMaterial) {
      for (const ImportState::MaterialRun& run : r.runs) {
        if (run.material != 0 && !checkRef(r.self, "material", run.material, fmt::kMaterial)) return false;
      }
    } else if (r.material != 0 && !checkRef(r.self, "material", r.material, fmt::kMaterial)) {
      return false;
    }
    int32_t needed = 0;
    for (int32_t f = 0; f < mesh->faceCount; ++f) {
      for (uint16_t v : mesh->faces[f].vertex) needed = std::max(needed, v + 1);
    }
    r.neededVertices = needed;
    if (r.vertexList != 0) {
      const auto* list = static_cast<const VertexList*>(recordAt(r.vertexList));
      if (needed > list->count) {
        refuse(r.self, "faces use vertex index %d, the vertex list (record index %d) has %d vertices",
               needed - 1, r.vertexList, list->count);
        return false;
      }
    }
    if (r.uvList != 0) {
      const auto* list = static_cast<const UVList*>(recordAt(r.uvList));
      for (int32_t f = 0; f < mesh->faceCount; ++f) {
        for (uint16_t uv : mesh->faces[f].uv) {
          if (uv >= list->count) {
            refuse(r.self, "face %d uses UV index %u, the UV list (record index %d) has %d entries", f,
                   uv, r.uvList, list->count);
            return false;
          }
        }
      }
    }
  }

  std::unordered_map<const Mesh*, int32_t> meshSlot;
  meshSlot.reserve(static_cast<size_t>(meshes.count));
  for (int32_t i = 0; i < meshes.count; ++i) meshSlot[meshes.items[i]] = i;

  for (int32_t j = 0; j < keys.count; ++j) {
    ImportState::KeyRefs& r = st.keyRefs[j];
    if (!checkRef(r.self, "mesh", r.mesh, fmt::kMesh)) return false;
    const Mesh* mesh = static_cast<const Mesh*>(recordAt(r.mesh));
    const int32_t slot = meshSlot.at(mesh);
    st.keyRefs[j].meshSlot = slot;
    const ImportState::MeshRefs& m = st.meshRefs[static_cast<size_t>(slot)];
    if (keys.items[j]->kind == 1) {
      // The rigid path transforms the mesh's own vertices.
      if (mesh->faceCount > 0 && m.vertexList == 0) {
        refuse(r.self, "rigid key shows mesh %d, which has faces but no vertex list", r.mesh);
        return false;
      }
    } else {
      if (!checkRef(r.self, "morph vertex list", r.morph, fmt::kVertexList)) return false;
      const auto* list = static_cast<const VertexList*>(recordAt(r.morph));
      if (list->count < m.neededVertices) {
        refuse(r.self, "morph vertex list %d has %d vertices, the faces of mesh %d use %d", r.morph,
               list->count, r.mesh, m.neededVertices);
        return false;
      }
    }
  }
  return true;
}

// A morph key blends its vertices towards those of its next key, so that key
// must be a morph key too, with at least as many vertices.
bool Scene::checkMorphPartners() {
  ImportState& st = *importState;
  for (int32_t j = 0; j < keys.count; ++j) {
    const Key* key = keys.items[j];
    if (key->kind != 2 || key->next == key) continue;
    const int32_t k = st.nextPosition[j];
    const Key* next = key->next;
    if (next->kind != 2) {
      refuse(st.keyRefs[j].self, "morph key is followed by key %d of the same mesh, which is not a morph key",
             st.keyRefs[k].self);
      return false;
    }
    if (next->morphVertices->count < key->morphVertices->count) {
      refuse(st.keyRefs[j].self,
             "morph vertex list %d has %d vertices, that of the next key %d only %d", st.keyRefs[j].morph,
             key->morphVertices->count, st.keyRefs[k].self, next->morphVertices->count);
      return false;
    }
  }
  return true;
}

namespace {

// 3 x faces x lights, or limit + 1 when that is above `limit` (faces and lights
// are below 2^31, so their product fits 64 bits; three times it might not).
uint64_t CornerLightWork(uint64_t faces, uint64_t lights, uint64_t limit) {
  const uint64_t pairs = faces * lights;
  return pairs > limit / 3 ? limit + 1 : 3 * pairs;
}

}  // namespace

// The work the player and the lighting at load will do, against the limits.
// Each sum is checked after every term, so it stops at most one term (below
// 2^33) past its limit and never wraps.
bool Scene::checkWork() {
  // Lights that do work: the player skips disabled ones, AddLight those with a
  // mode other than 0.
  uint64_t activeLights = 0;
  for (int32_t l = 0; l < lights.count; ++l)
    activeLights += lights.items[l]->enabled != 0 && lights.items[l]->mode == 0;
  // Without camera keys the player leaves the per-frame lighting out.
  const bool relit = cameras.count > 0;
  for (uint32_t f = 0; f < frameCount; ++f) {
    const FrameSpan& span = frameSpans[f];
    uint64_t lighting = 0, geometry = 0;
    for (int32_t i = span.firstKey; i < span.firstKey + span.keyCount; ++i) {
      const Key* key = keys.items[i];
      const Mesh* mesh = key->mesh;
      const uint64_t faces = static_cast<uint64_t>(mesh->faceCount);
      const VertexList* list = key->kind == 2 ? key->morphVertices : mesh->vertexList;
      geometry += faces + (list != nullptr ? static_cast<uint64_t>(list->count) : 0);
      if (key->kind == 1 && mesh->hasMatrix == 0 && relit)
        lighting += CornerLightWork(faces, activeLights, kMaxFrameLighting);
      if (lighting > kMaxFrameLighting) {
        refuse(ImportState::kNoRecord,
               "frame %u needs more than %llu corner-light evaluations (%d keys, %llu lights), the limit per frame",
               f, static_cast<unsigned long long>(kMaxFrameLighting), span.keyCount,
               static_cast<unsigned long long>(activeLights));
        return false;
      }
      if (geometry > kMaxFrameGeometry) {
        refuse(ImportState::kNoRecord,
               "frame %u projects more than %llu faces and vertices (%d keys), the limit per frame", f,
               static_cast<unsigned long long>(kMaxFrameGeometry), span.keyCount);
        return false;
      }
    }
  }
  uint64_t loadLighting = 0;
  for (int32_t i = 0; i < meshes.count; ++i) {
    const Mesh* mesh = meshes.items[i];
    if (mesh->hasMatrix != 1 || mesh->vertexList == nullptr) continue;
    loadLighting += CornerLightWork(static_cast<uint64_t>(mesh->faceCount), activeLights, kMaxLoadLighting);
    if (loadLighting > kMaxLoadLighting) {
      refuse(ImportState::kNoRecord,
             "lighting the placed meshes needs more than %llu corner-light evaluations (%llu lights), the limit",
             static_cast<unsigned long long>(kMaxLoadLighting), static_cast<unsigned long long>(activeLights));
      return false;
    }
  }
  return true;
}

// Frame i is the i-th run of equal frame numbers in file order, whatever the
// numbers are; frames after the last run are empty.
void Scene::buildFrameSpans() {
  delete[] frameSpans;
  frameSpans = new FrameSpan[frameCount]();
  int32_t a = 0;
  for (uint32_t i = 0; i < frameCount; ++i) {
    FrameSpan& span = frameSpans[i];
    span.firstKey = a;
    int32_t n = 0;
    while (a < keys.count && keyFrames[a] == keyFrames[span.firstKey]) {
      ++a;
      ++n;
    }
    span.keyCount = n;
  }
}

void Scene::resolveReferences() {
  resolveKeys();
  resolveMeshMaterials();
  resolveMeshUVLists();
  resolveMaterialTextures();
  resolveMeshVertexLists();
}

void Scene::resolveKeys() {
  ImportState& st = *importState;
  for (int32_t j = 0; j < keys.count; ++j) {
    Key* key = keys.items[j];
    key->mesh = static_cast<Mesh*>(recordAt(st.keyRefs[j].mesh));
    if (key->kind == 2) key->morphVertices = static_cast<VertexList*>(recordAt(st.keyRefs[j].morph));
  }

  // Key j's next is the first key at or after (mesh, frame + 1, j + 1) in the
  // order sorted by (mesh, frame, position), if it has that mesh and frame.
  // Adding the same constants keeps the order, so these targets rise with the
  // sorted position and one sweep finds them all.
  // Bucketed by mesh (stable, so positions ascend within a bucket); a bucket
  // is sorted by frame only if the file did not already have it in order.
  std::vector<ImportState::KeyOrder>& order = st.keyOrder;
  order.resize(static_cast<size_t>(keys.count));
  std::vector<int32_t> start(static_cast<size_t>(meshes.count) + 1, 0);
  for (int32_t k = 0; k < keys.count; ++k) ++start[static_cast<size_t>(st.keyRefs[k].meshSlot) + 1];
  for (size_t m = 1; m < start.size(); ++m) start[m] += start[m - 1];
  std::vector<int32_t> fill(start.begin(), start.end() - 1);
  for (int32_t k = 0; k < keys.count; ++k) {
    const int32_t slot = st.keyRefs[k].meshSlot;
    order[static_cast<size_t>(fill[static_cast<size_t>(slot)]++)] = {static_cast<uintptr_t>(slot), keyFrames[k], k};
  }
  for (size_t m = 0; m + 1 < start.size(); ++m) {
    auto first = order.begin() + start[m], last = order.begin() + start[m + 1];
    auto byFrame = [](const ImportState::KeyOrder& a, const ImportState::KeyOrder& b) { return a.frame < b.frame; };
    if (!std::is_sorted(first, last, byFrame)) std::stable_sort(first, last, byFrame);
  }
  st.nextPosition.resize(static_cast<size_t>(keys.count));
  size_t t = 0;
  for (size_t s = 0; s < order.size(); ++s) {
    const ImportState::KeyOrder target = {order[s].mesh, order[s].frame + 1, order[s].position + 1};
    while (t < order.size() && order[t] < target) ++t;
    const bool found = t < order.size() && order[t].mesh == target.mesh && order[t].frame == target.frame;
    st.nextPosition[static_cast<size_t>(order[s].position)] = found ? order[t].position : order[s].position;
  }
  for (int32_t j = 0; j < keys.count; ++j) linkNextKey(j);
  std::vector<ImportState::KeyOrder>().swap(order);

  for (int32_t i = 0; i + 1 < cameras.count; ++i) cameras.items[i]->next = cameras.items[i + 1];
  if (cameras.count > 0) cameras.items[cameras.count - 1]->next = cameras.items[cameras.count - 1];
}

void Scene::linkNextKey(int32_t j) {
  keys.items[j]->next = keys.items[importState->nextPosition[static_cast<size_t>(j)]];
}

void Scene::resolveMeshMaterials() {
  ImportState& st = *importState;
  auto material = [&](int32_t ref) {
    return ref == 0 ? defaultMaterial : static_cast<Material*>(recordAt(ref));
  };
  for (int32_t i = 0; i < meshes.count; ++i) {
    Mesh* mesh = meshes.items[i];
    const ImportState::MeshRefs& r = st.meshRefs[i];
    if (mesh->perFaceMaterial) {
      // Faces beyond the last run keep index 0: the default material.
      int32_t face = 0;
      for (int32_t f = 0; f < mesh->faceCount; ++f) mesh->faces[f].material = defaultMaterial;
      for (const ImportState::MaterialRun& run : r.runs) {
        Material* m = material(run.material);
        for (uint32_t n = 0; n < run.length; ++n) mesh->faces[face++].material = m;
      }
      mesh->material = defaultMaterial;
    } else {
      mesh->material = material(r.material);
      for (int32_t f = 0; f < mesh->faceCount; ++f) mesh->faces[f].material = mesh->material;
    }
  }
}

void Scene::resolveMeshUVLists() {
  for (int32_t i = 0; i < meshes.count; ++i) {
    const int32_t ref = importState->meshRefs[i].uvList;
    meshes.items[i]->uvList = ref == 0 ? nullptr : static_cast<UVList*>(recordAt(ref));
  }
}

void Scene::resolveMaterialTextures() {
  for (int32_t i = 0; i < materials.count; ++i) {
    const int32_t ref = importState->materialRefs[i].texture;
    materials.items[i]->texture = ref == 0 ? nullptr : static_cast<Texture*>(recordAt(ref));
  }
}

void Scene::resolveMeshVertexLists() {
  for (int32_t i = 0; i < meshes.count; ++i) {
    const int32_t ref = importState->meshRefs[i].vertexList;
    meshes.items[i]->vertexList = ref == 0 ? nullptr : static_cast<VertexList*>(recordAt(ref));
  }
}

namespace {

// Unit vertex normals of a morph list from its own positions: the face
// normals of the mesh's faces over these positions, summed per vertex.
void MorphNormals(const Mesh& mesh, VertexList& list) {
  Vec3* n = list.normals;
  const Vec3* p = list.positions;
  for (int32_t i = 0; i < list.count; ++i) n[i] = {0.0f, 0.0f, 0.0f};
  for (int32_t f = 0; f < mesh.faceCount; ++f) {
    const uint16_t* v = mesh.faces[f].vertex;
    const Vec3 e1 = {p[v[1]].x - p[v[0]].x, p[v[1]].y - p[v[0]].y, p[v[1]].z - p[v[0]].z};
    const Vec3 e2 = {p[v[2]].x - p[v[0]].x, p[v[2]].y - p[v[0]].y, p[v[2]].z - p[v[0]].z};
    const Vec3 c = {e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
    for (int k = 0; k < 3; ++k) n[v[k]] = {n[v[k]].x + c.x, n[v[k]].y + c.y, n[v[k]].z + c.z};
  }
  for (int32_t i = 0; i < list.count; ++i) {
    const float len2 = n[i].x * n[i].x + n[i].y * n[i].y + n[i].z * n[i].z;
    if (len2 > 0.0f) {
      const float inv = 1.0f / sqrtf(len2);
      n[i] = {n[i].x * inv, n[i].y * inv, n[i].z * inv};
    }
  }
}

}  // namespace

// Object keys end up mapping object space straight to camera space; morph
// lists hold camera-space positions. Runs once: running it twice would apply
// the camera twice.
void Scene::bakeCameraSpace() {
  for (uint32_t i = 0; i < frameCount; ++i) {
    const Matrix& V = cameras.items[i]->matrix;
    const FrameSpan& span = frameSpans[i];
    for (int32_t j = span.firstKey; j < span.firstKey + span.keyCount; ++j) {
      Key* key = keys.items[j];
      if (key->kind != 1 && key->kind != 2) continue;
      if (key->useMeshMatrix) key->matrix = key->mesh->matrix;
      key->matrix.Compose(V);
      if (key->kind == 2) {
        VertexList* list = key->morphVertices;
        for (int32_t v = 0; v < list->count; ++v) list->positions[v] = key->matrix.Transform(list->positions[v]);
        MorphNormals(*key->mesh, *list);
      }
    }
  }
}

void Scene::computeMeshGeometry() {
  for (int32_t i = 0; i < meshes.count; ++i) {
    Mesh* mesh = meshes.items[i];
    if (mesh->vertexList == nullptr) continue;
    mesh->ComputeFacePlanes(mesh->vertexList);
    mesh->ComputeVertexNormals(mesh->vertexList);
  }
}

// Meshes with their own placement are lit once, here, by every enabled light;
// the player never relights them.
void Scene::computeStaticLighting() {
  for (int32_t l = 0; l < lights.count; ++l) {
    Light* light = lights.items[l];
    if (light->enabled != 1) continue;
    for (int32_t i = 0; i < meshes.count; ++i) {
      Mesh* mesh = meshes.items[i];
      if (mesh->hasMatrix != 1 || mesh->vertexList == nullptr) continue;
      const Matrix& m = mesh->matrix;
      const Vec3 d = {light->matrix.t.x - m.t.x, light->matrix.t.y - m.t.y, light->matrix.t.z - m.t.z};
      Matrix placement;
      placement.SetIdentity();
      // Into the mesh's object space: the inverse rotation for a rotation without scale.
      placement.t = {d.x * m.r0.x + d.y * m.r0.y + d.z * m.r0.z, d.x * m.r1.x + d.y * m.r1.y + d.z * m.r1.z,
                     d.x * m.r2.x + d.y * m.r2.y + d.z * m.r2.z};
      mesh->AddLight(mesh->vertexList, light, placement);
    }
  }
}
