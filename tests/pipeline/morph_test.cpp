// The morph path: blending, the back-face test, clipping, colour and the print.
#include <gtest/gtest.h>

#include "PipelineStage.h"

namespace {

using vef::Float3;
using vef::Index3;

// Two frames of one morphing mesh under identity cameras. Positions are given
// in view space (the camera turns world z into -z, so they are written
// mirrored).
vef::SceneWriter MorphScene(const std::vector<Float3>& frame0, const std::vector<Float3>& frame1,
                            const std::vector<Index3>& faces, bool withUV = false) {
  vef::SceneWriter w;
  auto mirrored = [](std::vector<Float3> p) {
    for (Float3& v : p) v[2] = -v[2];
    return p;
  };
  vef::VertexListRecord l0, l1;
  l0.positions = mirrored(frame0);
  l1.positions = mirrored(frame1);
  const int32_t list0 = w.addVertexList(l0);
  const int32_t list1 = w.addVertexList(l1);
  const int32_t mat = w.addMaterial(vef::MaterialRecord{});
  vef::MeshRecord mesh;
  mesh.faces = faces;
  mesh.vertexList = list0;
  mesh.material = mat;
  if (withUV) {
    vef::UVListRecord uv;
    uv.coords = {{{0.0f, 1.0f}}, {{1.0f, 1.0f}}, {{0.0f, 0.0f}}};
    mesh.uvList = w.addUVList(uv);
    mesh.uvs.assign(faces.size(), Index3{{0, 1, 2}});
  }
  const int32_t m = w.addMesh(mesh);
  AddIdentityCameras(w, 2);
  const int32_t lists[2] = {list0, list1};
  for (int frame = 0; frame < 2; ++frame) {
    vef::KeyRecord key;
    key.frame = frame;
    key.object = true;
    key.mesh = m;
    key.morph = lists[frame];
    w.addKey(key);
  }
  return w;
}

const std::vector<Float3> kNear5{{{0, 0, 5}}, {{1, 0, 5}}, {{0, 1, 5}}};
const std::vector<Float3> kNear15{{{0, 0, 15}}, {{1, 0, 15}}, {{0, 1, 15}}};

TEST(Morph, AFaceInsideTheVolumeIsEmittedUnchangedInWhiteWithTheMorphingText) {
  Stage stage(MorphScene(kNear5, kNear15, {{{0, 1, 2}}}, /*withUV=*/true).bytes());
  RecordingRenderer& r = stage.renderer;
  EXPECT_EQ(stage.Render(0), "");
  ASSERT_EQ(r.prints.size(), 1u);
  EXPECT_EQ(r.prints[0].text, "morphing");
  EXPECT_EQ(r.prints[0].color, 0xFF0000u);
  EXPECT_EQ(r.prints[0].x, 0);
  EXPECT_EQ(r.prints[0].y, 100);
  // The print comes before the key's triangles are flushed.
  EXPECT_EQ(r.events.front().kind, RecordedEvent::kPrint);

  ASSERT_EQ(r.draws.size(), 1u);
  const std::vector<TLVertex>& v = r.draws[0].vertices;
  ASSERT_EQ(v.size(), 3u);
  const ScenePlayer& p = *stage.player;
  EXPECT_FLOAT_EQ(v[0].x, p.xCentre);
  EXPECT_FLOAT_EQ(v[1].x, p.xScale * 0.2f + p.xCentre);
  EXPECT_FLOAT_EQ(v[2].y, p.yScale * 0.2f + p.yCentre);
  for (const TLVertex& t : v) {
    EXPECT_FLOAT_EQ(t.rhw, 0.2f);
    EXPECT_EQ(t.diffuse, ScenePlayer::kMorphDiffuse);
  }
  EXPECT_EQ(v[1].u, 1.0f);
  EXPECT_EQ(v[1].v, 0.0f);
  EXPECT_EQ(v[2].v, 1.0f);

  // Half way to frame 1 the positions are blended: view z 10.
  r.draws.clear();
  stage.Render(5000);
  ASSERT_EQ(r.draws.size(), 1u);
  EXPECT_FLOAT_EQ(r.draws[0].vertices[0].rhw, 0.1f);
  EXPECT_EQ(r.prints.size(), 2u);  // once per frame that draws the key
}

TEST(Morph, FacesTurningClockwiseOrOfZeroAreaAreDropped) {
  const std::vector<Float3> pos{{{0, 0, 5}}, {{1, 0, 5}}, {{0, 1, 5}}, {{2, 0, 5}}};
  Stage stage(MorphScene(pos, pos, {{{0, 2, 1}}, {{0, 1, 3}}, {{0, 1, 2}}}).bytes());
  stage.Render(0);
  ASSERT_EQ(stage.renderer.draws.size(), 1u);
  EXPECT_EQ(stage.renderer.draws[0].vertices.size(), 3u);  // only face 2
}

TEST(Morph, NearPlaneCutsAFaceIntoAFanAndRemovesOneWhollyInFront) {
  // Corner 0 nearer than the near plane (but in front of the eye).
  const std::vector<Float3> crossing{{{0, 0, 0.05f}}, {{1, 0, 5}}, {{0, 1, 5}}};
  Stage stage(MorphScene(crossing, crossing, {{{0, 1, 2}}}).bytes());
  RecordingRenderer& r = stage.renderer;
  stage.Render(0);
  ASSERT_EQ(r.draws.size(), 1u);
  const std::vector<TLVertex>& v = r.draws[0].vertices;
  // Clipped: (cut 0-1, corner 1, corner 2, cut 2-0), emitted as (0, 1, 2), (0, 2, 3).
  ASSERT_EQ(v.size(), 6u);
  EXPECT_NEAR(v[0].rhw, 10.0f, 1e-3f);
  EXPECT_FLOAT_EQ(v[1].rhw, 0.2f);
  EXPECT_FLOAT_EQ(v[2].rhw, 0.2f);
  EXPECT_NEAR(v[5].rhw, 10.0f, 1e-3f);
  EXPECT_EQ(memcmp(&v[3], &v[0], sizeof(TLVertex)), 0);
  EXPECT_EQ(memcmp(&v[4], &v[2], sizeof(TLVertex)), 0);
  EXPECT_EQ(v[0].diffuse, ScenePlayer::kMorphDiffuse);  // white blended with white

  const std::vector<Float3> tooNear{{{0, 0, 0.1f}}, {{1, 0, 0.05f}}, {{0, 1, 0.02f}}};
  Stage gone(MorphScene(tooNear, tooNear, {{{0, 1, 2}}}).bytes());
  gone.Render(0);
  EXPECT_TRUE(gone.renderer.draws.empty());
  EXPECT_EQ(gone.renderer.flushCalls, 1);  // the key is still flushed
}

TEST(Morph, AFaceLargerThanTheScreenIsClippedToTheView) {
  // A big face at z 10 that reaches past the left, right and bottom edges.
  const std::vector<Float3> big{{{-100, -100, 10}}, {{100, -100, 10}}, {{0, 2, 10}}};
  Stage stage(MorphScene(big, big, {{{0, 1, 2}}}).bytes());
  stage.Render(0);
  ASSERT_EQ(stage.renderer.draws.size(), 1u);
  const std::vector<TLVertex>& v = stage.renderer.draws[0].vertices;
  ASSERT_GE(v.size(), 6u);
  for (const TLVertex& t : v) {
    EXPECT_GE(t.x, -0.01f);
    EXPECT_LE(t.x, 799.51f);
    EXPECT_GE(t.y, -0.01f);
    EXPECT_LE(t.y, 599.51f);
  }
}

}  // namespace
