// The scene player: evaluates the loaded scene at a demo time, lights, projects
// and clips it, and hands finished screen triangles to the renderer's batch.
//
// Conventions, relied on throughout the pipeline:
// - The scene is already in view space: every object key maps mesh coordinates
//   straight to view space (x right, y up, z away from the viewer), and morph
//   lists hold view-space positions. Camera keys only carry the lights.
// - Screen space is in pixels, y growing downward, with 0.001 added to the centre.
//   Depth runs from 0 at nearZ to 1 at farZ; rhw is 1 / view-space z.
// - Front faces turn counter-clockwise on the screen; the morph path drops the
//   others itself, the device culls them for the rigid path.
// - Arithmetic is 32-bit float; every stored value is a float. Frame sampling
//   alone runs in double precision.
// - Nothing is allocated after construction.
#ifndef SCENEPLAYER_H
#define SCENEPLAYER_H

#include <stdint.h>

#include "ClipVertex.h"
#include "Renderer.h"
#include "Scene.h"

class ScenePlayer {
 public:
  // Order of `planes`. The morph path clips near, far, left, right, top, bottom.
  enum PlaneIndex { kLeft = 0, kRight, kTop, kBottom, kNear, kFar, kPlaneCount };
  // Polygon buffers of the morph path: a triangle clipped by six planes never
  // exceeds 9 vertices; 18 leaves room to spare.
  static constexpr int kPolygonCapacity = 18;
  // Largest polygon handed to one clipping step: its result (at most 3n/2
  // vertices) always fits a polygon buffer.
  static constexpr int kMaxClipInput = kPolygonCapacity * 2 / 3;
  // Diffuse colour of morph-key triangles (morph keys are not lit): opaque
  // white, so the device shows the texture unmodulated.
  static constexpr uint32_t kMorphDiffuse = 0x00FFFFFF;

  Scene* scene;        // not owned
  Renderer* renderer;  // not owned
  float fov;           // horizontal field of view, radians: pi/4
  float verticalFov;   // radians, derived from fov and the aspect
  float xScale;        // pixels per unit of x/z
  float yScale;        // pixels per unit of y/z, negative (screen y grows down)
  float xCentre;       // (width - 0.5) / 2 + 0.001, pixels
  float yCentre;       // (height - 0.5) / 2 + 0.001, pixels
  float nearZ;         // 0.1, view-space z that maps to depth 0
  float farZ;          // 1000.0, view-space z that maps to depth 1
  float depthScale;    // nearZ * farZ / (nearZ - farZ)
  float depthOffset;   // farZ / (farZ - nearZ)
  ClipVertex* workVertices;  // maxVertexCount records: the current key's vertices
  uint8_t* transformed;      // maxVertexCount flags: 1 = vertex of this rigid key projected
  ClipPlane planes[kPlaneCount];

  // Uploads every texture of the scene, fills the materials' texture indices,
  // drops the scene's textures Array with its pixel data and sets up the
  // projection. A scene that is not playable (its import was refused) is not
  // touched: the player then draws nothing.
  ScenePlayer(Renderer* renderer, Scene* scene);
  // Frees the work buffers; touches neither the renderer nor the scene.
  ~ScenePlayer();
  ScenePlayer(const ScenePlayer&) = delete;
  ScenePlayer& operator=(const ScenePlayer&) = delete;

  // Draws the scene at demo time `time` (0 .. 10000) into the current frame,
  // one Flush per drawn key.
  void Render(uint32_t time);

  // Stores fov and derives the screen mapping and the six planes from it, nearZ,
  // farZ and the renderer's current size.
  void SetupProjection(float fov);
  void SetNearPlane(float z);
  void SetFarPlane(float z);
  void UpdateDepthMapping();
  // Fills x, y, z, rhw and clipFlags of `r` from its view-space position.
  void ProjectVertex(ClipVertex& r) const { Project(r); }
  // One clipping step: writes the part of the convex polygon in[0 .. n-1] that
  // lies inside `plane` to `out` and returns its vertex count (0, or 3 .. n+1).
  // `out` must hold n + 1 records.
  int ClipPolygon(const ClipVertex* in, int n, ClipVertex* out, const ClipPlane& plane) const;
  // out = the point at t on the edge a -> b (view space, u, v, diffuse), projected.
  void InterpolateVertex(const ClipVertex& a, const ClipVertex& b, ClipVertex& out, float t) const;
  // Hands the convex polygon p[0 .. n-1] to the renderer as a fan of up to four
  // triangles, keeping its turning direction. n of 1 or 2 and the part beyond
  // the first triangle of n >= 7 are logged and not drawn.
  void EmitPolygon(const ClipVertex* p, int n);

  // The sampling of a demo time: frame index and blend weights.
  struct Sample {
    bool valid;  // false: the frame index is not below frameCount
    uint32_t frame;
    float t;  // weight of each key's `next`, 0 <= t < 1
    float s;  // 1 - t
  };
  Sample SampleTime(uint32_t time) const;

 private:
  bool playable_;
  int32_t workCapacity_;  // records in workVertices and flags in transformed

  // A list length limited to the work buffers (lists never exceed
  // maxVertexCount in a scene that was accepted; this only keeps the buffers safe).
  int32_t ClampToWork(int32_t count) const {
    return count < 0 ? 0 : (count > workCapacity_ ? workCapacity_ : count);
  }

  inline void Project(ClipVertex& r) const {
    const double w = 1.0 / static_cast<double>(r.vz);
    const float a = static_cast<float>(w);
    r.tl.z = a * depthScale + depthOffset;
    r.clipFlags = r.tl.z < 0.0f ? 16 : (r.tl.z > 1.0f ? 32 : 0);
    r.tl.x = (r.vx * xScale) * a + xCentre;
    r.tl.y = (r.vy * yScale) * a + yCentre;
    r.tl.rhw = a;
  }

  void DrawRigidKey(const Key& key, const Sample& sample, const Matrix* camera);
  void DrawMorphKey(const Key& key, const Sample& sample);
};

// out = a*x + b*y, element by element, for the nine rotation numbers and the
// translation of a matrix; every element rounded to float.
Matrix BlendMatrix(const Matrix& x, float a, const Matrix& y, float b);

#endif
