#include "Geometry.h"

#include <utility>

namespace demogen {

int Geometry::Vertex(V3 p, float u, float v) {
  positions.push_back(p);
  uvs.push_back({{u, v}});
  return int(positions.size()) - 1;
}

void Geometry::Triangle(int a, int b, int c, V3 outward, int slot) {
  V3 n = Cross(positions[size_t(b)] - positions[size_t(a)], positions[size_t(c)] - positions[size_t(a)]);
  if (Dot(n, outward) < 0) std::swap(b, c);
  faces.push_back({{uint16_t(a), uint16_t(b), uint16_t(c)}});
  slots.push_back(slot);
}

void Geometry::Quad(int a, int b, int c, int d, V3 outward, int slot) {
  Triangle(a, b, c, outward, slot);
  Triangle(a, c, d, outward, slot);
}

void AddBox(Geometry& g, V3 lo, V3 hi, int slot, float uvScale) {
  V3 c = (lo + hi) * 0.5f, h = (hi - lo) * 0.5f;
  const V3 axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int a = 0; a < 3; ++a)
    for (int sign = -1; sign <= 1; sign += 2) {
      V3 n = axes[a] * float(sign);
      V3 u = axes[(a + 1) % 3], v = axes[(a + 2) % 3];
      float hu = Dot(h, u), hv = Dot(h, v), hn = Dot(h, axes[a]);
      V3 centre = c + n * hn;
      int i0 = g.Vertex(centre - u * hu - v * hv, 0, 0);
      int i1 = g.Vertex(centre + u * hu - v * hv, uvScale, 0);
      int i2 = g.Vertex(centre + u * hu + v * hv, uvScale, uvScale);
      int i3 = g.Vertex(centre - u * hu + v * hv, 0, uvScale);
      g.Quad(i0, i1, i2, i3, n, slot);
    }
}

void AddShaft(Geometry& g, float radius, float y0, float y1, int segments, int rows, int slot) {
  int first = int(g.positions.size());
  for (int j = 0; j <= rows; ++j)
    for (int k = 0; k <= segments; ++k) {
      float a = 2.0f * kPi * float(k) / float(segments);
      float y = y0 + (y1 - y0) * float(j) / float(rows);
      g.Vertex({radius * std::cos(a), y, -radius * std::sin(a)}, float(k) / float(segments) * 2.0f, y / 2.5f);
    }
  for (int j = 0; j < rows; ++j)
    for (int k = 0; k < segments; ++k) {
      int a = first + j * (segments + 1) + k;
      int b = a + 1, c = a + segments + 2, d = a + segments + 1;
      V3 mid = (g.positions[size_t(a)] + g.positions[size_t(c)]) * 0.5f;
      g.Quad(a, b, c, d, {mid[0], 0, mid[2]}, slot);
    }
}

void AddSphere(Geometry& g, float radius, int rings, int segments, int slot) {
  int first = int(g.positions.size());
  for (int i = 0; i <= rings; ++i)
    for (int k = 0; k <= segments; ++k) {
      float th = kPi * float(i) / float(rings), ph = 2.0f * kPi * float(k) / float(segments);
      V3 d{std::sin(th) * std::cos(ph), std::cos(th), -std::sin(th) * std::sin(ph)};
      g.Vertex(d * radius, float(k) / float(segments) * 2.0f, float(i) / float(rings));
    }
  for (int i = 0; i < rings; ++i)
    for (int k = 0; k < segments; ++k) {
      int a = first + i * (segments + 1) + k, b = a + 1, c = a + segments + 2, d = a + segments + 1;
      V3 out = g.positions[size_t(a)] + g.positions[size_t(c)];
      // Skip the zero-area halves of the quads at the poles.
      if (i != 0) g.Triangle(a, b, c, out, slot);
      if (i != rings - 1) g.Triangle(a, c, d, out, slot);
    }
}

void AddTorus(Geometry& g, float major, float minor, int segments, int sides, int slot) {
  int first = int(g.positions.size());
  for (int k = 0; k < segments; ++k)
    for (int s = 0; s < sides; ++s) {
      float a = 2.0f * kPi * float(k) / float(segments), b = 2.0f * kPi * float(s) / float(sides);
      float r = major + minor * std::cos(b);
      g.Vertex({r * std::cos(a), minor * std::sin(b), -r * std::sin(a)});
    }
  for (int k = 0; k < segments; ++k)
    for (int s = 0; s < sides; ++s) {
      int a = first + k * sides + s, b = first + ((k + 1) % segments) * sides + s;
      int c = first + ((k + 1) % segments) * sides + (s + 1) % sides, d = first + k * sides + (s + 1) % sides;
      float ang = 2.0f * kPi * (float(k) + 0.5f) / float(segments);
      V3 ring{major * std::cos(ang), 0, -major * std::sin(ang)};
      V3 mid = (g.positions[size_t(a)] + g.positions[size_t(c)]) * 0.5f;
      g.Quad(a, b, c, d, mid - ring, slot);
    }
}

void AddCrystal(Geometry& g, float halfHeight, float radius, int slot) {
  V3 top{0, halfHeight, 0}, bottom{0, -halfHeight, 0};
  V3 ring[4] = {{radius, 0, 0}, {0, 0, -radius}, {-radius, 0, 0}, {0, 0, radius}};
  for (int k = 0; k < 4; ++k) {
    V3 a = ring[k], b = ring[(k + 1) % 4];
    for (V3 apex : {top, bottom}) {
      int i0 = g.Vertex(apex), i1 = g.Vertex(a), i2 = g.Vertex(b);
      g.Triangle(i0, i1, i2, (apex + a + b) * (1.0f / 3.0f), slot);
    }
  }
}

MeshDef WriteGeometry(vef::SceneWriter* w, const Geometry& g, const std::vector<int32_t>& materials, bool textured) {
  MeshDef def;
  vef::VertexListRecord list;
  for (V3 p : g.positions) list.positions.push_back(F3(p));
  def.vertexList = w->addVertexList(list);
  if (textured) {
    vef::UVListRecord uv;
    // The importer stores 1 - v; write 1 - v so that v runs down the image.
    for (const auto& c : g.uvs) uv.coords.push_back({{c[0], 1.0f - c[1]}});
    def.uvList = w->addUVList(uv);
  }
  // Faces grouped by material slot, in slot order, each group a run.
  for (size_t slot = 0; slot < materials.size(); ++slot) {
    uint32_t length = 0;
    for (size_t f = 0; f < g.faces.size(); ++f)
      if (g.slots[f] == int(slot)) {
        def.faces.push_back(g.faces[f]);
        ++length;
      }
    if (length > 0) def.runs.push_back({length, materials[slot]});
  }
  def.vertexCount = int(g.positions.size());
  def.byteIndices = def.vertexCount <= 256;
  return def;
}

int32_t WriteMesh(vef::SceneWriter* w, const MeshDef& def, const std::optional<vef::MatrixBlock>& placement) {
  vef::MeshRecord m;
  m.faces = def.faces;
  m.byteIndices = def.byteIndices;
  m.vertexList = def.vertexList;
  if (def.runs.size() == 1) m.material = def.runs[0].material;
  else m.runs = def.runs;
  if (def.uvList) {
    m.uvList = def.uvList;
    m.uvs = def.faces;  // one UV per vertex
  }
  m.placement = placement;
  return w->addMesh(m);
}

}  // namespace demogen
