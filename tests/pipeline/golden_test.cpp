// The smallest complete scene played at three times, checked vertex by vertex.
//
// The scene (229 bytes): one triangle (0,0,0) (1,0,0) (0,1,0), white untextured
// material, no placement (so it is relit every frame), placed at z = -10 in
// frame 0 and z = -20 in frame 1 under identity cameras, one white light of
// intensity 1 at the origin. After loading the key matrices have rows
// (1,0,0) (0,1,0) (0,0,-1) and t = (0,0,10) and (0,0,20); the vertex normals
// are (0,0,1); frameDuration is 10000.
//
// Worked by hand, in float arithmetic:
//   800 x 600: xScale = 799.5 / (2 tan(pi/8)) = 965.08185, yScale = -965.08185,
//   centres 399.751 and 299.751; depthScale = 100 / -999.9 = -0.10001,
//   depthOffset = 1000 / 999.9 = 1.0001.
//   time 0: f 0, t 0: view z 10, rhw 0.1, z = 0.1 * -0.10001 + 1.0001 = 0.99009901.
//     x1 = 965.08185 * 0.1 + 399.751 = 496.25919, y2 = 299.751 - 96.508185 = 203.24283.
//     Light in object space (0,0,10): corner 0 cosine 10 * (1/10) = 1 -> 255;
//     corners 1, 2: 10 / sqrt(101) = 0.99503726 -> trunc(253.73) = 253.
//   time 5000: t = 0.5, view z = 0.5 * 10 + 0.5 * 20 = 15, rhw 1/15 = 0.066666670,
//     z = 0.99343270, x1 = 399.751 + 965.08185 / 15 = 464.08978, y2 = 235.41222;
//     corners 1, 2: 15 / sqrt(226) = 0.99778509 -> trunc(254.44) = 254.
//   time 9999: t = 0.9999 (float 0.99989998), s = 1 - t = 0.00010001659,
//     view z = s * 10 + t * 20 = 19.998999, rhw = 0.050002504, z = 0.99509925,
//     x1 = 448.00751, y2 = 251.49451; corners 1, 2: 0.99875218 -> 254.
// The light colour is 255 * (1/255) = 1.0 exactly in float, the material white.
#include <gtest/gtest.h>

#include "PipelineStage.h"

namespace {

struct Expected {
  float x, y, z, rhw;
  uint32_t diffuse;
};

void ExpectVertex(const TLVertex& got, const Expected& want, const char* what) {
  SCOPED_TRACE(what);
  EXPECT_FLOAT_EQ(got.x, want.x);
  EXPECT_FLOAT_EQ(got.y, want.y);
  EXPECT_FLOAT_EQ(got.z, want.z);
  EXPECT_FLOAT_EQ(got.rhw, want.rhw);
  EXPECT_EQ(got.diffuse, want.diffuse);
  // No UV list: texture coordinates are 0, never left over from anything.
  EXPECT_EQ(got.u, 0.0f);
  EXPECT_EQ(got.v, 0.0f);
}

TEST(Golden, TwoFrameSceneAtTimes0And5000And9999) {
  const std::vector<uint8_t> bytes = vef::TwoFrameSample();
  ASSERT_EQ(bytes.size(), 229u);
  Stage stage(bytes);
  RecordingRenderer& r = stage.renderer;

  const struct {
    uint32_t time;
    Expected v[3];
  } frames[] = {
      {0,
       {{399.751007f, 299.751007f, 0.990099013f, 0.100000001f, 0x00FFFFFF},
        {496.259186f, 299.751007f, 0.990099013f, 0.100000001f, 0x00FDFDFD},
        {399.751007f, 203.242828f, 0.990099013f, 0.100000001f, 0x00FDFDFD}}},
      {5000,
       {{399.751007f, 299.751007f, 0.993432701f, 0.0666666701f, 0x00FFFFFF},
        {464.089783f, 299.751007f, 0.993432701f, 0.0666666701f, 0x00FEFEFE},
        {399.751007f, 235.412216f, 0.993432701f, 0.0666666701f, 0x00FEFEFE}}},
      {9999,
       {{399.751007f, 299.751007f, 0.995099247f, 0.0500025041f, 0x00FFFFFF},
        {448.007507f, 299.751007f, 0.995099247f, 0.0500025041f, 0x00FEFEFE},
        {399.751007f, 251.494507f, 0.995099247f, 0.0500025041f, 0x00FEFEFE}}},
  };

  for (const auto& frame : frames) {
    SCOPED_TRACE(frame.time);
    r.draws.clear();
    r.events.clear();
    EXPECT_EQ(stage.Render(frame.time), "");
    // One key, one flush, one triangle; the untextured material selects nothing
    // because both stages are already -1.
    ASSERT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.events[0].kind, RecordedEvent::kFlush);
    ASSERT_EQ(r.draws.size(), 1u);
    EXPECT_EQ(r.draws[0].texture0, -1);
    EXPECT_EQ(r.draws[0].texture1, -1);
    ASSERT_EQ(r.draws[0].vertices.size(), 3u);
    ExpectVertex(r.draws[0].vertices[0], frame.v[0], "corner 0");
    ExpectVertex(r.draws[0].vertices[1], frame.v[1], "corner 1");
    ExpectVertex(r.draws[0].vertices[2], frame.v[2], "corner 2");
  }

  // Time 10000 is the last frame, whose key is its own partner: z 20 exactly.
  r.draws.clear();
  EXPECT_EQ(stage.Render(10000), "");
  ASSERT_EQ(r.draws.size(), 1u);
  EXPECT_FLOAT_EQ(r.draws[0].vertices[0].rhw, 0.05f);
  EXPECT_FLOAT_EQ(r.draws[0].vertices[1].x, 399.751007f + 965.081848f / 20.0f);
}

}  // namespace
