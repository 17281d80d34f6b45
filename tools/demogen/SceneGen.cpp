// The default scene generator. Geometry is built in object space, written once
// (vertex lists and UV lists shared by every copy of a mesh), and animated by
// writing one camera key and one object key per visible object per frame.
//
// Every object key is baked with its frame's camera by the importer, so a key
// blended towards a key of another camera shot would smear across the cut.
// Each mesh therefore exists twice (two banks); shots alternate between the
// banks, so a key before a cut has no partner after it and holds still.
#include "SceneGen.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "SceneFormat.h"
#include "Textures.h"

namespace demogen {
namespace {

constexpr float kPi = 3.14159265358979f;

struct V3 {
  float x = 0, y = 0, z = 0;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 Cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V3 Normalize(V3 a) { return a * (1.0f / std::sqrt(Dot(a, a))); }
vef::Float3 F3(V3 v) { return {{v.x, v.y, v.z}}; }

// Row-vector transform p' = p.x*r0 + p.y*r1 + p.z*r2 + t, as in the scene file.
struct Mat {
  V3 r0{1, 0, 0}, r1{0, 1, 0}, r2{0, 0, 1}, t{};
  V3 Apply(V3 p) const { return r0 * p.x + r1 * p.y + r2 * p.z + t; }
};

// The rotation that a matrix block's angles stand for.
Mat Rotation(V3 a) {
  float r[3][3];
  SceneFormat::RotationRows(a.x, a.y, a.z, r);
  Mat m;
  m.r0 = {r[0][0], r[0][1], r[0][2]};
  m.r1 = {r[1][0], r[1][1], r[1][2]};
  m.r2 = {r[2][0], r[2][1], r[2][2]};
  return m;
}

// Angles (ax, ay, az) whose Rotation() is the proper rotation m.
V3 AnglesOf(const Mat& m) {
  const float r[3][3] = {{m.r0.x, m.r0.y, m.r0.z}, {m.r1.x, m.r1.y, m.r1.z}, {m.r2.x, m.r2.y, m.r2.z}};
  float a[3];
  SceneFormat::RotationAngles(r, 1e-5f, a);
  return {a[0], a[1], a[2]};
}

float Smooth(float u) {
  u = std::clamp(u, 0.0f, 1.0f);
  return u * u * (3.0f - 2.0f * u);
}
float Fraction(float x) { return x - std::floor(x); }

// ---------------------------------------------------------------- geometry --

// A mesh under construction: one UV per vertex (the UV list parallels the
// vertex list) and a material slot per face.
struct Geometry {
  std::vector<V3> positions;
  std::vector<std::array<float, 2>> uvs;
  std::vector<vef::Index3> faces;
  std::vector<int> slots;  // material slot of each face

  int Vertex(V3 p, float u = 0, float v = 0) {
    positions.push_back(p);
    uvs.push_back({{u, v}});
    return int(positions.size()) - 1;
  }
  // Adds triangle a, b, c, turned so that its normal points along `outward`.
  void Triangle(int a, int b, int c, V3 outward, int slot) {
    V3 n = Cross(positions[size_t(b)] - positions[size_t(a)], positions[size_t(c)] - positions[size_t(a)]);
    if (Dot(n, outward) < 0) std::swap(b, c);
    faces.push_back({{uint16_t(a), uint16_t(b), uint16_t(c)}});
    slots.push_back(slot);
  }
  void Quad(int a, int b, int c, int d, V3 outward, int slot) {
    Triangle(a, b, c, outward, slot);
    Triangle(a, c, d, outward, slot);
  }
};

// An axis-aligned box from lo to hi, each side with its own four vertices and
// UVs 0..1 scaled by uvScale.
void AddBox(Geometry& g, V3 lo, V3 hi, int slot, float uvScale = 1.0f) {
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

// A cylinder shaft around the y axis from y0 to y1 (no caps).
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
      g.Quad(a, b, c, d, {mid.x, 0, mid.z}, slot);
    }
}

// A UV sphere of `rings` latitude bands and `segments` longitude steps; the
// seam and the poles carry duplicate vertices for the texture coordinates.
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

// A torus around the y axis, smooth (shared vertices, no seam duplicates).
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

// A faceted double pyramid (crystal): each face has its own vertices.
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

// ----------------------------------------------------------------- records --

struct Scene;

// One mesh, written once per bank.
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

int32_t AddTexture(vef::SceneWriter* w, const Texture565& t) {
  vef::TextureRecord r;
  r.side = uint32_t(t.side);
  r.rgb565 = true;
  r.texels = t.texels;
  return w->addTexture(r);
}

int32_t AddTexture(vef::SceneWriter* w, const TexturePaletted& t) {
  vef::TextureRecord r;
  r.side = uint32_t(t.side);
  r.rgb565 = false;
  r.palette = t.palette;
  r.indices = t.indices;
  return w->addTexture(r);
}

int32_t AddMaterial(vef::SceneWriter* w, int32_t texture, vef::ColorField diffuse) {
  vef::MaterialRecord m;
  m.color0 = {vef::ColorField::kBlack, {}};
  m.diffuse = diffuse;
  m.color2 = vef::ColorField::Bytes(40, 40, 40);
  if (texture) m.texture = texture;
  return w->addMaterial(m);
}

// ------------------------------------------------------------------ camera --

struct Camera {
  V3 eye, target;
};

constexpr int kBeatsPerShot = 16;  // a camera shot lasts four bars

Camera ShotCamera(int shot, float u) {
  float a = 0, radius = 10, height = 3;
  V3 target{0, 2.2f, 0};
  float e = Smooth(u);
  switch (shot % 9) {
    case 0:  // descent into the hall
      a = 0.5f + 0.28f * u; radius = 26.0f - 12.0f * e; height = 14.0f - 6.5f * e; target = {0, 1.8f, 0};
      break;
    case 1:  // low orbit inside the colonnade
      a = 1.9f + 1.1f * u; radius = 7.0f; height = 2.0f;
      break;
    case 2:  // high orbit, looking down on the inlay
      a = 3.4f + 0.8f * u; radius = 7.5f - 0.8f * u; height = 7.0f; target = {0, 1.5f, 0};
      break;
    case 3:  // close around the orb
      a = 5.2f - 1.3f * u; radius = 4.8f; height = 3.4f - 0.7f * u; target = {0, 2.5f, 0};
      break;
    case 4:  // from above
      a = 0.3f + 0.8f * u; radius = 6.0f; height = 15.5f; target = {0, 0.8f, 0};
      break;
    case 5:  // slow push towards the orb
      a = 2.4f; radius = 8.5f - 4.0f * e; height = 2.9f; target = {0, 2.6f, 0};
      break;
    case 6:  // fast orbit
      a = 3.0f + 2.0f * u; radius = 7.2f; height = 4.5f + 1.5f * std::sin(u * kPi); target = {0, 2.0f, 0};
      break;
    case 7:  // low dolly along the colonnade
      a = 5.6f + 0.9f * u; radius = 8.0f; height = 1.3f;
      target = {2.0f * std::cos(a + 0.9f), 2.2f, -2.0f * std::sin(a + 0.9f)};
      break;
    case 8:  // pull back and rise
      a = 0.62f + 0.33f * u; radius = 5.5f + 19.0f * e; height = 2.6f + 12.0f * e; target = {0, 2.0f, 0};
      break;
  }
  return {{radius * std::cos(a), height, -radius * std::sin(a)}, target};
}

// Camera space: x right, y up, z away from the viewer, from a look-at.
struct View {
  V3 right, up, forward, eye;
  V3 ToCamera(V3 p) const {
    V3 d = p - eye;
    return {Dot(d, right), Dot(d, up), Dot(d, forward)};
  }
};

View MakeView(const Camera& c) {
  View v;
  v.eye = c.eye;
  v.forward = Normalize(c.target - c.eye);
  v.right = Normalize(Cross(v.forward, {0, 1, 0}));
  v.up = Cross(v.right, v.forward);
  return v;
}

// The camera key's matrix block. The file holds the view transform of a
// right-handed camera looking down -z; the importer negates z to get the
// demo's z-forward camera space.
vef::MatrixBlock CameraBlock(const View& v) {
  Mat m;
  m.r0 = {v.right.x, v.up.x, -v.forward.x};
  m.r1 = {v.right.y, v.up.y, -v.forward.y};
  m.r2 = {v.right.z, v.up.z, -v.forward.z};
  V3 angles = AnglesOf(m);
  Mat check = Rotation(angles);
  float error = std::fabs(check.r0.x - m.r0.x) + std::fabs(check.r1.y - m.r1.y) + std::fabs(check.r2.z - m.r2.z) +
                std::fabs(check.r0.y - m.r0.y) + std::fabs(check.r1.z - m.r1.z) + std::fabs(check.r2.x - m.r2.x);
  if (error > 1e-3f) {
    std::fprintf(stderr, "demogen: internal error: camera angles do not reproduce the view (%g)\n", double(error));
    std::abort();
  }
  vef::MatrixBlock block;
  block.angles = F3(angles);
  block.translation = vef::Float3{{-Dot(v.right, v.eye), -Dot(v.up, v.eye), Dot(v.forward, v.eye)}};
  return block;
}

// A sphere that the demo's view volume (fov pi/4 across 800 x 600, near 0.1,
// far 1000) may show.
bool InView(const View& view, V3 centre, float radius) {
  V3 p = view.ToCamera(centre);
  const float h = kPi / 8.0f;
  const float v = std::atan((599.5f / 799.5f) * std::tan(h));
  if (p.z < 0.1f - radius || p.z > 1000.0f + radius) return false;
  if (-std::cos(h) * p.x - std::sin(h) * p.z > radius) return false;
  if (std::cos(h) * p.x - std::sin(h) * p.z > radius) return false;
  if (std::cos(v) * p.y - std::sin(v) * p.z > radius) return false;
  if (-std::cos(v) * p.y - std::sin(v) * p.z > radius) return false;
  return true;
}

// ------------------------------------------------------------------ actors --

// A placement of an object in one frame.
struct Pose {
  V3 angles;       // radians
  V3 translation;  // world space
};

struct Actor {
  std::string name;
  int32_t mesh[2] = {0, 0};          // per bank
  float radius = 1;                  // bounding sphere around the translation
  bool fixed = false;                // placed by its mesh's matrix (statically lit)
  V3 fixedCentre;                    // world centre of a fixed actor
  bool extraByte = false;            // its keys carry the ignored byte
  std::function<Pose(float beat)> pose;  // moving actors
};

// Strength of the orb's spikes at a beat: pulses peak exactly on the beats.
float SpikeAmount(float beat) {
  int bar = int(beat / 4.0f);
  float pulse = std::exp(-4.0f * Fraction(beat));
  switch (SectionOfBar(bar)) {
    case Section::Intro: return 0.04f + 0.04f * Smooth(beat / 16.0f);
    case Section::Groove: return 0.08f + 0.22f * pulse;
    case Section::Theme: return 0.1f + 0.3f * pulse;
    case Section::Breakdown: return 0.1f + 0.55f * Smooth((beat - 80.0f) / 16.0f);
    case Section::Drop: return 0.4f + 0.3f * pulse;
    case Section::Outro: return 0.45f * (1.0f - Smooth((beat - 128.0f) / 12.0f)) + 0.03f;
  }
  return 0.0f;
}

bool DrumsPlay(float beat) {
  Section s = SectionOfBar(int(beat / 4.0f));
  return s == Section::Groove || s == Section::Theme || s == Section::Drop;
}

}  // namespace

void BuildScene(const Timeline& timeline, vef::SceneWriter* w) {
  // Textures: all four sizes, both encodings.
  int32_t texFloor = AddTexture(w, FloorTiles());
  int32_t texMosaic = AddTexture(w, Mosaic());
  int32_t texStone = AddTexture(w, ColumnStone());
  int32_t texPlasma = AddTexture(w, Plasma());
  int32_t texCircuit = AddTexture(w, Circuit());
  int32_t texBricks = AddTexture(w, Bricks());
  int32_t texChecker = AddTexture(w, Checker());
  int32_t texStripes = AddTexture(w, Stripes());

  using CF = vef::ColorField;
  int32_t matFloor = AddMaterial(w, texFloor, {CF::kWhite, {}});
  int32_t matMosaic = AddMaterial(w, texMosaic, {CF::kWhite, {}});
  int32_t matStone = AddMaterial(w, texStone, {CF::kWhite, {}});
  int32_t matBronze = AddMaterial(w, 0, CF::Bytes(217, 150, 82));
  int32_t matPlasma = AddMaterial(w, texPlasma, {CF::kWhite, {}});
  int32_t matBricks = AddMaterial(w, texBricks, {CF::kWhite, {}});
  int32_t matGold = AddMaterial(w, 0, CF::Bytes(255, 205, 90));
  int32_t matCircuit = AddMaterial(w, texCircuit, {CF::kWhite, {}});
  int32_t matChecker = AddMaterial(w, texChecker, {CF::kWhite, {}});
  int32_t matStripes = AddMaterial(w, texStripes, {CF::kWhite, {}});
  const int32_t matCrystal[3] = {AddMaterial(w, 0, CF::Bytes(90, 230, 255)), AddMaterial(w, 0, CF::Bytes(255, 90, 200)),
                                 AddMaterial(w, 0, CF::Bytes(160, 255, 90))};

  std::vector<Actor> actors;
  auto addActor = [&](Actor a, const MeshDef& def, const std::optional<vef::MatrixBlock>& placement) {
    for (int bank = 0; bank < 2; ++bank) a.mesh[bank] = WriteMesh(w, def, placement);
    actors.push_back(std::move(a));
  };

  // The floor: 32 x 32 one-metre quads, the inlay around the pedestal first.
  {
    Geometry g;
    const int n = 32;
    for (int j = 0; j <= n; ++j)
      for (int i = 0; i <= n; ++i) {
        float x = float(i - n / 2), z = float(j - n / 2);
        g.Vertex({x, 0, z}, x / 4.0f, z / 4.0f);
      }
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        int a = j * (n + 1) + i;
        float cx = float(i - n / 2) + 0.5f, cz = float(j - n / 2) + 0.5f;
        int slot = (cx * cx + cz * cz < 3.3f * 3.3f) ? 0 : 1;
        g.Quad(a, a + 1, a + n + 2, a + n + 1, {0, 1, 0}, slot);
      }
    Actor a;
    a.name = "floor";
    a.fixed = true;
    a.radius = 1e6f;  // always in view
    addActor(a, WriteGeometry(w, g, {matMosaic, matFloor}, true), vef::MatrixBlock::Translation(0, 0, 0));
  }
  // The pedestal under the orb.
  {
    Geometry g;
    AddBox(g, {-0.8f, 0, -0.8f}, {0.8f, 1.3f, 0.8f}, 0, 1.0f);
    Actor a;
    a.name = "pedestal";
    a.fixed = true;
    a.fixedCentre = {0, 0.65f, 0};
    a.radius = 1.5f;
    addActor(a, WriteGeometry(w, g, {matBricks}, true), vef::MatrixBlock::Translation(0, 0, 0));
  }
  // Eight columns: stone shaft, bronze base and capital.
  {
    Geometry g;
    AddShaft(g, 0.42f, 0.5f, 5.1f, 12, 4, 0);
    AddBox(g, {-0.6f, 0, -0.6f}, {0.6f, 0.5f, 0.6f}, 1);
    AddBox(g, {-0.65f, 5.1f, -0.65f}, {0.65f, 5.5f, 0.65f}, 1);
    MeshDef def = WriteGeometry(w, g, {matStone, matBronze}, true);
    for (int k = 0; k < 8; ++k) {
      float ang = float(k) * kPi / 4.0f + kPi / 8.0f;
      V3 at{9.5f * std::cos(ang), 0, -9.5f * std::sin(ang)};
      vef::MatrixBlock place;
      place.angles = vef::Float3{{0, ang, 0}};
      place.translation = F3(at);
      Actor a;
      a.name = "column";
      a.fixed = true;
      a.fixedCentre = at + V3{0, 2.75f, 0};
      a.radius = 3.0f;
      addActor(a, def, place);
    }
  }
  // The morphing orb (drawn unlit by the demo: its plasma texture glows).
  Geometry orb;
  AddSphere(orb, 1.0f, 9, 14, 0);
  const float orbRadius = 0.95f;
  const V3 orbCentre{0, 2.65f, 0};
  size_t orbActor = actors.size();
  {
    Actor a;
    a.name = "orb";
    a.radius = orbRadius * 1.8f;
    a.pose = [orbCentre](float beat) {
      return Pose{{0.25f * std::sin(beat * 0.07f), beat * 0.12f, 0}, orbCentre + V3{0, 0.08f * std::sin(beat * 0.4f), 0}};
    };
    addActor(a, WriteGeometry(w, orb, {matPlasma}, true), std::nullopt);
  }
  // The golden ring tumbling around the orb (per-frame lit).
  {
    Geometry g;
    AddTorus(g, 1.8f, 0.11f, 24, 8, 0);
    Actor a;
    a.name = "ring";
    a.radius = 2.0f;
    a.pose = [orbCentre](float beat) {
      return Pose{{1.1f + 0.4f * std::sin(beat * 0.1f), beat * 0.25f, 0.3f * std::sin(beat * 0.07f)}, orbCentre};
    };
    addActor(a, WriteGeometry(w, g, {matGold}, false), std::nullopt);
  }
  // Four textured cubes orbiting the orb.
  {
    const int32_t cubeMaterials[4] = {matCircuit, matChecker, matStripes, matBricks};
    for (int i = 0; i < 4; ++i) {
      Geometry g;
      AddBox(g, {-0.32f, -0.32f, -0.32f}, {0.32f, 0.32f, 0.32f}, 0, 1.0f);
      Actor a;
      a.name = "cube";
      a.radius = 0.6f;
      a.pose = [i, orbCentre](float beat) {
        float th = beat * 0.15f + float(i) * kPi / 2.0f;
        V3 at{3.4f * std::cos(th), 0.45f * std::sin(beat * kPi / 4.0f + float(i) * 1.3f), -3.4f * std::sin(th)};
        return Pose{{beat * 0.4f + float(i), beat * 0.55f + 2.0f * float(i), 0.3f * float(i)}, orbCentre + at};
      };
      addActor(a, WriteGeometry(w, g, {cubeMaterials[i]}, true), std::nullopt);
    }
  }
  // Six crystals hopping on the beat while the drums play.
  for (int i = 0; i < 6; ++i) {
    Geometry g;
    AddCrystal(g, 0.7f, 0.36f, 0);
    Actor a;
    a.name = "crystal";
    a.radius = 1.0f;
    a.extraByte = true;
    a.pose = [i](float beat) {
      float ang = float(i) * kPi / 3.0f + kPi / 6.0f;
      float hop = 0.25f + 0.2f * std::sin(beat * kPi / 8.0f + float(i));
      if (DrumsPlay(beat)) {
        float f = 2.0f * Fraction(beat) - 1.0f;
        hop = 0.25f + 0.75f * (1.0f - f * f);  // lands on every beat
      }
      return Pose{{0, beat * 0.6f + float(i), 0}, {5.4f * std::cos(ang), 0.75f + hop, -5.4f * std::sin(ang)}};
    };
    addActor(a, WriteGeometry(w, g, {matCrystal[i % 3]}, false), std::nullopt);
  }

  // Four point lights: warm and cool from the sides, white from above, and a
  // violet one inside the orb, which seems to light the hall itself.
  {
    struct {
      uint8_t r, g, b;
      float intensity;
      V3 at;
    } const lights[4] = {{255, 185, 120, 0.75f, {-4.5f, 6.5f, 3.5f}},
                         {110, 150, 255, 0.65f, {5.0f, 4.5f, -4.0f}},
                         {255, 255, 255, 0.35f, {0.5f, 11.0f, 1.0f}},
                         {200, 130, 255, 0.55f, orbCentre}};
    for (const auto& l : lights) {
      vef::LightRecord light;
      light.color = {{l.r, l.g, l.b}};
      light.intensity = l.intensity;
      light.matrix = vef::MatrixBlock::Translation(l.at.x, l.at.y, l.at.z);
      w->addLight(light);
    }
  }

  // The frames.
  const int frames = int(timeline.FrameCount());
  const int framesPerShot = kBeatsPerShot * kFramesPerBeat;
  auto shotOf = [&](int f) { return std::min(f, frames - 2) / framesPerShot; };
  auto beatOf = [](int f) { return float(f) / float(kFramesPerBeat); };
  auto viewOf = [&](int f) {
    int shot = shotOf(f);
    float u = float(f - shot * framesPerShot) / float(framesPerShot);
    return MakeView(ShotCamera(shot, u));
  };
  auto visible = [&](const Actor& a, int f) {
    if (f < 0 || f >= frames) return false;
    V3 centre = a.fixed ? a.fixedCentre : a.pose(beatOf(f)).translation;
    return InView(viewOf(f), centre, a.radius);
  };

  // The orb's rest directions and spike field.
  std::vector<V3> orbDirections;
  for (V3 p : orb.positions) orbDirections.push_back(Normalize(p));
  std::vector<V3> spikeAxes;
  for (int s = -1; s <= 1; s += 2) {
    spikeAxes.push_back({float(s), 0, 0});
    spikeAxes.push_back({0, float(s), 0});
    spikeAxes.push_back({0, 0, float(s)});
  }
  for (int k = 0; k < 8; ++k)
    spikeAxes.push_back(Normalize({(k & 1) ? 1.0f : -1.0f, (k & 2) ? 1.0f : -1.0f, (k & 4) ? 1.0f : -1.0f}));

  for (int f = 0; f < frames; ++f) {
    const int shot = shotOf(f);
    const int bank = shot % 2;
    const float beat = beatOf(f);
    const View view = viewOf(f);

    vef::KeyRecord camera;
    camera.frame = f;
    camera.camera = true;
    camera.matrix = CameraBlock(view);
    w->addKey(camera);

    for (const Actor& a : actors) {
      // A key exists while the object is in view, and one frame either side
      // within the shot, so that it blends in and out of view smoothly.
      bool include = visible(a, f) || (shotOf(f + 1) == shot && visible(a, f + 1)) ||
                     (f > 0 && shotOf(f - 1) == shot && visible(a, f - 1));
      if (!include) continue;
      vef::KeyRecord key;
      key.frame = f;
      key.object = true;
      key.mesh = a.mesh[bank];
      key.ignored = uint32_t(f);
      if (a.extraByte) key.extraByte = uint8_t(f & 0xFF);
      if (a.fixed) {
        key.noMatrix = true;
      } else {
        Pose p = a.pose(beat);
        key.matrix.angles = F3(p.angles);
        key.matrix.translation = F3(p.translation);
      }
      if (&a == &actors[orbActor]) {
        float amount = SpikeAmount(beat);
        vef::VertexListRecord morph;
        for (V3 d : orbDirections) {
          float spike = 0;
          for (V3 axis : spikeAxes) spike += std::pow(std::max(0.0f, Dot(d, axis)), 12.0f);
          float wobble = 0.06f * std::sin(3.0f * d.x + beat * 0.9f) * std::sin(2.5f * d.y + beat * 0.6f);
          morph.positions.push_back(F3(d * (orbRadius * (1.0f + amount * spike + wobble))));
        }
        key.morph = w->addVertexList(morph);
      }
      w->addKey(key);
    }
  }
}

}  // namespace demogen
