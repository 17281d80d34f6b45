// Mesh geometry and face-corner lighting.
#include <math.h>

#include "Scene.h"

Mesh::Mesh(int32_t count)
    : faceCount(count),
      faces(count > 0 ? new Face[count]() : nullptr),
      vertexList(nullptr),
      perFaceMaterial(0),
      material(nullptr),
      uvList(nullptr),
      hasMatrix(0) {
  matrix.SetIdentity();
  ClearLighting();
}

namespace {

Vec3 Sub(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

}  // namespace

void Mesh::ComputeFacePlanes(VertexList* list) {
  if (list == nullptr || faceCount <= 0) return;
  const Vec3* p = list->positions;
  for (int32_t i = 0; i < faceCount; ++i) {
    Face& f = faces[i];
    const Vec3& p0 = p[f.vertex[0]];
    f.normal = Cross(Sub(p[f.vertex[1]], p0), Sub(p[f.vertex[2]], p0));
    f.planeD = Dot(f.normal, p0);
  }
}

void Mesh::ComputeVertexNormals(VertexList* list) {
  if (list == nullptr) return;
  Vec3* n = list->normals;
  for (int32_t i = 0; i < list->count; ++i) n[i] = {0.0f, 0.0f, 0.0f};
  for (int32_t i = 0; i < faceCount; ++i) {
    const Face& f = faces[i];
    for (int c = 0; c < 3; ++c) {
      Vec3& v = n[f.vertex[c]];
      v = {v.x + f.normal.x, v.y + f.normal.y, v.z + f.normal.z};
    }
  }
  for (int32_t i = 0; i < list->count; ++i) {
    float len2 = Dot(n[i], n[i]);
    // An unused vertex sums to zero; it keeps (0, 0, 0) rather than 0/0 = NaN.
    if (len2 > 0.0f) {
      float inv = 1.0f / sqrtf(len2);
      n[i] = {n[i].x * inv, n[i].y * inv, n[i].z * inv};
    }
  }
}

void Mesh::ClearLighting() {
  for (int32_t i = 0; i < faceCount; ++i) {
    for (RGBColor& c : faces[i].cornerColor) c = {0.0f, 0.0f, 0.0f};
  }
}

void Mesh::AddLight(VertexList* list, Light* light, const Matrix& placement) {
  if (light->mode != 0) return;
  const Vec3 P = placement.t;
  for (int32_t i = 0; i < faceCount; ++i) {
    Face& f = faces[i];
    const Material* m = perFaceMaterial ? f.material : material;
    for (int j = 0; j < 3; ++j) {
      const uint16_t v = f.vertex[j];
      const Vec3 d = Sub(P, list->positions[v]);
      const float len2 = Dot(d, d);
      // A light exactly at the vertex has no direction: it adds nothing.
      if (!(len2 > 0.0f)) continue;
      const float inv = 1.0f / sqrtf(len2);
      const Vec3& n = list->normals[v];
      float I = ((d.x * inv) * n.x + (d.y * inv) * n.y + (d.z * inv) * n.z) * light->intensity;
      if (I < 0.0f) I = 0.0f;
      RGBColor& c = f.cornerColor[j];
      if (m->textureHandle == -1) {
        c.r += I * light->color.r * m->diffuse.r;
        c.g += I * light->color.g * m->diffuse.g;
        c.b += I * light->color.b * m->diffuse.b;
      } else {
        c.r += I * light->color.r;
        c.g += I * light->color.g;
        c.b += I * light->color.b;
      }
    }
  }
}
