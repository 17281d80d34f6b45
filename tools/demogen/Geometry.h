// The generator's geometry: meshes built in object space from boxes, shafts,
// spheres, tori and crystals, and written once as vertex and UV lists that
// every copy of a mesh shares.
//
// Triangles turn counter-clockwise seen from outside (the demo's front faces).
#ifndef DEMOGEN_GEOMETRY_H
#define DEMOGEN_GEOMETRY_H

#include <array>
#include <optional>
#include <vector>

#include "SceneMath.h"
#include "SceneWriter.h"

namespace demogen {

// A mesh under construction: one UV per vertex (the UV list parallels the
// vertex list) and a material slot per face.
struct Geometry {
  std::vector<V3> positions;                 // object space, metres
  std::vector<std::array<float, 2>> uvs;     // u right, v up the image
  std::vector<vef::Index3> faces;
  std::vector<int> slots;                    // material slot of each face

  int Vertex(V3 p, float u = 0, float v = 0);
  // Adds triangle a, b, c, turned so that its normal points along `outward`.
  void Triangle(int a, int b, int c, V3 outward, int slot);
  void Quad(int a, int b, int c, int d, V3 outward, int slot);
};

// An axis-aligned box from lo to hi, each side with its own four vertices and
// UVs 0..1 scaled by uvScale.
void AddBox(Geometry& g, V3 lo, V3 hi, int slot, float uvScale = 1.0f);
// A cylinder shaft around the y axis from y0 to y1 (no caps).
void AddShaft(Geometry& g, float radius, float y0, float y1, int segments, int rows, int slot);
// A UV sphere of `rings` latitude bands and `segments` longitude steps; the
// seam and the poles carry duplicate vertices for the texture coordinates.
void AddSphere(Geometry& g, float radius, int rings, int segments, int slot);
// A torus around the y axis, smooth (shared vertices, no seam duplicates).
void AddTorus(Geometry& g, float major, float minor, int segments, int sides, int slot);
// A faceted double pyramid (crystal): each face has its own vertices.
void AddCrystal(Geometry& g, float halfHeight, float radius, int slot);

// One mesh's written lists and faces, for as many mesh records as needed.
struct MeshDef {
  int32_t vertexList = 0;
  int32_t uvList = 0;               // 0: untextured
  std::vector<vef::Index3> faces;   // sorted by material
  std::vector<vef::MaterialRun> runs;
  bool byteIndices = false;
  int vertexCount = 0;
};

// Writes the geometry's lists and returns the mesh definition; `materials`
// maps the geometry's slots to material refs.
MeshDef WriteGeometry(vef::SceneWriter* w, const Geometry& g, const std::vector<int32_t>& materials, bool textured);
// A mesh record of `def`, placed by `placement` when it has one.
int32_t WriteMesh(vef::SceneWriter* w, const MeshDef& def, const std::optional<vef::MatrixBlock>& placement);

}  // namespace demogen

#endif
