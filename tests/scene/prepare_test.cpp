// Post-load preparation and face-corner lighting.
#include <cmath>
#include <random>

#include "SceneJson.h"
#include "SceneReader.h"
#include "SceneTestUtil.h"

namespace {

void ExpectVec(const Vec3& v, float x, float y, float z, float eps = 1e-5f) {
  EXPECT_NEAR(v.x, x, eps);
  EXPECT_NEAR(v.y, y, eps);
  EXPECT_NEAR(v.z, z, eps);
}

vef::KeyRecord Camera(int32_t frame) {
  vef::KeyRecord k;
  k.camera = true;
  k.frame = frame;
  return k;
}

vef::KeyRecord Object(int32_t frame, int32_t mesh) {
  vef::KeyRecord k;
  k.object = true;
  k.frame = frame;
  k.mesh = mesh;
  return k;
}

// Cameras for `frames` frames and object keys with the given frame numbers.
Imported WithKeyFrames(uint32_t frames, const std::vector<int32_t>& keyFrames) {
  BaseScene base(0, false);
  for (uint32_t f = 0; f < frames; ++f) base.w.addKey(Camera(static_cast<int32_t>(f)));
  for (int32_t f : keyFrames) base.w.addKey(Object(f, base.mesh));
  base.w.header.frameCount = frames;
  Imported r = ImportBytes(base.w.bytes());
  EXPECT_TRUE(r.scene->isPlayable()) << r.scene->refusalReason();
  return r;
}

std::vector<std::pair<int32_t, int32_t>> Spans(const Scene& s) {
  std::vector<std::pair<int32_t, int32_t>> out;
  for (uint32_t i = 0; i < s.frameCount; ++i) out.emplace_back(s.frameSpans[i].firstKey, s.frameSpans[i].keyCount);
  return out;
}

using SpanList = std::vector<std::pair<int32_t, int32_t>>;

}  // namespace

TEST(PrepareTest, FrameSpansAreRunsOfEqualFrameNumbers) {
  Imported a = WithKeyFrames(4, {0, 0, 1, 2, 2, 2});
  EXPECT_EQ(Spans(*a.scene), (SpanList{{0, 2}, {2, 1}, {3, 3}, {6, 0}}));
  Imported b = WithKeyFrames(2, {5, 5, 9});
  EXPECT_EQ(Spans(*b.scene), (SpanList{{0, 2}, {2, 1}}));
  Imported c = WithKeyFrames(101, {0, 100});
  EXPECT_FLOAT_EQ(c.scene->frameDuration, 100.0f);
}

TEST(PrepareTest, CamerasLinkToTheNextAndTheLastToItself) {
  Imported r = WithKeyFrames(3, {0, 1, 2});
  const Array<Key>& c = r.scene->cameras;
  ASSERT_EQ(c.count, 3);
  EXPECT_EQ(c.items[0]->next, c.items[1]);
  EXPECT_EQ(c.items[1]->next, c.items[2]);
  EXPECT_EQ(c.items[2]->next, c.items[2]);
}

TEST(PrepareTest, NextKeyNeedsTheSameMeshInTheVeryNextFrame) {
  BaseScene base(6, false);
  vef::MeshRecord other;
  other.faces = {{{0, 1, 2}}};
  other.vertexList = base.list;
  int32_t m2 = base.w.addMesh(other);
  // 0: frame 3 M; 1: frame 4 M2; 2: frame 4 M; 3: frame 4 M; 4: frame 3 M2; 5: frame 5 M2
  for (auto [frame, mesh] : std::vector<std::pair<int, int32_t>>{{3, base.mesh}, {4, m2}, {4, base.mesh},
                                                                 {4, base.mesh}, {3, m2}, {5, m2}}) {
    base.w.addKey(Object(frame, mesh));
  }
  Imported r = ImportBytes(base.w.bytes());
  ASSERT_TRUE(r.scene->isPlayable()) << r.scene->refusalReason();
  Key** k = r.scene->keys.items;
  EXPECT_EQ(k[0]->next, k[2]);  // the first later frame-4 key of M
  EXPECT_EQ(k[1]->next, k[5]);
  EXPECT_EQ(k[2]->next, k[2]);  // no frame-5 key of M
  EXPECT_EQ(k[4]->next, k[4]);  // M2's frame-4 key comes earlier in the file
  EXPECT_EQ(k[5]->next, k[5]);
}

// The plain search, side by side with the indexed one, on random key orders.
TEST(PrepareTest, IndexedLinkingMatchesThePlainSearch) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 20; ++round) {
    BaseScene base(8, false);
    std::vector<int32_t> meshes = {base.mesh};
    for (int i = 0; i < 3; ++i) {
      vef::MeshRecord m;
      m.faces = {{{0, 1, 2}}};
      m.vertexList = base.list;
      meshes.push_back(base.w.addMesh(m));
    }
    const int n = 200;
    for (int i = 0; i < n; ++i) {
      base.w.addKey(Object(static_cast<int32_t>(rng() % 8), meshes[rng() % meshes.size()]));
    }
    Imported r = ImportBytes(base.w.bytes());
    ASSERT_TRUE(r.scene->isPlayable()) << r.scene->refusalReason();
    const Scene& s = *r.scene;
    for (int32_t j = 0; j < s.keys.count; ++j) {
      Key* expected = s.keys.items[j];
      for (int32_t k = j + 1; k < s.keys.count; ++k) {
        if (s.keyFrames[k] == s.keyFrames[j] + 1 && s.keys.items[k]->mesh == s.keys.items[j]->mesh) {
          expected = s.keys.items[k];
          break;
        }
      }
      ASSERT_EQ(s.keys.items[j]->next, expected) << "round " << round << " key " << j;
    }
  }
}

TEST(PrepareTest, MaterialIndexZeroIsTheDefaultMaterialAndTextureZeroIsNone) {
  BaseScene base;
  vef::MaterialRecord mat;
  mat.texture = 0;
  int32_t m = base.w.addMaterial(mat);
  vef::MeshRecord mesh;
  mesh.faces = {{{0, 1, 2}}, {{0, 1, 2}}, {{0, 1, 2}}};
  mesh.vertexList = base.list;
  mesh.runs = std::vector<vef::MaterialRun>{{1, 0}, {1, m}};  // the third face is in no run
  base.w.addMesh(mesh);
  Imported r = ImportBytes(base.w.bytes());
  ASSERT_TRUE(r.scene->isPlayable()) << r.scene->refusalReason();
  const Scene& s = *r.scene;
  const Mesh& me = *s.meshes.items[1];
  EXPECT_EQ(me.faces[0].material, s.defaultMaterial);
  EXPECT_EQ(me.faces[1].material, s.materials.items[1]);
  EXPECT_EQ(me.faces[2].material, s.defaultMaterial);
  EXPECT_EQ(s.materials.items[1]->texture, nullptr);
}

TEST(PrepareTest, KeysAndMorphListsAreBakedIntoCameraSpace) {
  BaseScene base(0, false);
  int32_t morph0 = base.w.addVertexList({{}, {}, {}, {{{1, 2, 3}}, {{2, 2, 3}}, {{1, 3, 3}}}});
  int32_t morph1 = base.w.addVertexList({{}, {}, {}, {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}}});
  for (int f = 0; f < 2; ++f) {
    vef::KeyRecord cam = Camera(f);
    cam.matrix = vef::MatrixBlock::Translation(0, 0, -5);  // read as t = (0, 0, 5)
    // With z negated on reading, an identity camera needs r2 = (0, 0, -1) in
    // the file: scale z by -1.
    cam.matrix.scale = vef::Float3{{1, 1, -1}};
    base.w.addKey(cam);
    vef::KeyRecord key = Object(f, base.mesh);
    key.morph = f == 0 ? morph0 : morph1;
    base.w.addKey(key);
  }
  Imported r = ImportBytes(base.w.bytes());
  ASSERT_TRUE(r.scene->isPlayable()) << r.scene->refusalReason();
  const Scene& s = *r.scene;
  const Key* k0 = s.keys.items[0];
  EXPECT_EQ(k0->kind, 2);
  ExpectVec(k0->matrix.r2, 0, 0, 1);
  ExpectVec(k0->matrix.t, 0, 0, 5);
  ExpectVec(k0->morphVertices->positions[0], 1, 2, 8);
  // Morph normals come from the morph list's own (camera-space) positions.
  for (int v = 0; v < 3; ++v) ExpectVec(k0->morphVertices->normals[v], 0, 0, 1);
  EXPECT_EQ(k0->next, s.keys.items[1]);
}

TEST(PrepareTest, FacePlanesAndVertexNormals) {
  BaseScene base;
  // A fourth vertex that no face uses keeps a zero normal, not NaN.
  int32_t list = base.w.addVertexList({{}, {}, {}, {{{0, 0, 1}}, {{2, 0, 1}}, {{0, 2, 1}}, {{5, 5, 5}}}});
  vef::MeshRecord mesh;
  mesh.faces = {{{0, 1, 2}}};
  mesh.vertexList = list;
  base.w.addMesh(mesh);
  Imported r = ImportBytes(base.w.bytes());
  ASSERT_TRUE(r.scene->isPlayable()) << r.scene->refusalReason();
  const Mesh& m = *r.scene->meshes.items[1];
  ExpectVec(m.faces[0].normal, 0, 0, 4);  // not normalised: twice the area
  EXPECT_FLOAT_EQ(m.faces[0].planeD, 4.0f);
  for (int v = 0; v < 3; ++v) ExpectVec(m.vertexList->normals[v], 0, 0, 1);
  ExpectVec(m.vertexList->normals[3], 0, 0, 0, 0.0f);
}

TEST(PrepareTest, StaticLightingUsesTheLightInObjectSpace) {
  BaseScene base;
  // Triangle in the x = 0 plane facing +x.
  int32_t list = base.w.addVertexList({{}, {}, {}, {{{0, 0, 0}}, {{0, 1, 0}}, {{0, 0, 1}}}});
  vef::MeshRecord mesh;
  mesh.faces = {{{0, 1, 2}}};
  mesh.vertexList = list;
  mesh.placement = vef::MatrixBlock{};
  // Rows r0 = (0, 0, -1), r1 = (0, 1, 0), r2 = (1, 0, 0); t = (10, 0, 5).
  mesh.placement->angles = vef::Float3{{0, static_cast<float>(M_PI / 2), 0}};
  mesh.placement->translation = vef::Float3{{10, 0, 5}};
  base.w.addMesh(mesh);
  vef::LightRecord light;
  light.matrix = vef::MatrixBlock::Translation(10, 0, 0);
  base.w.addLight(light);
  vef::LightRecord off;  // a second light behind the face adds nothing
  off.matrix = vef::MatrixBlock::Translation(15, 0, 5);
  off.color = {{0, 255, 0}};
  base.w.addLight(off);
  Imported r = ImportBytes(base.w.bytes());
  ASSERT_TRUE(r.scene->isPlayable()) << r.scene->refusalReason();
  const Scene& s = *r.scene;
  // The light sits at (5, 0, 0) in object space.
  const float side = 5.0f / std::sqrt(26.0f);
  const RGBColor* c = s.meshes.items[1]->faces[0].cornerColor;
  EXPECT_NEAR(c[0].r, 1.0f, 1e-5f);
  EXPECT_NEAR(c[1].r, side, 1e-5f);
  EXPECT_NEAR(c[2].b, side, 1e-5f);
  EXPECT_NEAR(c[0].g, 1.0f, 1e-5f);  // white light only: the green one is behind
  // The mesh without placement is not lit after loading.
  EXPECT_EQ(s.meshes.items[0]->faces[0].cornerColor[0].r, 0.0f);
}

TEST(PrepareTest, JsonOfTheSampleHoldsThePreparedValues) {
  const std::vector<uint8_t> bytes = vef::TwoFrameSample();
  Imported r = ImportBytes(bytes);
  ASSERT_TRUE(r.scene->isPlayable());
  const std::string json = vef::SceneJson(*r.scene, vef::ReadRecords(bytes));
  for (const char* part :
       {"\"frameCount\":2,", "\"recordTableSize\":9}", "\"maxVertexCount\":3,", "\"frameDuration\":10000,",
        "\"frameSpans\":[[0,1],[1,1]]",
        "{\"frame\":0,\"kind\":1,\"mesh\":0,\"meshRecord\":3,\"next\":1,\"matrix\":{\"r0\":[1,0,-0],\"r1\":[0,1,-0],"
        "\"r2\":[0,0,-1],\"t\":[0,0,10]}}",
        "{\"frame\":1,\"kind\":1,\"mesh\":0,\"meshRecord\":3,\"next\":1,", "\"t\":[0,0,20]",
        "\"normal\":[0,0,1],\"planeD\":0,", "\"vertexNormals\":[[0,0,1],[0,0,1],[0,0,1]]"}) {
    EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
  }
}

// AddLight on hand-built records.
class AddLightTest : public testing::Test {
 protected:
  void SetUp() override {
    positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    list = {3, positions.data(), normals.data()};
    mesh.faces[0].vertex[0] = 0;
    mesh.faces[0].vertex[1] = 1;
    mesh.faces[0].vertex[2] = 2;
    mesh.material = &material;
    material.diffuse = {0.5f, 0.25f, 1.0f};
    light.mode = 0;
    light.enabled = 1;
    light.matrix.SetIdentity();
    light.color = {1.0f, 0.5f, 1.0f};
    light.intensity = 0.8f;
  }
  // Light position in the mesh's coordinates.
  void Add(float x, float y, float z) {
    Matrix placement;
    placement.SetIdentity();
    placement.t = {x, y, z};
    mesh.AddLight(&list, &light, placement);
  }
  std::vector<Vec3> positions, normals;
  VertexList list{};
  Mesh mesh{1};
  Material material;
  Light light{};
  std::unique_ptr<Face[]> owner{mesh.faces};  // the mesh's faces are released here
};

TEST_F(AddLightTest, DiffuseOnUntexturedFacesOnly) {
  Add(0, 0, 10);  // straight above vertex 0: cosine 1
  const RGBColor& c = mesh.faces[0].cornerColor[0];
  EXPECT_FLOAT_EQ(c.r, 0.8f * 1.0f * 0.5f);
  EXPECT_FLOAT_EQ(c.g, 0.8f * 0.5f * 0.25f);
  EXPECT_FLOAT_EQ(c.b, 0.8f * 1.0f * 1.0f);
  mesh.ClearLighting();
  material.textureHandle = 3;
  Add(0, 0, 10);
  EXPECT_FLOAT_EQ(mesh.faces[0].cornerColor[0].g, 0.8f * 0.5f);
}

TEST_F(AddLightTest, DistanceDoesNotMatterAndBehindAddsNothing) {
  material.textureHandle = 0;
  Add(0, 1, 1);
  const float nearValue = mesh.faces[0].cornerColor[0].r;
  mesh.ClearLighting();
  Add(0, 1000, 1000);
  EXPECT_NEAR(mesh.faces[0].cornerColor[0].r, nearValue, 1e-6f);
  EXPECT_NEAR(nearValue, 0.8f * std::sqrt(0.5f), 1e-6f);
  mesh.ClearLighting();
  Add(0, 0, -10);
  for (const RGBColor& c : mesh.faces[0].cornerColor) EXPECT_EQ(c.r, 0.0f);
}

TEST_F(AddLightTest, ModeLightsAtVerticesAndSums) {
  light.mode = 1;
  Add(0, 0, 10);
  EXPECT_EQ(mesh.faces[0].cornerColor[0].r, 0.0f);
  light.mode = 0;
  // A light exactly at vertex 1 adds nothing there and stays finite elsewhere.
  Add(1, 0, 0);
  EXPECT_EQ(mesh.faces[0].cornerColor[1].r, 0.0f);
  EXPECT_TRUE(std::isfinite(mesh.faces[0].cornerColor[0].r));
  mesh.ClearLighting();
  material.textureHandle = 1;
  light.intensity = 0.8f;
  light.color = {1, 1, 1};
  Add(0, 0, 5);
  Add(0, 0, 7);
  EXPECT_FLOAT_EQ(mesh.faces[0].cornerColor[0].r, 1.6f);
}
