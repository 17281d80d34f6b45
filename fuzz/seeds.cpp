// Writes the scene seeds of the fuzz corpus: small, well-formed files that
// between them use every record kind and flag variant the importer reads, each
// followed by the scene target's 4-byte time trailer.
//
// Usage: fuzz_seeds OUTDIR
#include <stdio.h>

#include <string>
#include <vector>

#include "SceneWriter.h"

namespace {

using vef::Float3;

std::vector<uint8_t> WithTimes(std::vector<uint8_t> bytes, uint16_t t0, uint16_t t1) {
  bytes.push_back(uint8_t(t0));
  bytes.push_back(uint8_t(t0 >> 8));
  bytes.push_back(uint8_t(t1));
  bytes.push_back(uint8_t(t1 >> 8));
  return bytes;
}

void Camera(vef::SceneWriter& w, int frame, float turn) {
  vef::KeyRecord k;
  k.frame = frame;
  k.camera = true;
  k.matrix.angles = Float3{0, turn, 0};
  w.addKey(k);
}

void Light(vef::SceneWriter& w, float x, float y, float z, std::array<uint8_t, 3> color) {
  vef::LightRecord l;
  l.color = color;
  l.intensity = 0.8f;
  l.matrix = vef::MatrixBlock::Translation(x, y, z);
  w.addLight(l);
}

// A quad of two faces at z = 0, 2 x 2 units.
int32_t Quad(vef::SceneWriter& w) {
  vef::VertexListRecord v;
  v.positions = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
  return w.addVertexList(v);
}

// Textured quads, RGB565 and paletted, one material per face, lit rigid keys
// over three frames.
std::vector<uint8_t> Textured() {
  vef::SceneWriter w;
  vef::TextureRecord t565;
  t565.side = 32;
  for (int i = 0; i < 32 * 32; ++i) t565.texels.push_back(uint16_t(i * 37));
  const int32_t tex0 = w.addTexture(t565);
  vef::TextureRecord tpal;
  tpal.side = 32;
  tpal.rgb565 = false;
  for (int i = 0; i < 768; ++i) tpal.palette.push_back(uint8_t(i));
  for (int i = 0; i < 32 * 32; ++i) tpal.indices.push_back(uint8_t(i ^ (i >> 5)));
  const int32_t tex1 = w.addTexture(tpal);
  vef::MaterialRecord m0;
  m0.texture = tex0;
  const int32_t mat0 = w.addMaterial(m0);
  vef::MaterialRecord m1;
  m1.texture = tex1;
  m1.diffuse = vef::ColorField::Bytes(200, 100, 50);
  const int32_t mat1 = w.addMaterial(m1);
  vef::UVListRecord uv;
  uv.coords = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  const int32_t uvs = w.addUVList(uv);
  const int32_t list = Quad(w);
  vef::MeshRecord mesh;
  mesh.faces = {{0, 1, 2}, {0, 2, 3}};
  mesh.vertexList = list;
  mesh.runs = std::vector<vef::MaterialRun>{{1, mat0}, {1, mat1}};
  mesh.uvList = uvs;
  mesh.uvs = {{0, 1, 2}, {0, 2, 3}};
  const int32_t m = w.addMesh(mesh);
  Light(w, 0, 2, -3, {255, 255, 255});
  Light(w, -3, 0, 0, {255, 0, 0});
  for (int f = 0; f < 3; ++f) {
    Camera(w, f, 0.1f * f);
    vef::KeyRecord k;
    k.frame = f;
    k.object = true;
    k.mesh = m;
    k.matrix.translation = Float3{0.5f * f, 0, 4.0f + f};
    k.matrix.angles = Float3{0, 0, 0.3f * f};
    w.addKey(k);
  }
  return w.bytes();
}

// A placed mesh (lit once at load) shown by keys that take its placement, with
// byte-sized indices, beside an unplaced one relit every frame.
std::vector<uint8_t> Placed() {
  vef::SceneWriter w;
  const int32_t list = Quad(w);
  vef::MaterialRecord mat;
  mat.diffuse = vef::ColorField::Bytes(10, 200, 30);
  mat.color0 = vef::ColorField{vef::ColorField::kBlack, {}};
  const int32_t material = w.addMaterial(mat);
  vef::MeshRecord placed;
  placed.faces = {{0, 1, 2}, {0, 2, 3}};
  placed.byteIndices = true;
  placed.vertexList = list;
  placed.material = material;
  vef::MatrixBlock at;
  at.translation = Float3{0, 0, 6};
  at.scale = Float3{2, 2, 2};
  at.angles = Float3{0.2f, 0.4f, 0};
  placed.placement = at;
  const int32_t p = w.addMesh(placed);
  vef::MeshRecord loose;
  loose.faces = {{0, 2, 1}};
  loose.vertexList = list;
  const int32_t l = w.addMesh(loose);
  Light(w, 1, 1, 1, {255, 255, 200});
  for (int f = 0; f < 2; ++f) {
    Camera(w, f, 0);
    vef::KeyRecord kp;
    kp.frame = f;
    kp.object = true;
    kp.mesh = p;
    kp.noMatrix = true;
    kp.extraByte = 7;
    w.addKey(kp);
    vef::KeyRecord kl;
    kl.frame = f;
    kl.object = true;
    kl.mesh = l;
    kl.matrix.translation = Float3{-1, 0, 3.0f - 2.5f * f};  // the second frame straddles the eye
    w.addKey(kl);
  }
  return w.bytes();
}

// Morph keys: one vertex list per frame, clipped by the player; one frame
// reaches past the screen's edge and behind the viewer.
std::vector<uint8_t> Morph() {
  vef::SceneWriter w;
  const int32_t base = Quad(w);
  vef::MeshRecord mesh;
  mesh.faces = {{0, 1, 2}, {0, 2, 3}};
  mesh.vertexList = base;
  const int32_t m = w.addMesh(mesh);
  const std::vector<std::vector<Float3>> frames = {
      {{-1, -1, 5}, {1, -1, 5}, {1, 1, 5}, {-1, 1, 5}},
      {{-9, -1, 3}, {1, -1, 3}, {1, 8, 3}, {-1, 1, -2}},
      {{-1, -1, 2000}, {1, -1, 0.05f}, {1, 1, 7}, {-1, 1, 7}}};
  std::vector<int32_t> lists;
  for (const auto& positions : frames) {
    vef::VertexListRecord v;
    v.positions = positions;
    lists.push_back(w.addVertexList(v));
  }
  Light(w, 0, 0, 0, {255, 255, 255});
  for (int f = 0; f < 3; ++f) {
    Camera(w, f, 0);
    vef::KeyRecord k;
    k.frame = f;
    k.object = true;
    k.mesh = m;
    k.morph = lists[f];
    w.addKey(k);
  }
  return w.bytes();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: fuzz_seeds OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } seeds[] = {
      {"two-frames", WithTimes(vef::TwoFrameSample(), 2500, 30000)},
      {"textured", WithTimes(Textured(), 4000, 60000)},
      {"placed", WithTimes(Placed(), 9000, 45000)},
      {"morph", WithTimes(Morph(), 3000, 52000)},
  };
  for (const auto& s : seeds) {
    std::string error;
    if (!vef::WriteFileAtomically(dir + "/" + s.name, s.bytes, &error)) {
      fprintf(stderr, "fuzz_seeds: %s\n", error.c_str());
      return 1;
    }
  }
  return 0;
}
