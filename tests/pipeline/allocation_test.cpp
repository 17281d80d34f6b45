// Render allocates nothing: this test program counts every operator new.
#include <gtest/gtest.h>

#include "CountingNew.h"
#include "PipelineStage.h"

namespace {

TEST(Allocation, RenderAllocatesNothingPerFrame) {
  // Rigid keys of an unplaced (relit), a placed and a per-face mesh, a morph
  // key that needs clipping, two lights and a texture.
  vef::SceneWriter w;
  vef::TextureRecord texture;
  texture.texels.assign(32 * 32, 0x1234);
  const int32_t tex = w.addTexture(texture);
  vef::VertexListRecord list;
  list.positions = {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}, {{1, 1, 0}}};
  const int32_t l = w.addVertexList(list);
  vef::VertexListRecord morph0, morph1;
  morph0.positions = {{{0, 0, -0.05f}}, {{1, 0, -5}}, {{0, 1, -5}}, {{1, 1, -5}}};
  morph1.positions = {{{0, 0, -1}}, {{1, 0, -6}}, {{0, 1, -6}}, {{1, 1, -6}}};
  const int32_t m0 = w.addVertexList(morph0);
  const int32_t m1 = w.addVertexList(morph1);
  vef::MaterialRecord textured;
  textured.texture = tex;
  const int32_t mt = w.addMaterial(textured);
  const int32_t mp = w.addMaterial(vef::MaterialRecord{});
  vef::MeshRecord unplaced;
  unplaced.faces = {{{0, 1, 2}}, {{2, 1, 3}}};
  unplaced.vertexList = l;
  unplaced.material = mt;
  const int32_t a = w.addMesh(unplaced);
  vef::MeshRecord placed = unplaced;
  placed.material = mp;
  placed.placement = vef::MatrixBlock::Translation(0, 0, 1);
  const int32_t b = w.addMesh(placed);
  vef::MeshRecord perFace = unplaced;
  perFace.runs = std::vector<vef::MaterialRun>{{1, mt}, {1, mp}};
  const int32_t c = w.addMesh(perFace);
  const int32_t d = w.addMesh(unplaced);  // keys link by mesh: the morph key has its own
  AddIdentityCameras(w, 2);
  for (int frame = 0; frame < 2; ++frame) {
    AddRigidKey(w, frame, a, 0, 0, -10.0f - frame);
    AddRigidKey(w, frame, b, 1, 0, -12.0f);
    AddRigidKey(w, frame, c, -1, 0, -12.0f);
    vef::KeyRecord key;
    key.frame = frame;
    key.object = true;
    key.mesh = d;
    key.morph = frame == 0 ? m0 : m1;
    w.addKey(key);
  }
  for (float x : {-5.0f, 5.0f}) {
    vef::LightRecord light;
    light.matrix = vef::MatrixBlock::Translation(x, 3, 0);
    w.addLight(light);
  }

  Scene* scene = ImportSceneBytes(w.bytes());
  ASSERT_TRUE(scene->isPlayable()) << scene->refusalReason();
  DiscardingRenderer renderer;
  {
    ScenePlayer player(&renderer, scene);
    player.Render(2500);  // warm-up: nothing is created lazily, but be fair
    const long before = gAllocations.load();
    for (uint32_t time = 0; time <= 10000; time += 250) player.Render(time);
    EXPECT_EQ(gAllocations.load() - before, 0);
    EXPECT_GT(renderer.triangles, 41 * 6);
  }
  delete scene;
}

}  // namespace
