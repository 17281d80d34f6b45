// The per-frame driver: sampling, the walk over a frame's keys, the rigid and
// morph draw paths and the per-frame lighting of rigid keys.
#include "ScenePlayer.h"

#include <math.h>
#include <string.h>

#include "DebugPrint.h"

namespace {

// The view distances the player works with.
const float kNearZ = 0.1f;
const float kFarZ = 1000.0f;
// Horizontal field of view, radians.
const float kFieldOfView = 0.78539819f;

// trunc(value) & 0xFF as the colour conversions need it. Values are
// non-negative sums of products in practice; NaN and anything outside the int
// range give 0 instead of an undefined conversion.
inline uint32_t ChannelByte(float value) {
  if (!(value >= 0.0f && value < 2147483648.0f)) return 0;
  return static_cast<uint32_t>(static_cast<int32_t>(value)) & 0xFF;
}

// Clamps the corner colour at 1.0 in place (the stored colour keeps the clamp)
// and converts it: (trunc(r*255) & 0xFF) << 16 | (trunc(g*255) & 0xFF) << 8 |
// (trunc(b*255) & 0xFF), alpha 0. 0.5 gives 127, 1.0 and above give 255.
inline uint32_t CornerDiffuse(RGBColor& c) {
  if (c.r > 1.0f) c.r = 1.0f;
  if (c.g > 1.0f) c.g = 1.0f;
  if (c.b > 1.0f) c.b = 1.0f;
  return ChannelByte(c.r * 255.0f) << 16 | ChannelByte(c.g * 255.0f) << 8 |
         ChannelByte(c.b * 255.0f);
}

// p.x*r0 + p.y*r1 + p.z*r2 + t, summed left to right in float.
inline void TransformPoint(const Matrix& m, const Vec3& p, float& x, float& y, float& z) {
  x = p.x * m.r0.x + p.y * m.r1.x + p.z * m.r2.x + m.t.x;
  y = p.x * m.r0.y + p.y * m.r1.y + p.z * m.r2.y + m.t.y;
  z = p.x * m.r0.z + p.y * m.r1.z + p.z * m.r2.z + m.t.z;
}

// True when a corner has a finite view-space position but no finite screen
// position (x, y or rhw infinite or NaN).
inline bool HasUnprojectableCorner(const ClipVertex* v) {
  for (int j = 0; j < 3; ++j) {
    const ClipVertex& c = v[j];
    if (isfinite(c.vx) && isfinite(c.vy) && isfinite(c.vz) &&
        !(isfinite(c.tl.x) && isfinite(c.tl.y) && isfinite(c.tl.rhw)))
      return true;
  }
  return false;
}

inline Vec3 Blend3(const Vec3& x, float a, const Vec3& y, float b) {
  return Vec3{a * x.x + b * y.x, a * x.y + b * y.y, a * x.z + b * y.z};
}

}  // namespace

Matrix BlendMatrix(const Matrix& x, float a, const Matrix& y, float b) {
  Matrix m;
  m.r0 = Blend3(x.r0, a, y.r0, b);
  m.r1 = Blend3(x.r1, a, y.r1, b);
  m.r2 = Blend3(x.r2, a, y.r2, b);
  m.t = Blend3(x.t, a, y.t, b);
  return m;
}

ScenePlayer::ScenePlayer(Renderer* renderer, Scene* scene)
    : scene(scene),
      renderer(renderer),
      fov(kFieldOfView),
      verticalFov(0),
      xScale(0),
      yScale(0),
      xCentre(0),
      yCentre(0),
      nearZ(0),
      farZ(0),
      depthScale(0),
      depthOffset(0),
      workVertices(nullptr),
      transformed(nullptr),
      planes(),
      playable_(scene != nullptr && scene->isPlayable()),
      workCapacity_(0) {
  SetNearPlane(kNearZ);
  SetFarPlane(kFarZ);
  if (!playable_) {
    // The import has already said why; the player must not read a scene that
    // was refused, so it stays empty and draws nothing.
    DebugPrint("\nScenePlayer: the scene is not playable, nothing will be drawn");
    SetupProjection(kFieldOfView);
    return;
  }

  // Zeroed rather than left as they come: no field of a work record can carry
  // an undefined value into the batch.
  const uint32_t n = scene->maxVertexCount;
  workVertices = new ClipVertex[n]();
  transformed = new uint8_t[n]();
  workCapacity_ = static_cast<int32_t>(n);

  // Upload every texture, index order, then give the materials their indices.
  Array<Texture>* textures = scene->textures;
  if (textures != nullptr) {
    for (int32_t i = 0; i < textures->count; ++i) {
      Texture* texture = textures->items[i];
      if (texture != nullptr) texture->handle = renderer->UploadTexture(*texture);
    }
  }
  for (int32_t i = 0; i < scene->materials.count; ++i) {
    Material* material = scene->materials.items[i];
    if (material == nullptr) continue;
    material->textureHandle = material->texture != nullptr ? material->texture->handle : -1;
  }

  // The pixel data now lives in the renderer; the Texture records stay for
  // the materials.
  scene->dropTexturePixels();

  SetupProjection(kFieldOfView);
}

ScenePlayer::~ScenePlayer() {
  delete[] workVertices;
  workVertices = nullptr;
  delete[] transformed;
  transformed = nullptr;
}

ScenePlayer::Sample ScenePlayer::SampleTime(uint32_t time) const {
  Sample sample{false, 0, 0.0f, 1.0f};
  const uint32_t frameCount = scene->frameCount;
  if (frameCount == 1) {
    // One frame has an infinite frame duration and t would be 0 * inf; the
    // only frame is drawn as it is.
    sample.valid = true;
    return sample;
  }
  const double duration = static_cast<double>(scene->frameDuration);
  const double q = static_cast<double>(time) / duration;
  // Also false for NaN, so a frame index is converted only when it is in range.
  if (!(q >= 0.0 && q < static_cast<double>(frameCount))) return sample;
  sample.frame = static_cast<uint32_t>(q);
  float t = static_cast<float>((static_cast<double>(time) - sample.frame * duration) / duration);
  if (!(t == t)) t = 0.0f;
  sample.valid = true;
  sample.t = t;
  sample.s = 1.0f - t;
  return sample;
}

void ScenePlayer::Render(uint32_t time) {
  SetupProjection(fov);
  if (!playable_) return;

  const Sample sample = SampleTime(time);
  if (!sample.valid) {
    // No frame data exists for that index: the frame stays empty.
    DebugPrint("\nwrong FirstKey, time=%d", static_cast<int>(time));
    return;
  }

  // The camera blend is the same for every key of the frame; it only carries
  // the lights into view space. No camera (a scene the importer would refuse)
  // leaves the per-frame lighting out.
  Matrix camera;
  const Matrix* cameraPtr = nullptr;
  if (sample.frame < static_cast<uint32_t>(scene->cameras.count)) {
    const Key* c = scene->cameras.items[sample.frame];
    camera = BlendMatrix(c->matrix, sample.s, c->next->matrix, sample.t);
    cameraPtr = &camera;
  }

  const FrameSpan span = scene->frameSpans[sample.frame];
  for (int32_t i = span.firstKey; i < span.firstKey + span.keyCount; ++i) {
    const Key& key = *scene->keys.items[i];
    const Mesh& mesh = *key.mesh;
    if (mesh.perFaceMaterial == 0) renderer->SetTextures(mesh.material->textureHandle, -1);
    if (key.kind == 1) {
      DrawRigidKey(key, sample, cameraPtr);
    } else if (key.kind == 2) {
      DrawMorphKey(key, sample);
    } else {
      continue;
    }
    renderer->Flush();
  }
}

void ScenePlayer::DrawRigidKey(const Key& key, const Sample& sample, const Matrix* camera) {
  Mesh& mesh = *key.mesh;
  const VertexList* list = mesh.vertexList;
  if (list == nullptr) return;  // nothing to place

  const Matrix m = BlendMatrix(key.matrix, sample.s, key.next->matrix, sample.t);
  memset(transformed, 0, static_cast<size_t>(ClampToWork(list->count)));

  // Meshes without their own placement are relit for every key that draws them.
  if (mesh.hasMatrix == 0 && camera != nullptr) {
    mesh.ClearLighting();
    for (int32_t l = 0; l < scene->lights.count; ++l) {
      Light* light = scene->lights.items[l];
      if (light->enabled == 0) continue;
      // Light to view space with the camera, then into the mesh's coordinates
      // by the transposed key rows.
      const Vec3& L = light->matrix.t;
      float lx, ly, lz;
      TransformPoint(*camera, L, lx, ly, lz);
      const float ex = lx - m.t.x, ey = ly - m.t.y, ez = lz - m.t.z;
      Matrix placement;
      placement.SetIdentity();
      placement.t.x = ex * m.r0.x + ey * m.r0.y + ez * m.r0.z;
      placement.t.y = ex * m.r1.x + ey * m.r1.y + ez * m.r1.z;
      placement.t.z = ex * m.r2.x + ey * m.r2.y + ez * m.r2.z;
      mesh.AddLight(mesh.vertexList, light, placement);
    }
  }

  const Vec3* positions = list->positions;
  const float(*coords)[2] = mesh.uvList != nullptr ? mesh.uvList->coords : nullptr;
  ClipVertex triangle[3];
  for (int32_t f = 0; f < mesh.faceCount; ++f) {
    Face& face = mesh.faces[f];
    if (mesh.perFaceMaterial != 0) renderer->SetTextures(face.material->textureHandle, -1);
    for (int j = 0; j < 3; ++j) {
      const uint16_t v = face.vertex[j];
      ClipVertex& record = workVertices[v];
      if (transformed[v] == 0) {
        // Once per vertex and key, however many faces share it.
        transformed[v] = 1;
        TransformPoint(m, positions[v], record.vx, record.vy, record.vz);
        Project(record);
      }
      ClipVertex& corner = triangle[j];
      corner = record;
      if (coords != nullptr) {
        corner.tl.u = coords[face.uv[j]][0];
        corner.tl.v = coords[face.uv[j]][1];
      } else {
        corner.tl.u = 0.0f;
        corner.tl.v = 0.0f;
      }
      corner.tl.diffuse = CornerDiffuse(face.cornerColor[j]);
    }
    // No clipping or back-face test here: the device clips and culls, with
    // one exception.
    if (HasUnprojectableCorner(triangle)) {
      // A corner on the eye plane (or so close to it that 1 / z overflows)
      // has no finite screen position, and the device cannot take it back to
      // clip space: it would drop the whole triangle, its visible part too.
      // Such a triangle is cut at the near plane here, where its view-space
      // corners are still exact, as the device would have cut it.
      ClipVertex clipped[4];
      EmitPolygon(clipped, ClipPolygon(triangle, 3, clipped, planes[kNear]));
      continue;
    }
    EmitPolygon(triangle, 3);
  }
}

void ScenePlayer::DrawMorphKey(const Key& key, const Sample& sample) {
  renderer->Print(0xFF0000, 0, 100, "morphing");
  const VertexList* own = key.morphVertices;
  const VertexList* partner = key.next->morphVertices;
  if (own == nullptr || partner == nullptr) return;

  // Every vertex of the list is blended and projected, used or not.
  const float s = sample.s, t = sample.t;
  const Vec3* a = own->positions;
  const Vec3* b = partner->positions;
  const int32_t count = ClampToWork(own->count);
  for (int32_t v = 0; v < count; ++v) {
    ClipVertex& r = workVertices[v];
    r.vx = s * a[v].x + t * b[v].x;
    r.vy = s * a[v].y + t * b[v].y;
    r.vz = s * a[v].z + t * b[v].z;
    Project(r);
  }

  const Mesh& mesh = *key.mesh;
  const float(*coords)[2] = mesh.uvList != nullptr ? mesh.uvList->coords : nullptr;
  ClipVertex polyA[kPolygonCapacity];
  ClipVertex polyB[kPolygonCapacity];
  for (int32_t f = 0; f < mesh.faceCount; ++f) {
    const Face& face = mesh.faces[f];
    if (mesh.perFaceMaterial != 0) renderer->SetTextures(face.material->textureHandle, -1);
    for (int j = 0; j < 3; ++j) {
      ClipVertex& corner = polyA[j];
      corner = workVertices[face.vertex[j]];
      if (coords != nullptr) {
        corner.tl.u = coords[face.uv[j]][0];
        corner.tl.v = coords[face.uv[j]][1];
      } else {
        corner.tl.u = 0.0f;
        corner.tl.v = 0.0f;
      }
      corner.tl.diffuse = kMorphDiffuse;
    }

    // Keep only faces that turn counter-clockwise on the screen (y down); zero
    // area is dropped too. Corners behind the viewer take part as projected.
    const float x0 = polyA[0].tl.x, y0 = polyA[0].tl.y;
    const float x1 = polyA[1].tl.x, y1 = polyA[1].tl.y;
    const float x2 = polyA[2].tl.x, y2 = polyA[2].tl.y;
    const float area = (x1 - x0) * (y2 - y1) - (y1 - y0) * (x2 - x1);
    if (!(area < 0.0f)) continue;

    int n = 3;
    // Near, far, left, right, top, bottom, back and forth between the buffers.
    static const PlaneIndex kOrder[kPlaneCount] = {kNear, kFar, kLeft, kRight, kTop, kBottom};
    ClipVertex* in = polyA;
    ClipVertex* out = polyB;
    for (int p = 0; p < kPlaneCount; ++p) {
      // A convex polygon gains at most one vertex per plane (9 at most here).
      // Rounding can make a clipped polygon very slightly non-convex, and a
      // step may then return up to 3n/2: keep the input small enough that the
      // result always fits the buffer.
      if (n > kMaxClipInput) n = kMaxClipInput;
      n = ClipPolygon(in, n, out, planes[kOrder[p]]);
      ClipVertex* swap = in;
      in = out;
      out = swap;
    }
    EmitPolygon(in, n);
  }
}
