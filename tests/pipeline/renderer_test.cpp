// The renderer's batch and its texture-change rule.
#include <gtest/gtest.h>

#include <string.h>

#include "RecordingRenderer.h"

namespace {

// Three consecutive records whose TLVertex parts carry the triangle number, and
// whose view-space tails carry garbage that must not reach the batch.
void MakeTriangle(ClipVertex (&tri)[3], int n) {
  memset(tri, 0xAB, sizeof tri);
  for (int j = 0; j < 3; ++j) {
    tri[j].tl = TLVertex{float(n), float(j), 0.5f, 1.0f, 0x00123456u, 0.25f, 0.75f};
  }
}

TEST(RendererBatch, StartsEmptyAndCopiesOnlyTheLeadingVertexOfEachRecord) {
  RecordingRenderer r;
  EXPECT_EQ(r.TriangleCapacity, 256);
  EXPECT_EQ(r.TriangleCount, 0);
  EXPECT_EQ(r.CurrentTexture0, -1);
  EXPECT_EQ(r.CurrentTexture1, -1);

  ClipVertex tri[3];
  MakeTriangle(tri, 7);
  r.AddTriangle(tri);
  ASSERT_EQ(r.TriangleCount, 1);
  for (int j = 0; j < 3; ++j) {
    EXPECT_EQ(memcmp(&r.Vertices[j], &tri[j].tl, sizeof(TLVertex)), 0) << j;
  }
  // Records are 44 bytes apart, batch vertices 28.
  EXPECT_EQ(r.Vertices[2].y, 2.0f);

  // An empty flush draws nothing; a flush with triangles draws them once.
  r.Flush();
  r.Flush();
  ASSERT_EQ(r.draws.size(), 1u);
  EXPECT_EQ(r.draws[0].vertices.size(), 3u);
  EXPECT_EQ(r.flushCalls, 2);
}

TEST(RendererBatch, The256thTriangleDrawsAllAtOnceAndLeavesTheBatchEmpty) {
  RecordingRenderer r;
  ClipVertex tri[3];
  for (int i = 0; i < 255; ++i) {
    MakeTriangle(tri, i);
    r.AddTriangle(tri);
  }
  EXPECT_TRUE(r.draws.empty());
  EXPECT_EQ(r.TriangleCount, 255);
  MakeTriangle(tri, 255);
  r.AddTriangle(tri);
  ASSERT_EQ(r.draws.size(), 1u);
  ASSERT_EQ(r.draws[0].vertices.size(), 256u * 3);
  EXPECT_EQ(r.draws[0].vertices[255 * 3].x, 255.0f);
  EXPECT_EQ(r.TriangleCount, 0);
  // The 257th starts a new batch.
  r.AddTriangle(tri);
  EXPECT_EQ(r.TriangleCount, 1);
  EXPECT_EQ(r.draws.size(), 1u);
}

TEST(RendererTextures, ChangeFlushesThenStoresThenSelectsOnlyTheChangedStage) {
  RecordingRenderer r;
  ClipVertex tri[3];
  MakeTriangle(tri, 0);

  // Same indices as current: neither flush nor select.
  r.SetTextures(-1, -1);
  EXPECT_TRUE(r.events.empty());

  r.AddTriangle(tri);
  r.SetTextures(3, -1);
  ASSERT_EQ(r.events.size(), 2u);
  EXPECT_EQ(r.events[0].kind, RecordedEvent::kFlush);
  EXPECT_EQ(r.events[0].a, 1);
  EXPECT_EQ(r.events[1].kind, RecordedEvent::kSelect);
  EXPECT_EQ(r.events[1].a, 3);
  EXPECT_EQ(r.events[1].b, 0);
  // The batch was drawn with the old textures.
  ASSERT_EQ(r.draws.size(), 1u);
  EXPECT_EQ(r.draws[0].texture0, -1);
  EXPECT_EQ(r.CurrentTexture0, 3);

  // Only stage 1 changes: one flush, one selection on stage 1.
  r.events.clear();
  r.AddTriangle(tri);
  r.SetTextures(3, 5);
  ASSERT_EQ(r.events.size(), 2u);
  EXPECT_EQ(r.events[0].kind, RecordedEvent::kFlush);
  EXPECT_EQ(r.events[1].kind, RecordedEvent::kSelect);
  EXPECT_EQ(r.events[1].a, 5);
  EXPECT_EQ(r.events[1].b, 1);
  EXPECT_EQ(r.draws.back().texture0, 3);
  EXPECT_EQ(r.draws.back().texture1, -1);

  // Both change: the second flush finds the batch empty.
  r.events.clear();
  r.AddTriangleWithTextures(tri, 4, 6);
  ASSERT_EQ(r.events.size(), 4u);
  EXPECT_EQ(r.events[0].kind, RecordedEvent::kFlush);
  EXPECT_EQ(r.events[1].kind, RecordedEvent::kSelect);
  EXPECT_EQ(r.events[2].kind, RecordedEvent::kFlush);
  EXPECT_EQ(r.events[2].a, 0);
  EXPECT_EQ(r.events[3].kind, RecordedEvent::kSelect);
  EXPECT_EQ(r.TriangleCount, 1);
  EXPECT_EQ(r.CurrentTexture0, 4);
  EXPECT_EQ(r.CurrentTexture1, 6);
}

TEST(RendererLifetime, DestroyingWithABatchDiscardsItAndLogs) {
  auto* r = new RecordingRenderer;
  ClipVertex tri[3];
  MakeTriangle(tri, 0);
  r->AddTriangle(tri);
  testing::internal::CaptureStderr();
  Renderer* base = r;
  delete base;  // must not call the (already destroyed) derived Flush
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nRenderer destruktor");
}

// An implementation whose Flush forgets to empty the batch must not make the
// base class write past its 256 triangles.
class ForgetfulRenderer : public RecordingRenderer {
 public:
  void Flush() override { ++flushCalls; }
};

TEST(RendererBatch, AFlushThatLeavesTheBatchFullNeverLeadsToAWritePastIt) {
  ForgetfulRenderer r;
  ClipVertex tri[3];
  MakeTriangle(tri, 1);
  for (int i = 0; i < 600; ++i) r.AddTriangle(tri);
  EXPECT_GE(r.TriangleCount, 0);
  EXPECT_LT(r.TriangleCount, r.TriangleCapacity + 1);
}

}  // namespace
