// Projection, clipping and triangle emission on hand-made vertices.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include "PipelineStage.h"

namespace {

class Geometry : public testing::Test {
 protected:
  Geometry() : stage(vef::TwoFrameSample()) {}

  ScenePlayer& P() { return *stage.player; }

  ClipVertex At(float x, float y, float z, uint32_t diffuse = 0) {
    ClipVertex r;
    memset(&r, 0, sizeof r);
    r.vx = x;
    r.vy = y;
    r.vz = z;
    r.tl.diffuse = diffuse;
    P().ProjectVertex(r);
    return r;
  }

  // The near plane as the morph path uses it.
  const ClipPlane& Near() { return P().planes[ScenePlayer::kNear]; }

  Stage stage;
};

TEST_F(Geometry, ScreenMappingFor800x600AndTheProjectionOfOneUnitAhead) {
  ScenePlayer& p = P();
  EXPECT_FLOAT_EQ(p.fov, 0.78539819f);
  EXPECT_NEAR(p.xScale, 965.1f, 0.05f);
  EXPECT_NEAR(p.yScale, -965.1f, 0.05f);
  EXPECT_NEAR(p.xCentre, 399.751f, 0.0005f);
  EXPECT_NEAR(p.yCentre, 299.751f, 0.0005f);
  EXPECT_NEAR(p.depthScale, -0.1000100f, 1e-7f);
  EXPECT_NEAR(p.depthOffset, 1.0001000f, 1e-7f);
  // The vertical field of view follows the aspect: tan(v/2) = (599.5/799.5) tan(pi/8).
  EXPECT_NEAR(tanf(p.verticalFov * 0.5f), 599.5f / 799.5f * tanf(0.78539819f * 0.5f), 1e-6f);

  ClipVertex r = At(0, 0, 1);
  EXPECT_FLOAT_EQ(r.tl.x, 399.751f);
  EXPECT_FLOAT_EQ(r.tl.y, 299.751f);
  EXPECT_NEAR(r.tl.z, 0.9000900f, 1e-7f);
  EXPECT_EQ(r.tl.rhw, 1.0f);
  EXPECT_EQ(r.clipFlags, 0);

  // Up in view space is up on the screen; depth 0 at nearZ, flags outside 0..1.
  EXPECT_LT(At(0, 1, 1).tl.y, r.tl.y);
  EXPECT_GT(At(1, 0, 1).tl.x, r.tl.x);
  ClipVertex nearest = At(0, 0, 0.1f);
  EXPECT_NEAR(nearest.tl.z, 0.0f, 1e-7f);
  EXPECT_EQ(nearest.clipFlags, 0);
  ClipVertex tooNear = At(0, 0, 0.05f);
  EXPECT_LT(tooNear.tl.z, 0.0f);
  EXPECT_EQ(tooNear.clipFlags, 16);
  EXPECT_EQ(At(0, 0, 2000.0f).clipFlags, 32);

  // The mapping follows the renderer's size at the next set-up.
  stage.renderer.width = 640;
  stage.renderer.height = 480;
  p.SetupProjection(p.fov);
  EXPECT_FLOAT_EQ(p.xCentre, 639.5f * 0.5f + 0.001f);
  EXPECT_FLOAT_EQ(p.yCentre, 479.5f * 0.5f + 0.001f);
}

TEST_F(Geometry, ClippingKeepsTheOrderOfOutputAndCutsAtThePlane) {
  ClipVertex out[8];
  // One corner inside (z = 1), two in front of the near plane: a triangle
  // of the inside corner and the two crossings, in edge order.
  {
    ClipVertex in[3] = {At(0, 0, 1), At(1, 0, -1), At(0, 1, -1)};
    ASSERT_EQ(P().ClipPolygon(in, 3, out, Near()), 3);
    EXPECT_EQ(out[0].vz, 1.0f);
    EXPECT_NEAR(out[1].vz, 0.1f, 1e-6f);  // on edge 0 -> 1
    EXPECT_FLOAT_EQ(out[1].vx, 0.45f);
    EXPECT_NEAR(out[2].vz, 0.1f, 1e-6f);  // closing edge 2 -> 0
    EXPECT_FLOAT_EQ(out[2].vy, 0.45f);
    // Screen fields are recomputed from the cut position.
    EXPECT_NEAR(out[1].tl.rhw, 10.0f, 1e-4f);
    EXPECT_NEAR(out[1].tl.z, 0.0f, 1e-6f);
  }
  // Two corners inside: a quadrilateral (in0, crossing 0-1, crossing 1-2, in2).
  {
    ClipVertex in[3] = {At(0, 0, 1), At(1, 0, -1), At(0, 1, 1)};
    ASSERT_EQ(P().ClipPolygon(in, 3, out, Near()), 4);
    EXPECT_EQ(out[0].vz, 1.0f);
    EXPECT_FLOAT_EQ(out[1].vx, 0.45f);
    EXPECT_FLOAT_EQ(out[2].vx, 0.45f);
    EXPECT_FLOAT_EQ(out[2].vy, 0.55f);
    EXPECT_EQ(out[3].vy, 1.0f);
    EXPECT_EQ(out[3].vz, 1.0f);
  }
  // A corner exactly on the plane is outside: it comes back as two crossing
  // points at its own position.
  {
    ClipVertex in[3] = {At(0, 0, 1), At(1, 0, 0.1f), At(0, 1, 1)};
    ASSERT_EQ(P().ClipPolygon(in, 3, out, Near()), 4);
    for (int k : {1, 2}) {
      EXPECT_FLOAT_EQ(out[k].vx, 1.0f) << k;
      EXPECT_FLOAT_EQ(out[k].vy, 0.0f) << k;
      EXPECT_FLOAT_EQ(out[k].vz, 0.1f) << k;
    }
  }
  // Wholly inside: unchanged, same order; wholly outside: nothing.
  {
    ClipVertex in[3] = {At(0, 0, 1), At(1, 0, 2), At(0, 1, 3)};
    ASSERT_EQ(P().ClipPolygon(in, 3, out, Near()), 3);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(memcmp(&out[k], &in[k], sizeof(ClipVertex)), 0) << k;
    ClipVertex behind[3] = {At(0, 0, 0.1f), At(1, 0, -2), At(0, 1, 0.05f)};
    EXPECT_EQ(P().ClipPolygon(behind, 3, out, Near()), 0);
  }
}

TEST_F(Geometry, CrossingColourDropsTheFractionPerChannel) {
  ClipVertex red = At(0, 0, 1, 0x00FF0000);
  ClipVertex blue = At(0, 0, 3, 0x000000FF);
  red.tl.u = 0.0f;
  blue.tl.u = 1.0f;
  red.tl.v = 1.0f;
  blue.tl.v = 0.5f;
  ClipVertex mid;
  P().InterpolateVertex(red, blue, mid, 0.5f);
  EXPECT_EQ(mid.tl.diffuse, 0x007F007Fu);
  EXPECT_EQ(mid.vz, 2.0f);
  EXPECT_EQ(mid.tl.u, 0.5f);
  EXPECT_EQ(mid.tl.v, 0.75f);
  EXPECT_EQ(mid.tl.rhw, 0.5f);

  // Through the clipper: the crossing of a red-to-blue edge at its middle.
  ClipVertex in[3] = {At(0, 0, -0.8f, 0x00FF0000), At(0, 1, 1.0f, 0x000000FF),
                      At(1, 0, 1.0f, 0x000000FF)};
  ClipVertex out[4];
  ASSERT_EQ(P().ClipPolygon(in, 3, out, Near()), 4);
  EXPECT_EQ(out[0].tl.diffuse, 0x007F007Fu);  // crossing 0 -> 1 at t = 0.5
  EXPECT_NEAR(out[0].vz, 0.1f, 1e-6f);
}

TEST_F(Geometry, DegeneratePolygonsAreLoggedAndProduceNothing) {
  ClipVertex in[3] = {At(0, 0, 1), At(1, 0, 1), At(0, 1, 1)};
  ClipVertex out[4];
  memset(out, 0x5A, sizeof out);
  testing::internal::CaptureStderr();
  EXPECT_EQ(P().ClipPolygon(in, 0, out, Near()), 0);
  EXPECT_EQ(P().ClipPolygon(in, 2, out, Near()), 0);
  P().EmitPolygon(in, 0);
  P().EmitPolygon(in, 1);
  P().EmitPolygon(in, 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nclipBUG\nKann gar nicht 1\nKann gar nicht 2");
  EXPECT_EQ(stage.renderer.TriangleCount, 0);
}

TEST_F(Geometry, PolygonsBecomeFansAroundTheThirdVertex) {
  ClipVertex poly[8];
  for (int i = 0; i < 8; ++i) poly[i] = At(float(i), 0, 1);
  auto emitted = [&](int n) {
    stage.renderer.Flush();
    stage.renderer.draws.clear();
    P().EmitPolygon(poly, n);
    stage.renderer.Flush();
    std::vector<int> order;
    if (!stage.renderer.draws.empty()) {
      for (const TLVertex& v : stage.renderer.draws[0].vertices) {
        order.push_back(int(lroundf((v.x - P().xCentre) / P().xScale)));
      }
    }
    return order;
  };
  EXPECT_EQ(emitted(3), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(emitted(4), (std::vector<int>{0, 1, 2, 0, 2, 3}));
  EXPECT_EQ(emitted(5), (std::vector<int>{0, 1, 2, 0, 2, 4, 4, 2, 3}));
  EXPECT_EQ(emitted(6), (std::vector<int>{0, 1, 2, 0, 2, 5, 5, 2, 4, 4, 2, 3}));
  testing::internal::CaptureStderr();
  EXPECT_EQ(emitted(7), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nKann auch nicht 7");
}

}  // namespace
