// The 229-byte two-frame file: its exact bytes and what importing it yields.
#include <cstring>

#include "SceneTestUtil.h"

namespace {

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutF(std::vector<uint8_t>& b, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  Put32(b, v);
}
void Record(std::vector<uint8_t>& b, uint8_t type, uint8_t flags, uint32_t index) {
  b.push_back(type);
  b.push_back(flags);
  Put32(b, index);
}

// The file laid out by hand, field by field, independently of the writer.
std::vector<uint8_t> HandMadeSample() {
  std::vector<uint8_t> b;
  for (uint32_t v : {2u, 1u, 1u, 2u, 2u, 1u, 0u, 0u, 1u, 9u}) Put32(b, v);
  Record(b, 2, 0x00, 1);
  Put32(b, 3);
  for (float f : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f}) PutF(b, f);
  Record(b, 4, 0x2A, 2);
  Record(b, 1, 0x10, 3);
  Put32(b, 1);
  for (uint8_t i : {0, 0, 1, 0, 2, 0}) b.push_back(i);
  Put32(b, 1);
  Put32(b, 2);
  for (int frame = 0; frame < 2; ++frame) {
    Record(b, 3, 0x08, 4 + 2 * frame);
    Put32(b, frame);
    Put32(b, 0);
    Record(b, 3, 0x44, 5 + 2 * frame);
    Put32(b, frame);
    Put32(b, 0);
    Put32(b, 3);
    PutF(b, 0);
    PutF(b, 0);
    PutF(b, frame == 0 ? -10.f : -20.f);
  }
  Record(b, 7, 0x14, 8);
  b.push_back(255);
  b.push_back(255);
  b.push_back(255);
  PutF(b, 1.0f);
  PutF(b, 0);
  PutF(b, 0);
  PutF(b, 0);
  return b;
}

void ExpectVec(const Vec3& v, float x, float y, float z) {
  EXPECT_FLOAT_EQ(v.x, x);
  EXPECT_FLOAT_EQ(v.y, y);
  EXPECT_FLOAT_EQ(v.z, z);
}

}  // namespace

TEST(TwoFrameSample, WriterProducesTheDocumentedBytes) {
  std::vector<uint8_t> expected = HandMadeSample();
  ASSERT_EQ(expected.size(), 229u);
  EXPECT_EQ(vef::TwoFrameSample(), expected);
}

TEST(TwoFrameSample, ImportsToTheDocumentedScene) {
  Imported r = ImportBytes(vef::TwoFrameSample());
  Scene& s = *r.scene;
  ASSERT_TRUE(s.isPlayable()) << s.refusalReason();
  EXPECT_STREQ(s.refusalReason(), "");
  EXPECT_EQ(r.log, "\ntotal Objs:8");
  EXPECT_EQ(s.frameCount, 2u);
  EXPECT_EQ(s.cameraCount, 2u);
  EXPECT_EQ(s.maxVertexCount, 3u);
  EXPECT_FLOAT_EQ(s.frameDuration, 10000.0f);
  ASSERT_NE(s.frameSpans, nullptr);
  EXPECT_EQ(s.frameSpans[0].firstKey, 0);
  EXPECT_EQ(s.frameSpans[0].keyCount, 1);
  EXPECT_EQ(s.frameSpans[1].firstKey, 1);
  EXPECT_EQ(s.frameSpans[1].keyCount, 1);
  EXPECT_TRUE(SceneTestAccess::ImportStateReleased(s));

  ASSERT_EQ(s.cameras.count, 2);
  for (int i = 0; i < 2; ++i) {
    ExpectVec(s.cameras.items[i]->matrix.r0, 1, 0, 0);
    ExpectVec(s.cameras.items[i]->matrix.r2, 0, 0, -1);
  }
  EXPECT_EQ(s.cameras.items[0]->next, s.cameras.items[1]);
  EXPECT_EQ(s.cameras.items[1]->next, s.cameras.items[1]);

  ASSERT_EQ(s.keys.count, 2);
  EXPECT_EQ(s.keyFrameCount, 2);
  Key* k0 = s.keys.items[0];
  Key* k1 = s.keys.items[1];
  EXPECT_EQ(k0->kind, 1);
  EXPECT_EQ(k0->next, k1);
  EXPECT_EQ(k1->next, k1);
  ASSERT_EQ(s.meshes.count, 1);
  EXPECT_EQ(k0->mesh, s.meshes.items[0]);
  ExpectVec(k0->matrix.r2, 0, 0, -1);
  ExpectVec(k0->matrix.t, 0, 0, 10);
  ExpectVec(k1->matrix.t, 0, 0, 20);

  Mesh* mesh = s.meshes.items[0];
  EXPECT_EQ(mesh->vertexList, s.vertexLists.items[0]);
  EXPECT_EQ(mesh->material, s.materials.items[0]);
  EXPECT_EQ(mesh->uvList, nullptr);
  ExpectVec(mesh->faces[0].normal, 0, 0, 1);
  EXPECT_FLOAT_EQ(mesh->faces[0].planeD, 0.0f);
  for (int v = 0; v < 3; ++v) ExpectVec(mesh->vertexList->normals[v], 0, 0, 1);

  ASSERT_EQ(s.lights.count, 1);
  EXPECT_EQ(s.lights.items[0]->enabled, 1);
  EXPECT_FLOAT_EQ(s.lights.items[0]->color.g, 1.0f);
  ASSERT_NE(s.textures, nullptr);
  EXPECT_EQ(s.textures->count, 0);
}
