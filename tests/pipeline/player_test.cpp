// The frame walk, the rigid path, sampling and the player's set-up.
#include <gtest/gtest.h>

#include <cmath>

#include "PipelineStage.h"

namespace {

using vef::Float3;
using vef::Index3;

// Frames 0 and 1, identity cameras, one mesh of `faces` over `positions`, one
// rigid key per frame at z = -10 (view z 10). Returns the writer for more.
struct SceneSpec {
  std::vector<Float3> positions{{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}, {{1, 1, 0}}};
  std::vector<Index3> faces{{{0, 1, 2}}};
  bool placed = false;  // mesh carries its own placement: lit once at load
  // One key per entry in each of the two frames, placed by these translations.
  std::vector<Float3> keys{{{0, 0, -10}}};
};

vef::SceneWriter Build(const SceneSpec& spec) {
  vef::SceneWriter w;
  vef::VertexListRecord list;
  list.positions = spec.positions;
  const int32_t listIndex = w.addVertexList(list);
  const int32_t materialIndex = w.addMaterial(vef::MaterialRecord{});
  vef::MeshRecord mesh;
  mesh.faces = spec.faces;
  mesh.vertexList = listIndex;
  mesh.material = materialIndex;
  if (spec.placed) mesh.placement = vef::MatrixBlock::Translation(0, 0, 0);
  const int32_t m = w.addMesh(mesh);
  AddIdentityCameras(w, 2);
  for (int frame = 0; frame < 2; ++frame) {
    for (const Float3& k : spec.keys) AddRigidKey(w, frame, m, k[0], k[1], k[2]);
  }
  return w;
}

vef::TextureRecord SolidTexture(uint16_t texel) {
  vef::TextureRecord t;
  t.side = 32;
  t.texels.assign(32 * 32, texel);
  return t;
}

TEST(Player, UploadsEveryTextureInOrderAndDropsThePixelData) {
  SceneSpec spec;
  vef::SceneWriter all;
  const int32_t t0 = all.addTexture(SolidTexture(0xF800));
  all.addTexture(SolidTexture(0x001F));  // no material draws it
  vef::VertexListRecord list;
  list.positions = spec.positions;
  const int32_t listIndex = all.addVertexList(list);
  vef::MaterialRecord textured;
  textured.texture = t0;
  const int32_t material = all.addMaterial(textured);
  all.addMaterial(vef::MaterialRecord{});
  vef::MeshRecord mesh;
  mesh.faces = spec.faces;
  mesh.vertexList = listIndex;
  mesh.material = material;
  const int32_t m = all.addMesh(mesh);
  AddIdentityCameras(all, 2);
  AddRigidKey(all, 0, m, 0, 0, -10);
  AddRigidKey(all, 1, m, 0, 0, -10);

  Stage stage(all.bytes());
  RecordingRenderer& r = stage.renderer;
  ASSERT_EQ(r.uploads.size(), 2u);
  EXPECT_EQ(r.uploads[0]->handle, 10);
  EXPECT_EQ(r.uploads[1]->handle, 11);
  // The renderer saw the converted texels: RGB565 red is (248, 0, 0).
  EXPECT_EQ(r.uploadedPixels[0][0], 248);
  EXPECT_EQ(r.uploadedPixels[1][2], 248);
  // Pixels and the Array are gone; the records stay for the materials.
  EXPECT_EQ(stage.scene->textures, nullptr);
  EXPECT_EQ(r.uploads[0]->pixels, nullptr);
  EXPECT_EQ(r.uploads[1]->pixels, nullptr);
  EXPECT_EQ(stage.scene->materials.items[0]->textureHandle, 10);
  EXPECT_EQ(stage.scene->materials.items[1]->textureHandle, -1);

  // The key's SetTextures selects the texture on stage 0 before drawing (its
  // flush of the still empty batch draws nothing).
  stage.Render(0);
  ASSERT_EQ(r.events.size(), 3u);
  EXPECT_EQ(r.events[0].kind, RecordedEvent::kFlush);
  EXPECT_EQ(r.events[0].a, 0);
  EXPECT_EQ(r.events[1].kind, RecordedEvent::kSelect);
  EXPECT_EQ(r.events[1].a, 10);
  EXPECT_EQ(r.events[1].b, 0);
  EXPECT_EQ(r.events[2].kind, RecordedEvent::kFlush);
  EXPECT_EQ(r.events[2].a, 1);
  ASSERT_EQ(r.draws.size(), 1u);
  EXPECT_EQ(r.draws[0].texture0, 10);
}

TEST(Player, CornerColoursClampAt1AndTruncateAfterScaling) {
  SceneSpec spec;
  spec.placed = true;  // not relit: the colours set here are what is drawn
  Stage stage(Build(spec).bytes());
  Face& face = stage.scene->meshes.items[0]->faces[0];
  face.cornerColor[0] = RGBColor{0.5f, 1.0f, 1.7f};
  face.cornerColor[1] = RGBColor{0.0f, 0.999f, 2.0f / 255.0f};
  face.cornerColor[2] = RGBColor{1.0001f, 0.25f, 0.0f};
  stage.Render(0);
  ASSERT_EQ(stage.renderer.draws.size(), 1u);
  const std::vector<TLVertex>& v = stage.renderer.draws[0].vertices;
  EXPECT_EQ(v[0].diffuse, 0x007FFFFFu);
  EXPECT_EQ(v[1].diffuse, 0x0000FE02u);  // 254.745 -> 254
  EXPECT_EQ(v[2].diffuse, 0x00FF3F00u);
  // The clamp is stored in the face.
  EXPECT_EQ(face.cornerColor[0].b, 1.0f);
  EXPECT_EQ(face.cornerColor[0].r, 0.5f);
  EXPECT_EQ(face.cornerColor[2].r, 1.0f);
}

TEST(Player, SharedVerticesAreProjectedOncePerKeyAndAgainForTheNextKey) {
  // Two faces share vertices 1 and 2; vertex 4 is used by nobody.
  SceneSpec spec;
  spec.placed = true;
  spec.positions = {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}, {{1, 1, 0}}, {{5, 5, 5}}};
  spec.faces = {{{0, 1, 2}}, {{2, 1, 3}}};
  spec.keys = {{{0, 0, -10}}, {{2, 0, -20}}};  // two keys of the same mesh per frame
  Stage stage(Build(spec).bytes());
  stage.Render(0);
  RecordingRenderer& r = stage.renderer;
  ASSERT_EQ(r.draws.size(), 2u);  // one flush per key
  const std::vector<TLVertex>& a = r.draws[0].vertices;
  const std::vector<TLVertex>& b = r.draws[1].vertices;
  ASSERT_EQ(a.size(), 6u);
  ASSERT_EQ(b.size(), 6u);
  // Corners that name the same vertex carry the same screen position.
  EXPECT_EQ(a[1].x, a[4].x);
  EXPECT_EQ(a[2].y, a[3].y);
  // The second key is projected afresh: its own depth and position.
  EXPECT_FLOAT_EQ(a[0].rhw, 0.1f);
  EXPECT_FLOAT_EQ(b[0].rhw, 0.05f);
  EXPECT_FLOAT_EQ(b[0].x, 2.0f * stage.player->xScale * 0.05f + stage.player->xCentre);
  EXPECT_FLOAT_EQ(b[4].x, 3.0f * stage.player->xScale * 0.05f + stage.player->xCentre);
  // The unused vertex was never touched.
  EXPECT_EQ(stage.player->transformed[4], 0);
  EXPECT_EQ(stage.player->workVertices[4].vz, 0.0f);
  EXPECT_EQ(stage.player->transformed[3], 1);
}

TEST(Player, KeysOfAnotherKindSelectTexturesButNeverFlush) {
  vef::SceneWriter w;
  const int32_t tex = w.addTexture(SolidTexture(0xFFFF));
  vef::VertexListRecord list;
  list.positions = {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}};
  const int32_t l = w.addVertexList(list);
  vef::MaterialRecord material;
  material.texture = tex;
  const int32_t mat = w.addMaterial(material);
  vef::MeshRecord mesh;
  mesh.faces = {{{0, 1, 2}}};
  mesh.vertexList = l;
  mesh.material = mat;
  const int32_t m = w.addMesh(mesh);
  AddIdentityCameras(w, 2);
  AddRigidKey(w, 0, m, 0, 0, -10);
  AddRigidKey(w, 1, m, 0, 0, -10);
  Stage stage(w.bytes());
  stage.scene->keys.items[0]->kind = 3;
  EXPECT_EQ(stage.Render(0), "");
  RecordingRenderer& r = stage.renderer;
  // Only the texture change (with its flush of the empty batch) happens; the
  // key itself draws nothing and is not flushed.
  ASSERT_EQ(r.events.size(), 2u);
  EXPECT_EQ(r.events[0].kind, RecordedEvent::kFlush);
  EXPECT_EQ(r.events[0].a, 0);
  EXPECT_EQ(r.events[1].kind, RecordedEvent::kSelect);
  EXPECT_EQ(r.events[1].a, 10);
  EXPECT_TRUE(r.draws.empty());
  // The next frame's key of kind 3 does not even change the texture.
  r.events.clear();
  stage.Render(0);
  EXPECT_TRUE(r.events.empty());
}

TEST(Player, AFullBatchOf256TrianglesIsExactlyOneDraw) {
  SceneSpec spec;
  spec.placed = true;
  spec.faces.assign(256, Index3{{0, 1, 2}});
  Stage stage(Build(spec).bytes());
  stage.Render(0);
  ASSERT_EQ(stage.renderer.draws.size(), 1u);
  EXPECT_EQ(stage.renderer.draws[0].vertices.size(), 256u * 3);
  // The batch filled up and drew itself; the key's own flush found it empty.
  EXPECT_EQ(stage.renderer.flushCalls, 2);
  EXPECT_EQ(stage.renderer.TriangleCount, 0);
}

TEST(Player, TimesPastTheLastFrameAreLoggedAndDrawNothing) {
  Stage stage(vef::TwoFrameSample());
  EXPECT_EQ(stage.Render(20000), "\nwrong FirstKey, time=20000");
  EXPECT_EQ(stage.Render(4294967295u), "\nwrong FirstKey, time=-1");
  EXPECT_EQ(stage.renderer.flushCalls, 0);
  EXPECT_TRUE(stage.renderer.draws.empty());
  // A frame whose span is empty draws nothing either.
  stage.scene->frameSpans[0].keyCount = 0;
  EXPECT_EQ(stage.Render(0), "");
  EXPECT_EQ(stage.renderer.flushCalls, 0);
}

TEST(Player, ASingleFrameSceneIsDrawnUnblendedAtAnyTime) {
  Stage stage(vef::TwoFrameSample());
  // What a one-frame scene looks like: the frame duration 10000 / 0.
  stage.scene->frameCount = 1;
  stage.scene->frameDuration = 10000.0f / static_cast<float>(stage.scene->frameCount - 1);
  ASSERT_TRUE(std::isinf(stage.scene->frameDuration));
  for (uint32_t time : {0u, 5000u, 10000u}) {
    stage.renderer.draws.clear();
    EXPECT_EQ(stage.Render(time), "");
    ASSERT_EQ(stage.renderer.draws.size(), 1u) << time;
    for (const TLVertex& v : stage.renderer.draws[0].vertices) {
      EXPECT_FLOAT_EQ(v.rhw, 0.1f) << time;  // the key's own z of 10, never NaN
      EXPECT_FALSE(std::isnan(v.x));
    }
  }
}

TEST(Player, SamplingPicksTheFrameAndTheWeightOfItsSuccessor) {
  Stage stage(vef::TwoFrameSample());
  ScenePlayer& p = *stage.player;
  // frameDuration 10000 / 3 for four frames.
  stage.scene->frameCount = 4;
  stage.scene->frameDuration = 10000.0f / 3.0f;
  ScenePlayer::Sample s = p.SampleTime(0);
  EXPECT_TRUE(s.valid);
  EXPECT_EQ(s.frame, 0u);
  EXPECT_EQ(s.t, 0.0f);
  EXPECT_EQ(s.s, 1.0f);
  s = p.SampleTime(5000);
  EXPECT_EQ(s.frame, 1u);
  EXPECT_FLOAT_EQ(s.t, 0.5f);
  EXPECT_FLOAT_EQ(s.s, 0.5f);
  s = p.SampleTime(10000);  // the last frame, only at the very end
  EXPECT_TRUE(s.valid);
  EXPECT_EQ(s.frame, 3u);
  EXPECT_LT(s.t, 1e-3f);
  s = p.SampleTime(9999);
  EXPECT_EQ(s.frame, 2u);
  EXPECT_GT(s.t, 0.99f);
  EXPECT_LT(s.t, 1.0f);
  EXPECT_FALSE(p.SampleTime(13334).valid);
}

TEST(Player, TextureCoordinatesComeFromTheUVListOrAreZero) {
  vef::SceneWriter w;
  vef::VertexListRecord list;
  list.positions = {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}};
  const int32_t l = w.addVertexList(list);
  vef::UVListRecord uvs;
  uvs.coords = {{{0.25f, 0.25f}}, {{0.5f, 0.0f}}, {{1.0f, 1.0f}}};
  const int32_t uv = w.addUVList(uvs);
  const int32_t mat = w.addMaterial(vef::MaterialRecord{});
  vef::MeshRecord withUV;
  withUV.faces = {{{0, 1, 2}}};
  withUV.vertexList = l;
  withUV.material = mat;
  withUV.uvList = uv;
  withUV.uvs = {{{2, 1, 0}}};
  withUV.placement = vef::MatrixBlock::Translation(0, 0, 0);
  const int32_t m1 = w.addMesh(withUV);
  vef::MeshRecord without = withUV;
  without.uvList.reset();
  without.uvs.clear();
  const int32_t m2 = w.addMesh(without);
  AddIdentityCameras(w, 2);
  for (int frame = 0; frame < 2; ++frame) {
    AddRigidKey(w, frame, m1, 0, 0, -10);
    AddRigidKey(w, frame, m2, 0, 0, -10);
  }
  Stage stage(w.bytes());
  stage.Render(0);
  ASSERT_EQ(stage.renderer.draws.size(), 2u);
  const std::vector<TLVertex>& a = stage.renderer.draws[0].vertices;
  EXPECT_EQ(a[0].u, 1.0f);  // uv index 2: (1, 1 - 1)
  EXPECT_EQ(a[0].v, 0.0f);
  EXPECT_EQ(a[1].u, 0.5f);
  EXPECT_EQ(a[1].v, 1.0f);
  EXPECT_EQ(a[2].u, 0.25f);
  EXPECT_EQ(a[2].v, 0.75f);
  // The same vertices through a mesh without a list: 0, not the previous values.
  for (const TLVertex& v : stage.renderer.draws[1].vertices) {
    EXPECT_EQ(v.u, 0.0f);
    EXPECT_EQ(v.v, 0.0f);
  }
}

TEST(Player, PerFaceMaterialsSwitchTexturesBetweenFaces) {
  vef::SceneWriter w;
  const int32_t tex = w.addTexture(SolidTexture(0x07E0));
  vef::VertexListRecord list;
  list.positions = {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}};
  const int32_t l = w.addVertexList(list);
  vef::MaterialRecord textured;
  textured.texture = tex;
  const int32_t mt = w.addMaterial(textured);
  const int32_t mp = w.addMaterial(vef::MaterialRecord{});
  vef::MeshRecord mesh;
  mesh.faces = {{{0, 1, 2}}, {{0, 1, 2}}, {{0, 1, 2}}};
  mesh.vertexList = l;
  mesh.runs = std::vector<vef::MaterialRun>{{2, mt}, {1, mp}};
  mesh.placement = vef::MatrixBlock::Translation(0, 0, 0);
  const int32_t m = w.addMesh(mesh);
  AddIdentityCameras(w, 2);
  AddRigidKey(w, 0, m, 0, 0, -10);
  AddRigidKey(w, 1, m, 0, 0, -10);
  Stage stage(w.bytes());
  stage.Render(0);
  RecordingRenderer& r = stage.renderer;
  // Two faces with the texture, one without: two draws.
  ASSERT_EQ(r.draws.size(), 2u);
  EXPECT_EQ(r.draws[0].texture0, 10);
  EXPECT_EQ(r.draws[0].vertices.size(), 6u);
  EXPECT_EQ(r.draws[1].texture0, -1);
  EXPECT_EQ(r.draws[1].vertices.size(), 3u);
}

TEST(Player, UnplacedMeshesAreRelitForEveryKeyThatDrawsThem) {
  // One mesh, two keys in frame 0 at different distances, light at the eye.
  SceneSpec spec;
  spec.keys = {{{0, 0, -10}}, {{3, 0, -1}}};
  vef::SceneWriter w = Build(spec);
  vef::LightRecord light;
  light.color = {{255, 101, 0}};
  light.intensity = 0.5f;
  light.matrix = vef::MatrixBlock::Translation(0, 0, 0);
  w.addLight(light);
  vef::LightRecord off = light;
  w.addLight(off);
  Stage stage(w.bytes());
  stage.scene->lights.items[1]->enabled = 0;  // not passed to the lighting at all
  stage.Render(0);
  ASSERT_EQ(stage.renderer.draws.size(), 2u);
  // Key 1: straight ahead, corner 0 faces the light: 0.5 * (255, 101, 0) = 127.5, 50.5.
  EXPECT_EQ(stage.renderer.draws[0].vertices[0].diffuse, 0x007F3200u);
  // Key 2: the light lies at (-3, 0, 1) from corner 0: cosine 1/sqrt(10),
  // 0.158 * 255 = 40.3 red, 0.158 * 101 = 15.97 green.
  EXPECT_EQ(stage.renderer.draws[1].vertices[0].diffuse, 0x00280F00u);
  // The mesh keeps the lighting of the last key drawn.
  const Face& face = stage.scene->meshes.items[0]->faces[0];
  EXPECT_NEAR(face.cornerColor[0].r, 0.5f / std::sqrt(10.0f), 1e-6f);
}

TEST(Player, LightsFollowTheBlendedCamera) {
  // The camera slides along x from 5 to 15 while the key stays 10 ahead of it,
  // so in view space nothing moves, the light at the world origin included:
  // every frame must look like the golden scene's time 0. A light that missed
  // the camera, or took frame 0's camera unblended, would light corner 0 at an
  // angle.
  vef::SceneWriter w;
  vef::VertexListRecord list;
  list.positions = {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}};
  const int32_t l = w.addVertexList(list);
  const int32_t mat = w.addMaterial(vef::MaterialRecord{});
  vef::MeshRecord mesh;
  mesh.faces = {{{0, 1, 2}}};
  mesh.vertexList = l;
  mesh.material = mat;
  const int32_t m = w.addMesh(mesh);
  for (int frame = 0; frame < 2; ++frame) {
    vef::KeyRecord camera;
    camera.frame = frame;
    camera.camera = true;
    camera.matrix = vef::MatrixBlock::Translation(5.0f + 10.0f * frame, 0, 0);
    w.addKey(camera);
    AddRigidKey(w, frame, m, 0, 0, -10);
  }
  vef::LightRecord light;
  light.matrix = vef::MatrixBlock::Translation(0, 0, 0);
  w.addLight(light);
  Stage stage(w.bytes());
  for (uint32_t time : {0u, 5000u, 2500u}) {
    stage.renderer.draws.clear();
    stage.Render(time);
    ASSERT_EQ(stage.renderer.draws.size(), 1u);
    const std::vector<TLVertex>& v = stage.renderer.draws[0].vertices;
    EXPECT_EQ(v[0].diffuse, 0x00FFFFFFu) << time;
    EXPECT_EQ(v[1].diffuse, 0x00FDFDFDu) << time;
    EXPECT_EQ(v[2].diffuse, 0x00FDFDFDu) << time;
  }
}

TEST(Player, ARefusedSceneNeverReachesThePipeline) {
  // Face index 7 in a list of 3 vertices: the importer refuses the file.
  SceneSpec spec;
  spec.positions = {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}};
  spec.faces = {{{0, 1, 7}}};
  testing::internal::CaptureStderr();
  Stage stage(Build(spec).bytes(), /*expectPlayable=*/false);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("nothing will be drawn"), std::string::npos) << log;
  EXPECT_EQ(stage.player->workVertices, nullptr);
  EXPECT_EQ(stage.Render(0), "");
  EXPECT_EQ(stage.Render(5000), "");
  EXPECT_EQ(stage.renderer.flushCalls, 0);
  EXPECT_TRUE(stage.renderer.events.empty());
  EXPECT_TRUE(stage.renderer.uploads.empty());
}

}  // namespace

namespace {

TEST(Player, ARigidCornerOnTheEyePlaneIsCutAtTheNearPlaneOthersGoToTheDeviceAsTheyAre) {
  // Corner 0 at view z = 10 - zOffset, corners 1 and 2 at view z = 10.
  struct Case {
    float zOffset;
    int triangles;     // drawn
    bool nearClipped;  // cut here (every corner at or beyond the near plane)
  } cases[] = {
      {10.0f, 2, true},    // exactly on the eye plane: no finite screen position
      {10.5f, 1, false},   // behind the viewer: finite, the device clips it
      {9.95f, 1, false},   // nearer than the near plane but in front: the device clips it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zOffset);
    SceneSpec spec;
    spec.placed = true;
    spec.positions = {{{0, 0, c.zOffset}}, {{1, 0, 0}}, {{0, 1, 0}}};
    Stage stage(Build(spec).bytes());
    stage.Render(0);
    RecordingRenderer& r = stage.renderer;
    ASSERT_EQ(r.draws.size(), 1u);
    const std::vector<TLVertex>& v = r.draws[0].vertices;
    ASSERT_EQ(v.size(), 3u * c.triangles);
    for (const TLVertex& t : v) {
      EXPECT_TRUE(std::isfinite(t.x) && std::isfinite(t.y) && std::isfinite(t.z) && std::isfinite(t.rhw));
      if (c.nearClipped) {
        EXPECT_GE(t.z, -1e-6f);
        EXPECT_GT(t.rhw, 0.0f);
      }
    }
    if (c.nearClipped) {
      // The far corners are kept as projected; the cut ends lie on the near plane.
      int onNear = 0;
      for (const TLVertex& t : v) onNear += std::fabs(t.rhw - 10.0f) < 1e-3f;
      EXPECT_GE(onNear, 2);
    } else {
      EXPECT_FLOAT_EQ(v[0].rhw, 1.0f / (10.0f - c.zOffset));
    }
  }
}

}  // namespace
