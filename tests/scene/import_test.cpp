// Record readers, Array and DebugPrint: file bytes in, records and log out.
#include <cmath>
#include <cstring>
#include <string>

#include "DebugPrint.h"
#include "SceneFormat.h"
#include "SceneTestUtil.h"

namespace {

const std::string kOverflow = "\nArray\xC3\xBC" "berauf, Resize()";  // logged in UTF-8

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

void ExpectVec(const Vec3& v, float x, float y, float z, float eps = 1e-6f) {
  EXPECT_NEAR(v.x, x, eps);
  EXPECT_NEAR(v.y, y, eps);
  EXPECT_NEAR(v.z, z, eps);
}

Imported MustImport(const vef::SceneWriter& w) {
  Imported r = ImportBytes(w.bytes());
  EXPECT_TRUE(r.scene->isPlayable()) << r.scene->refusalReason();
  return r;
}

}  // namespace

TEST(DebugPrintTest, FormatsWithoutAddingAnythingAndCutsAt511) {
  testing::internal::CaptureStderr();
  DebugPrint("current time=%d", 42);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "current time=42");

  const std::string exact(511, 'a');
  testing::internal::CaptureStderr();
  DebugPrint("%s", exact.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), exact);

  const std::string longer(600, 'b');
  testing::internal::CaptureStderr();
  DebugPrint("\n%s", longer.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\n" + longer.substr(0, 510));
}

TEST(ArrayTest, GrowsWithOneMessagePerGrowthAndKeepsOrder) {
  Array<Light> a;
  a.Init(0);
  EXPECT_EQ(a.items, nullptr);
  testing::internal::CaptureStderr();
  std::vector<Light*> added;
  for (int i = 0; i < 40; ++i) {
    added.push_back(new Light());
    a.Add(added.back());
  }
  const std::string log = testing::internal::GetCapturedStderr();
  // 0 -> 16 -> 32 -> 64 slots.
  EXPECT_EQ(Occurrences(log, kOverflow), 3u);
  EXPECT_EQ(log.size(), 3 * kOverflow.size());
  ASSERT_EQ(a.count, 40);
  EXPECT_GE(a.capacity, 40);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(a.items[i], added[i]);
  for (int i = 40; i < a.capacity; ++i) EXPECT_EQ(a.items[i], nullptr);
}

TEST(ArrayTest, SecondInitLogsAndLosesNothing) {
  Array<Light> a;
  a.Init(2);
  Light* first = new Light();
  a.Add(first);
  testing::internal::CaptureStderr();
  a.Init(8);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nFehler: Array war schon initialisiert");
  EXPECT_EQ(a.count, 1);
  EXPECT_EQ(a.capacity, 8);
  EXPECT_EQ(a.items[0], first);
}

TEST(SceneTest, FreshSceneIsEmptyWithAWhiteDefaultMaterial) {
  Scene s;
  EXPECT_EQ(s.frameCount, 0u);
  EXPECT_EQ(s.maxVertexCount, 0u);
  EXPECT_EQ(s.meshes.count + s.keys.count + s.cameras.count + s.lights.count, 0);
  EXPECT_EQ(s.textures, nullptr);
  EXPECT_EQ(s.frameSpans, nullptr);
  EXPECT_FALSE(s.isPlayable());
  const Material& m = *s.defaultMaterial;
  for (const RGBColor& c : {m.color0, m.diffuse, m.color2}) {
    EXPECT_EQ(c.r, 1.0f);
    EXPECT_EQ(c.g, 1.0f);
    EXPECT_EQ(c.b, 1.0f);
  }
  EXPECT_EQ(m.textureHandle, -1);
  EXPECT_EQ(m.texture, nullptr);
}

TEST(ReaderTest, UnknownTypesAndSizelessTexturesConsumeOnlyTheirHeader) {
  BaseScene base;
  // Type 9: its flags and index bytes are consumed, the byte after them is the
  // next type byte.
  base.w.addRaw({9, 0xAA, 1, 2, 3, 4});
  vef::TextureRecord sizeless;
  sizeless.side = 0;
  sizeless.flags = SceneFormat::kTexRGB565;
  sizeless.index = 77;  // not stored, so not checked against the table either
  base.w.addTexture(sizeless);
  vef::LightRecord light;
  light.color = {{255, 0, 51}};
  light.intensity = 0.5f;
  base.w.addLight(light);
  Imported r = MustImport(base.w);
  EXPECT_NE(r.log.find("\nImport error: unknown VornExportFileID: 9"), std::string::npos) << r.log;
  const Scene& s = *r.scene;
  EXPECT_EQ(s.textures->count, 0);
  ASSERT_EQ(s.lights.count, 1);
  EXPECT_FLOAT_EQ(s.lights.items[0]->color.r, 1.0f);
  EXPECT_FLOAT_EQ(s.lights.items[0]->color.g, 0.0f);
  EXPECT_FLOAT_EQ(s.lights.items[0]->color.b, 0.2f);
  EXPECT_FLOAT_EQ(s.lights.items[0]->intensity, 0.5f);
  EXPECT_EQ(s.lights.items[0]->mode, 0u);
  EXPECT_EQ(s.lights.items[0]->enabled, 1);
}

TEST(ReaderTest, TextureTexelConversions) {
  BaseScene base;
  vef::TextureRecord rgb;
  rgb.flags = SceneFormat::kTexSizeBits | SceneFormat::kTexRGB565;  // 0x08 wins: 32 x 32
  rgb.texels.assign(32 * 32, 0);
  rgb.texels[0] = 0xFFFF;
  rgb.texels[1] = 0xF800;
  rgb.texels[2] = 0x07E0;
  rgb.texels[1023] = 0x001F;
  base.w.addTexture(rgb);
  vef::TextureRecord pal;
  pal.side = 64;
  pal.rgb565 = false;
  pal.palette.resize(768);
  for (int i = 0; i < 768; ++i) pal.palette[i] = static_cast<uint8_t>(i * 7);
  pal.indices.assign(64 * 64, 0);
  pal.indices[5] = 255;
  base.w.addTexture(pal);
  Imported r = MustImport(base.w);
  const Array<Texture>& t = *r.scene->textures;
  ASSERT_EQ(t.count, 2);
  EXPECT_EQ(t.items[0]->width, 32);
  EXPECT_EQ(t.items[0]->height, 32);
  EXPECT_EQ(t.items[0]->handle, -1);
  const uint8_t* p = t.items[0]->pixels;
  const uint8_t expected[12] = {248, 252, 248, 248, 0, 0, 0, 252, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(p, expected, 12), 0);
  EXPECT_EQ(p[3 * 1023 + 2], 248);
  EXPECT_EQ(t.items[1]->width, 64);
  const uint8_t* q = t.items[1]->pixels;
  EXPECT_EQ(q[0], 0);
  EXPECT_EQ(q[1], 7);
  EXPECT_EQ(q[3 * 5], static_cast<uint8_t>(765 * 7));
  EXPECT_EQ(q[3 * 5 + 2], static_cast<uint8_t>(767 * 7));
}

TEST(ReaderTest, MaterialColourVariants) {
  BaseScene base;
  vef::MaterialRecord black;
  black.flags = 0x3F;  // black wins over white; no triples follow
  base.w.addMaterial(black);
  vef::MaterialRecord bytes;
  bytes.color0 = vef::ColorField::Bytes(255, 0, 51);
  bytes.diffuse = vef::ColorField::Bytes(0, 255, 0);
  bytes.color2 = {vef::ColorField::kBlack, {}};
  base.w.addMaterial(bytes);
  Imported r = MustImport(base.w);
  const Array<Material>& m = r.scene->materials;
  ASSERT_EQ(m.count, 3);
  EXPECT_EQ(m.items[0]->color0.r, 1.0f);  // the base scene's 0x2A material
  EXPECT_EQ(m.items[1]->color0.r, 0.0f);
  EXPECT_EQ(m.items[1]->diffuse.g, 0.0f);
  EXPECT_EQ(m.items[1]->color2.b, 0.0f);
  EXPECT_FLOAT_EQ(m.items[2]->color0.b, 0.2f);
  EXPECT_FLOAT_EQ(m.items[2]->diffuse.g, 1.0f);
  EXPECT_FLOAT_EQ(m.items[2]->diffuse.r, 0.0f);
  EXPECT_EQ(m.items[2]->color2.r, 0.0f);
  EXPECT_EQ(m.items[2]->textureHandle, -1);
}

TEST(ReaderTest, MatrixBlocksRotationScaleTranslation) {
  BaseScene base;
  vef::LightRecord light;
  light.matrix = vef::MatrixBlock{};
  light.matrix->angles = vef::Float3{{0, 0, static_cast<float>(M_PI / 2)}};
  light.matrix->scale = vef::Float3{{2, 1, 1}};
  base.w.addLight(light);
  vef::LightRecord moved;
  moved.matrix = vef::MatrixBlock{};
  moved.matrix->angles = vef::Float3{{0, 0, 0}};
  moved.matrix->translation = vef::Float3{{4, 5, 6}};  // flags 0x15: angles then translation
  base.w.addLight(moved);
  Imported r = MustImport(base.w);
  const Matrix& m = r.scene->lights.items[0]->matrix;
  ExpectVec(m.r0, 0, 2, 0);
  ExpectVec(m.r1, -1, 0, 0);
  ExpectVec(m.r2, 0, 0, 1);
  ExpectVec(m.t, 0, 0, 0);
  ExpectVec(r.scene->lights.items[1]->matrix.t, 4, 5, 6);
}

TEST(ReaderTest, KeyVariants) {
  BaseScene base(2, false);
  vef::MeshRecord placed;
  placed.faces = {{{0, 1, 2}}};
  placed.vertexList = base.list;
  placed.placement = vef::MatrixBlock::Translation(7, 8, 9);
  int32_t mesh = base.w.addMesh(placed);
  // Frame 0: an object key without matrix (0x60) and an unused key with the
  // extra byte (0x30: 9 bytes of payload).
  vef::KeyRecord fromMesh;
  fromMesh.object = true;
  fromMesh.mesh = mesh;
  fromMesh.noMatrix = true;
  fromMesh.matrix = vef::MatrixBlock::Translation(100, 100, 100);  // bits set, block not written
  base.w.addKey(fromMesh);
  vef::KeyRecord unused;
  unused.noMatrix = true;
  unused.extraByte = 0xEE;
  base.w.addKey(unused);
  // Frame 1: object and camera at once (0x48), translation (1, 2, 3).
  vef::KeyRecord both;
  both.frame = 1;
  both.object = true;
  both.camera = true;
  both.mesh = mesh;
  both.matrix = vef::MatrixBlock::Translation(1, 2, 3);
  base.w.addKey(both);
  base.w.header.cameras = 3;
  Imported r = MustImport(base.w);
  const Scene& s = *r.scene;
  ASSERT_EQ(s.keys.count, 2);
  ASSERT_EQ(s.cameras.count, 3);
  EXPECT_EQ(s.cameras.items[2], s.keys.items[1]);
  EXPECT_EQ(s.keys.items[0]->useMeshMatrix, 1);
  // The mesh's placement, then the frame's camera (identity read from the
  // file, so z negated).
  ExpectVec(s.keys.items[0]->matrix.t, 7, 8, -9);
  EXPECT_EQ(s.keys.items[0]->next, s.keys.items[1]);
  // The 0x48 key: z negated on reading as a camera, then baked as an object
  // key with frame 1's camera, which negates z again. Camera entry 2 is the
  // same record, so it shows the baked matrix.
  ExpectVec(s.cameras.items[2]->matrix.r2, 0, 0, 1);
  ExpectVec(s.cameras.items[2]->matrix.t, 1, 2, 3);
  EXPECT_EQ(s.meshes.items[1]->hasMatrix, 1);
}

TEST(ReaderTest, CameraTranslationOnly) {
  BaseScene base(2, true);
  vef::KeyRecord cam;
  cam.camera = true;
  cam.frame = 2;
  cam.matrix = vef::MatrixBlock::Translation(1, 2, 3);  // flags 0x0C
  base.w.addKey(cam);
  Imported r = MustImport(base.w);
  ASSERT_EQ(r.scene->cameras.count, 3);
  const Matrix& m = r.scene->cameras.items[2]->matrix;
  ExpectVec(m.r0, 1, 0, 0);
  ExpectVec(m.r1, 0, 1, 0);
  ExpectVec(m.r2, 0, 0, -1);
  ExpectVec(m.t, 1, 2, -3);
}

TEST(ReaderTest, MeshRunsByteIndicesUVsAndVertexCounts) {
  BaseScene base;
  int32_t big = base.w.addVertexList({{}, {}, {}, std::vector<vef::Float3>(800, vef::Float3{{0, 0, 0}})});
  base.w.addVertexList({{}, {}, {}, std::vector<vef::Float3>(500, vef::Float3{{0, 0, 0}})});
  vef::MaterialRecord m5, m7;
  m5.index = 50;
  m7.index = 70;
  base.w.addMaterial(m5);
  base.w.addMaterial(m7);
  int32_t uv = base.w.addUVList({{}, {}, {}, {{{0.25f, 0.25f}}, {{1, 0}}}});
  vef::MeshRecord mesh;  // flags 0x48 plus vertex list and UVs
  mesh.byteIndices = true;
  mesh.faces = std::vector<vef::Index3>(5, vef::Index3{{1, 200, 255}});
  mesh.vertexList = big;
  mesh.runs = std::vector<vef::MaterialRun>{{3, 50}, {2, 70}};
  mesh.uvList = uv;
  mesh.uvs = std::vector<vef::Index3>(5, vef::Index3{{0, 1, 0}});
  base.w.addMesh(mesh);
  base.w.header.meshes = 1;  // one more mesh than announced: grows, keeps both
  Imported r = MustImport(base.w);
  const Scene& s = *r.scene;
  EXPECT_EQ(s.maxVertexCount, 800u);
  EXPECT_EQ(Occurrences(r.log, kOverflow), 1u);
  ASSERT_EQ(s.meshes.count, 2);
  const Mesh& m = *s.meshes.items[1];
  EXPECT_EQ(m.perFaceMaterial, 1);
  for (int f = 0; f < 5; ++f) {
    EXPECT_EQ(m.faces[f].vertex[1], 200);
    EXPECT_EQ(m.faces[f].vertex[2], 255);
    EXPECT_EQ(m.faces[f].material, s.materials.items[f < 3 ? 1 : 2]) << f;
    EXPECT_EQ(m.faces[f].uv[1], 1);
  }
  ASSERT_NE(m.uvList, nullptr);
  EXPECT_FLOAT_EQ(m.uvList->coords[0][0], 0.25f);
  EXPECT_FLOAT_EQ(m.uvList->coords[0][1], 0.75f);
  EXPECT_FLOAT_EQ(m.uvList->coords[1][1], 1.0f);
}

TEST(SceneTest, ASecondImportLeavesTheFirstSceneAlone) {
  Imported r = ImportBytes(vef::TwoFrameSample());
  ASSERT_TRUE(r.scene->isPlayable());
  testing::internal::CaptureStderr();
  r.scene->importFile("/nonexistent/other.2vef");
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(log, "\nImport error: /nonexistent/other.2vef: the scene already holds an imported file");
  EXPECT_TRUE(r.scene->isPlayable());
  EXPECT_EQ(r.scene->keys.count, 2);
  EXPECT_EQ(r.scene->frameCount, 2u);
  EXPECT_STREQ(r.scene->refusalReason(), "");
}
