// Files that break the format's limits are refused: the scene stays empty and
// not playable, and one message names the file, the record and the problem.
#include <cstring>
#include <random>

#include "SceneFormat.h"
#include "SceneTestUtil.h"

namespace {

// Everything a refused import must leave behind: a scene like a fresh one.
void ExpectRefused(const Imported& r, const std::string& problem) {
  const Scene& s = *r.scene;
  EXPECT_FALSE(s.isPlayable());
  std::string reason = s.refusalReason();
  EXPECT_EQ(reason.rfind(r.path + ": ", 0), 0u) << reason;
  EXPECT_NE(reason.find(problem), std::string::npos) << reason;
  EXPECT_NE(r.log.find("\nImport refused: " + reason), std::string::npos) << r.log;
  EXPECT_EQ(s.frameCount, 0u);
  EXPECT_EQ(s.maxVertexCount, 0u);
  EXPECT_EQ(s.meshes.count + s.materials.count + s.keys.count + s.vertexLists.count + s.uvLists.count +
                s.lights.count + s.cameras.count,
            0);
  EXPECT_EQ(s.keyFrameCount, 0);
  EXPECT_EQ(s.textures, nullptr);
  EXPECT_EQ(s.frameSpans, nullptr);
  EXPECT_TRUE(SceneTestAccess::ImportStateReleased(s));
}

// What the player relies on in a playable scene.
void ExpectConsistent(const Scene& s) {
  ASSERT_GE(s.frameCount, 2u);
  ASSERT_GE(static_cast<uint32_t>(s.cameras.count), s.frameCount);
  ASSERT_NE(s.frameSpans, nullptr);
  ASSERT_EQ(s.keyFrameCount, s.keys.count);
  for (int32_t i = 0; i < s.cameras.count; ++i) ASSERT_NE(s.cameras.items[i]->next, nullptr);
  for (int32_t j = 0; j < s.keys.count; ++j) {
    const Key* k = s.keys.items[j];
    ASSERT_NE(k->mesh, nullptr);
    ASSERT_NE(k->next, nullptr);
    ASSERT_TRUE(k->kind == 1 || k->kind == 2);
    if (k->kind == 2) {
      ASSERT_NE(k->morphVertices, nullptr);
      ASSERT_EQ(k->next->kind == 2 || k->next == k, true);
      ASSERT_GE(k->next->morphVertices->count, k->morphVertices->count);
      for (int32_t f = 0; f < k->mesh->faceCount; ++f) {
        for (uint16_t v : k->mesh->faces[f].vertex) ASSERT_LT(v, k->morphVertices->count);
      }
    } else if (k->mesh->faceCount > 0) {
      ASSERT_NE(k->mesh->vertexList, nullptr);
    }
  }
  for (int32_t i = 0; i < s.meshes.count; ++i) {
    const Mesh* m = s.meshes.items[i];
    for (int32_t f = 0; f < m->faceCount; ++f) {
      ASSERT_NE(m->perFaceMaterial ? m->faces[f].material : m->material, nullptr);
      if (m->vertexList != nullptr) {
        for (uint16_t v : m->faces[f].vertex) ASSERT_LT(v, m->vertexList->count);
      }
      if (m->uvList != nullptr) {
        for (uint16_t uv : m->faces[f].uv) ASSERT_LT(uv, m->uvList->count);
      }
    }
  }
}

vef::KeyRecord ObjectKey(int32_t frame, int32_t mesh) {
  vef::KeyRecord k;
  k.object = true;
  k.frame = frame;
  k.mesh = mesh;
  return k;
}

}  // namespace

TEST(Refusal, HeaderLimits) {
  {
    std::vector<uint8_t> b = vef::TwoFrameSample();
    b.resize(39);
    ExpectRefused(ImportBytes(b), "header: the file has 39 bytes, fewer than the 40-byte header");
  }
  for (uint32_t frames : {0u, 1u}) {
    BaseScene base;
    base.w.header.frameCount = frames;
    ExpectRefused(ImportBytes(base.w.bytes()), "header: frame count " + std::to_string(frames) + " is below 2");
  }
  {
    BaseScene base;
    base.w.header.meshes = -1;
    ExpectRefused(ImportBytes(base.w.bytes()), "header: mesh count -1 does not fit");
  }
  {
    // A count no file of this size can hold: no allocation is made from it.
    BaseScene base;
    base.w.header.vertexLists = 0x7FFFFFFF;
    ExpectRefused(ImportBytes(base.w.bytes()), "header: vertex list count 2147483647 does not fit");
    BaseScene cams;
    cams.w.header.cameras = 0xFFFFFFFFu;
    ExpectRefused(ImportBytes(cams.w.bytes()), "header: camera count 4294967295 does not fit");
  }
  {
    BaseScene base;
    base.w.header.recordTableSize = 0x7FFFFFFF;
    ExpectRefused(ImportBytes(base.w.bytes()), "header: recordTableSize 2147483647 is outside");
  }
}

TEST(Refusal, RecordIndexOutsideTheTable) {
  for (int32_t bad : {-1, 9}) {
    BaseScene base;
    vef::LightRecord light;
    light.index = bad;
    base.w.addLight(light);
    base.w.header.recordTableSize = 9;
    ExpectRefused(ImportBytes(base.w.bytes()),
                  "record index " + std::to_string(bad) + ": record index outside 0..8");
  }
}

TEST(Refusal, ReferencesToMissingOrWrongRecords) {
  {
    BaseScene base;
    base.w.addKey(ObjectKey(0, 40));
    base.w.header.recordTableSize = 50;
    ExpectRefused(ImportBytes(base.w.bytes()), "mesh ref 40 names no record");
  }
  {
    BaseScene base;
    base.w.addKey(ObjectKey(1, 60));
    base.w.header.recordTableSize = 50;
    ExpectRefused(ImportBytes(base.w.bytes()), "mesh ref 60 is outside the record table");
  }
  {
    // A key naming a material as its mesh.
    BaseScene base;
    vef::KeyRecord k = ObjectKey(1, base.material);
    k.index = 30;
    base.w.addKey(k);
    ExpectRefused(ImportBytes(base.w.bytes()),
                  "record index 30: mesh ref " + std::to_string(base.material) + " names a material, not a mesh");
  }
  {
    // A key with neither the object nor the camera bit is not kept; naming it is an error.
    BaseScene base;
    vef::KeyRecord loose;
    loose.index = 20;
    base.w.addKey(loose);
    base.w.addKey(ObjectKey(1, 20));
    ExpectRefused(ImportBytes(base.w.bytes()), "mesh ref 20 names a key, not a mesh");
  }
  {
    BaseScene base;
    vef::MeshRecord m;
    m.faces = {{{0, 1, 2}}};
    m.vertexList = base.list;
    m.uvList = base.material;
    m.uvs = {{{0, 0, 0}}};
    base.w.addMesh(m);
    ExpectRefused(ImportBytes(base.w.bytes()), "UV list ref " + std::to_string(base.material) + " names a material");
  }
  {
    BaseScene base;
    vef::MeshRecord m;
    m.faces = {{{0, 1, 2}}};
    m.vertexList = base.list;
    m.runs = std::vector<vef::MaterialRun>{{1, base.list}};
    base.w.addMesh(m);
    ExpectRefused(ImportBytes(base.w.bytes()), "material ref " + std::to_string(base.list) + " names a vertex list");
  }
  {
    BaseScene base;
    vef::MaterialRecord mat;
    mat.texture = base.mesh;
    base.w.addMaterial(mat);
    ExpectRefused(ImportBytes(base.w.bytes()), "texture ref " + std::to_string(base.mesh) + " names a mesh");
  }
}

TEST(Refusal, IndicesOutsideTheirLists) {
  {
    BaseScene base;
    vef::MeshRecord m;
    m.index = 40;
    m.faces = {{{0, 1, 2}}, {{1, 2, 3}}};
    m.vertexList = base.list;
    base.w.addMesh(m);
    ExpectRefused(ImportBytes(base.w.bytes()), "record index 40: faces use vertex index 3, the vertex list");
  }
  {
    BaseScene base;
    int32_t uv = base.w.addUVList({{}, {}, {}, {{{0, 0}}, {{1, 1}}}});
    vef::MeshRecord m;
    m.faces = {{{0, 1, 2}}};
    m.vertexList = base.list;
    m.uvList = uv;
    m.uvs = {{{0, 1, 2}}};
    base.w.addMesh(m);
    ExpectRefused(ImportBytes(base.w.bytes()), "face 0 uses UV index 2, the UV list");
  }
  {
    BaseScene base;
    vef::MeshRecord m;
    m.index = 41;
    m.faces = {{{0, 1, 2}}, {{0, 1, 2}}, {{0, 1, 2}}};
    m.vertexList = base.list;
    m.runs = std::vector<vef::MaterialRun>{{2, 0}, {2, base.material}};
    base.w.addMesh(m);
    ExpectRefused(ImportBytes(base.w.bytes()), "record index 41: material runs cover 4 faces, the mesh has 3");
  }
  {
    // The rigid path transforms the mesh's own vertices; without a list there are none.
    BaseScene base(2, false);
    vef::MeshRecord m;
    m.faces = {{{0, 1, 2}}};
    int32_t bare = base.w.addMesh(m);
    base.w.addKey(ObjectKey(0, bare));
    ExpectRefused(ImportBytes(base.w.bytes()), "has faces but no vertex list");
  }
}

TEST(Refusal, MorphListsTooShort) {
  auto morphKey = [](int32_t frame, int32_t mesh, int32_t list) {
    vef::KeyRecord k = ObjectKey(frame, mesh);
    k.morph = list;
    return k;
  };
  {
    BaseScene base(2, false);
    int32_t two = base.w.addVertexList({{}, {}, {}, {{{0, 0, 0}}, {{1, 0, 0}}}});
    base.w.addKey(morphKey(0, base.mesh, two));
    ExpectRefused(ImportBytes(base.w.bytes()), "morph vertex list " + std::to_string(two) + " has 2 vertices");
  }
  {
    BaseScene base(2, false);
    int32_t four = base.w.addVertexList({{}, {}, {}, std::vector<vef::Float3>(4, vef::Float3{{0, 0, 0}})});
    int32_t three = base.w.addVertexList({{}, {}, {}, std::vector<vef::Float3>(3, vef::Float3{{0, 0, 0}})});
    base.w.addKey(morphKey(0, base.mesh, four));
    base.w.addKey(morphKey(1, base.mesh, three));
    ExpectRefused(ImportBytes(base.w.bytes()), "has 4 vertices, that of the next key");
  }
  {
    BaseScene base(2, false);
    int32_t three = base.w.addVertexList({{}, {}, {}, std::vector<vef::Float3>(3, vef::Float3{{0, 0, 0}})});
    base.w.addKey(morphKey(0, base.mesh, three));
    base.w.addKey(ObjectKey(1, base.mesh));
    ExpectRefused(ImportBytes(base.w.bytes()), "which is not a morph key");
  }
}

TEST(Refusal, CamerasAndCounts) {
  {
    BaseScene base(2);
    base.w.header.frameCount = 3;
    ExpectRefused(ImportBytes(base.w.bytes()), "2 camera keys for 3 frames");
  }
  {
    // A count that the bytes after it cannot hold: nothing is allocated from it.
    BaseScene base;
    base.w.addRaw({2, 0, 50, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x0F});
    ExpectRefused(ImportBytes(base.w.bytes()), "record index 50: vertex count 268435455 needs");
    BaseScene faces;
    faces.w.addRaw({1, 0, 51, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x0F});
    ExpectRefused(ImportBytes(faces.w.bytes()), "record index 51: mesh face count 268435455 needs");
    BaseScene uvs;
    uvs.w.addRaw({5, 0, 52, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
    ExpectRefused(ImportBytes(uvs.w.bytes()), "record index 52: UV count -1 is negative");
  }
}

TEST(Refusal, MissingFile) {
  Scene s;
  testing::internal::CaptureStderr();
  s.importFile("/nonexistent/dir/scene.2vef");
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(s.isPlayable());
  EXPECT_STREQ(s.refusalReason(), "/nonexistent/dir/scene.2vef: cannot open: No such file or directory");
  EXPECT_NE(log.find("/nonexistent/dir/scene.2vef"), std::string::npos);
  EXPECT_EQ(s.frameSpans, nullptr);
}

TEST(Refusal, MoreThanAMillionObjectKeys) {
  // 1,000,001 minimal object keys (no matrix): the last one is one too many.
  BaseScene base(2, false);
  base.w.header.objectKeys = SceneFormat::kMaxObjectKeys;  // as many as fit: no growth
  std::vector<uint8_t> bytes = base.w.bytes();
  const int32_t n = SceneFormat::kMaxObjectKeys + 1;
  const size_t start = bytes.size();
  bytes.resize(start + 18u * n);
  uint8_t* p = bytes.data() + start;
  for (int32_t i = 0; i < n; ++i, p += 18) {
    const int32_t fields[4] = {100 + i, i < n / 2 ? 0 : 1, 0, base.mesh};
    p[0] = SceneFormat::kKey;
    p[1] = SceneFormat::kKeyObject | SceneFormat::kKeyNoMatrix;
    std::memcpy(p + 2, fields, 16);
  }
  // Record indices up to 1,000,100 must be inside the table.
  uint32_t tableSize = 100 + n;
  std::memcpy(&bytes[36], &tableSize, 4);
  Imported r = ImportBytes(bytes);
  ExpectRefused(r, "record index " + std::to_string(100 + n - 1) + ": more than 1000000 object keys");
}

TEST(Refusal, WorkBeyondTheLimitsPerFrameAndAtLoad) {
  // Frame 0 shows a mesh of `faces` faces over `vertices` vertices with `keys`
  // rigid keys, lit by `lights` lights; a placed mesh is lit once at load
  // instead of per key. Frame 1 holds nothing.
  struct Case {
    int faces, vertices, keys, lights;
    bool placed;
    const char* problem;  // null: playable
  } cases[] = {
      // 3 x 1000 x 10 x 333 = 9,990,000 corner-light evaluations, just below the limit.
      {1000, 3, 333, 10, false, nullptr},
      {1000, 3, 334, 10, false, "frame 0 needs more than 10000000 corner-light evaluations (334 keys, 10 lights)"},
      // The campaign's shape: a small file asking for 2.4 x 10^10 per frame.
      {4000, 3, 2000, 1000, false, "frame 0 needs more than 10000000 corner-light evaluations (2000 keys, 1000 lights)"},
      // Placed: the keys cost nothing per frame, the lighting at load does
      // (3 x 10000 x 3334 = 100,020,000).
      {10000, 3, 1, 3334, true, "lighting the placed meshes needs more than 100000000 corner-light evaluations (3334 lights)"},
      // Unlit, a big vertex list drawn by many keys: 200 x (1 + 50000) faces and vertices.
      {1, 50000, 199, 0, false, nullptr},
      {1, 50000, 200, 0, false, "frame 0 projects more than 10000000 faces and vertices (200 keys)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem ? c.problem : "playable");
    vef::SceneWriter w;
    vef::VertexListRecord list;
    list.positions.assign(c.vertices, {{0, 0, 0}});
    list.positions[1] = {{1, 0, 0}};
    list.positions[2] = {{0, 1, 0}};
    const int32_t l = w.addVertexList(list);
    vef::MeshRecord mesh;
    mesh.faces.assign(c.faces, {{0, 1, 2}});
    mesh.vertexList = l;
    mesh.material = w.addMaterial(vef::MaterialRecord{});
    if (c.placed) mesh.placement = vef::MatrixBlock::Translation(0, 0, -5);
    const int32_t m = w.addMesh(mesh);
    for (int i = 0; i < c.lights; ++i) w.addLight(vef::LightRecord{});
    for (int f = 0; f < 2; ++f) {
      vef::KeyRecord cam;
      cam.camera = true;
      cam.frame = f;
      w.addKey(cam);
    }
    for (int k = 0; k < c.keys; ++k) {
      vef::KeyRecord key = ObjectKey(0, m);
      key.noMatrix = c.placed;
      w.addKey(key);
    }
    Imported r = ImportBytes(w.bytes());
    if (c.problem == nullptr) {
      EXPECT_TRUE(r.scene->isPlayable()) << r.scene->refusalReason();
    } else {
      ExpectRefused(r, c.problem);
    }
  }
}

// A file cut inside a record drops that record; the file is refused only when
// something needed is lost.
TEST(Truncation, EveryLengthOfTheSample) {
  const std::vector<uint8_t> full = vef::TwoFrameSample();
  ReusedScene reused;
  testing::internal::CaptureStderr();  // one capture for all the imports' logs
  for (size_t len = 0; len < full.size(); ++len) {
    SCOPED_TRACE(len);
    const Scene& s = reused.import(std::vector<uint8_t>(full.begin(), full.begin() + len));
    // 174: both cameras and the first key are whole; 204: the second key too.
    EXPECT_EQ(s.isPlayable(), len >= 174) << s.refusalReason();
    if (s.isPlayable()) {
      ExpectConsistent(s);
      EXPECT_EQ(s.keys.count, len >= 204 ? 2 : 1);
      EXPECT_EQ(s.lights.count, 0);
    } else {
      EXPECT_EQ(s.frameSpans, nullptr);
    }
  }
  testing::internal::GetCapturedStderr();
}

TEST(Truncation, EveryFlippedByteOfTheSample) {
  const std::vector<uint8_t> full = vef::TwoFrameSample();
  int playable = 0;
  ReusedScene reused;
  testing::internal::CaptureStderr();
  for (size_t i = 0; i < full.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "byte " << i);
    std::vector<uint8_t> b = full;
    b[i] ^= 0xFF;
    const Scene& s = reused.import(b);
    if (s.isPlayable()) {
      ++playable;
      ExpectConsistent(s);
    } else {
      EXPECT_STRNE(s.refusalReason(), "");
    }
  }
  testing::internal::GetCapturedStderr();
  // Flipping float bits of positions or matrices leaves a playable scene.
  EXPECT_GT(playable, 0);
}

namespace {

// Every record kind and most flag variants: placed and per-face meshes with
// byte indices and UVs, morph keys, textures of both kinds, lights.
std::vector<uint8_t> RichScene() {
  BaseScene base(0, false);
  vef::SceneWriter& w = base.w;
  vef::TextureRecord rgb;
  rgb.texels.assign(32 * 32, 0xF00F);
  const int32_t t0 = w.addTexture(rgb);
  vef::TextureRecord pal;
  pal.rgb565 = false;
  pal.palette.assign(768, 9);
  pal.indices.assign(32 * 32, 3);
  w.addTexture(pal);
  vef::MaterialRecord textured;
  textured.texture = t0;
  textured.color0 = vef::ColorField::Bytes(1, 2, 3);
  const int32_t mt = w.addMaterial(textured);
  const int32_t uv = w.addUVList({{}, {}, {}, {{{0, 0}}, {{1, 0}}, {{0, 1}}}});
  vef::MeshRecord placed;
  placed.byteIndices = true;
  placed.faces = {{{0, 1, 2}}, {{2, 1, 0}}};
  placed.vertexList = base.list;
  placed.runs = std::vector<vef::MaterialRun>{{1, mt}, {1, 0}};
  placed.uvList = uv;
  placed.uvs = {{{0, 1, 2}}, {{2, 1, 0}}};
  placed.placement = vef::MatrixBlock{};
  placed.placement->angles = vef::Float3{{0.1f, 0.2f, 0.3f}};
  placed.placement->scale = vef::Float3{{1, 2, 1}};
  placed.placement->translation = vef::Float3{{1, 2, 3}};
  const int32_t mp = w.addMesh(placed);
  const int32_t morphA = w.addVertexList({{}, {}, {}, {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}}});
  const int32_t morphB = w.addVertexList({{}, {}, {}, {{{0, 0, 1}}, {{1, 0, 1}}, {{0, 1, 1}}}});
  for (int f = 0; f < 2; ++f) {
    vef::KeyRecord cam;
    cam.camera = true;
    cam.frame = f;
    cam.extraByte = 1;
    cam.matrix.angles = vef::Float3{{0, 0.5f * f, 0}};
    cam.matrix.translation = vef::Float3{{0, 0, 20}};
    w.addKey(cam);
    vef::KeyRecord rigid;
    rigid.object = true;
    rigid.frame = f;
    rigid.mesh = mp;
    rigid.noMatrix = f == 0;
    rigid.matrix = vef::MatrixBlock::Translation(0, 0, float(f));
    w.addKey(rigid);
    vef::KeyRecord morph;
    morph.object = true;
    morph.frame = f;
    morph.mesh = base.mesh;
    morph.morph = f == 0 ? morphA : morphB;
    w.addKey(morph);
  }
  vef::LightRecord light;
  light.matrix = vef::MatrixBlock::Translation(0, 5, 0);
  w.addLight(light);
  return w.bytes();
}

}  // namespace

// Random damage to a file that uses every record kind: nothing crashes, and
// whatever is accepted holds up.
TEST(Truncation, RandomDamageToAFileOfEveryRecordKind) {
  const std::vector<uint8_t> rich = RichScene();
  ReusedScene reused;
  testing::internal::CaptureStderr();
  const Scene& intact = reused.import(rich);
  EXPECT_TRUE(intact.isPlayable()) << intact.refusalReason();
  EXPECT_EQ(intact.textures->count, 2);
  EXPECT_EQ(intact.keys.items[1]->kind, 2);
  std::mt19937 rng(2024);
  int playable = 0;
  for (int round = 0; round < 600; ++round) {
    std::vector<uint8_t> b = rich;
    const int changes = 1 + static_cast<int>(rng() % 3);
    for (int c = 0; c < changes; ++c) b[rng() % b.size()] = static_cast<uint8_t>(rng());
    if (round % 5 == 0) b.resize(rng() % b.size());
    SCOPED_TRACE(round);
    const Scene& s = reused.import(b);
    if (s.isPlayable()) {
      ++playable;
      ExpectConsistent(s);
    }
  }
  testing::internal::GetCapturedStderr();
  EXPECT_GT(playable, 0);
}
