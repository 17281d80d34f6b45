// The default content: a soundtrack whose decoded length is exactly what was
// synthesized (it is the demo's clock), a scene that imports as playable with
// every record variant, events on the beats, and the same bytes on every run.
#include <bass.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "Scene.h"
#include "SceneFormat.h"
#include "SceneGen.h"
#include "SceneReader.h"
#include "Soundtrack.h"

namespace {

std::string TempDir(const char* name) {
  std::string dir = std::string(::testing::TempDir()) + name + "-" + std::to_string(getpid());
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  return dir;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

TEST(Soundtrack, RendersTheTimelineAndEncodesGaplessly) {
  demogen::Timeline timeline;
  timeline.bars = 2;
  std::vector<int16_t> pcm = demogen::SynthesizeSoundtrack(timeline);
  ASSERT_EQ(pcm.size(), size_t(2 * demogen::kSamplesPerBar * 2));
  // Music, not silence, and never pinned at full scale.
  double sum = 0;
  int peak = 0;
  for (int16_t s : pcm) {
    sum += double(s) * s;
    peak = std::max(peak, std::abs(int(s)));
  }
  double rms = std::sqrt(sum / double(pcm.size()));
  EXPECT_GT(rms, 1000.0);
  EXPECT_LT(peak, 32767);
  // Both channels differ (the mix is stereo).
  bool stereo = false;
  for (size_t i = 0; i < pcm.size() && !stereo; i += 2) stereo = pcm[i] != pcm[i + 1];
  EXPECT_TRUE(stereo);

  std::vector<uint8_t> mp3, again;
  std::string error;
  ASSERT_TRUE(demogen::EncodeMp3(pcm, &mp3, &error)) << error;
  ASSERT_TRUE(demogen::EncodeMp3(demogen::SynthesizeSoundtrack(timeline), &again, &error)) << error;
  EXPECT_EQ(mp3, again) << "same piece, different bytes";
  // No ID3 tag in front: the first bytes are an MPEG frame header.
  ASSERT_GT(mp3.size(), 4u);
  EXPECT_EQ(mp3[0], 0xFF);
  EXPECT_EQ(mp3[1] & 0xE0, 0xE0);

  // The demo's clock divides by the length the audio library reports: it must
  // be exactly the synthesized samples (16-bit stereo), encoder delay and
  // padding removed.
  std::string dir = TempDir("soundtrack");
  ASSERT_TRUE(WriteBytes(dir + "/Sound.mp3", mp3));
  ASSERT_TRUE(BASS_Init(-2, 44100, 0, 0) || true);
  HSTREAM stream = BASS_StreamCreateFile(FALSE, (dir + "/Sound.mp3").c_str(), 0, 0, 0);
  ASSERT_NE(stream, 0u);
  EXPECT_EQ(BASS_StreamGetLength(stream), uint32_t(pcm.size() * 2));
}

TEST(Soundtrack, RefusesOddSampleCounts) {
  std::vector<uint8_t> mp3;
  std::string error;
  EXPECT_FALSE(demogen::EncodeMp3(std::vector<int16_t>(3, 0), &mp3, &error));
  EXPECT_NE(error.find("odd"), std::string::npos);
}

TEST(Timeline, BeatsFallOnFramesAndDemoTimes) {
  demogen::Timeline timeline;  // the full piece
  EXPECT_NEAR(timeline.Seconds(), 69.12, 1e-9);
  EXPECT_GE(double(timeline.FrameCount()) / timeline.Seconds(), 25.0);
  // The importer's frame duration, and the demo time of each beat as the
  // linear music clock gives it: beat b starts exactly at frame FrameOfBeat(b).
  const float frameDuration = 10000.0f / float(timeline.FrameCount() - 1);
  for (int beat = 0; beat <= timeline.Beats(); beat += 7) {
    double time = double(beat) * 10000.0 / double(timeline.Beats());
    EXPECT_NEAR(double(timeline.FrameOfBeat(beat)) * frameDuration, time, 1e-2) << "beat " << beat;
  }
}

// A scene of six bars: the intro and the first bars with drums.
class DefaultScene : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    timeline_.bars = 6;
    vef::SceneWriter writer;
    demogen::BuildScene(timeline_, &writer);
    bytes_ = new std::vector<uint8_t>(writer.bytes());
    path_ = new std::string(TempDir("scene") + "/scene.2vef");
    ASSERT_TRUE(WriteBytes(*path_, *bytes_));
    scene_ = new Scene();
    scene_->importFile(path_->c_str());
  }
  static void TearDownTestSuite() {
    delete scene_;
    delete bytes_;
    delete path_;
  }
  static demogen::Timeline timeline_;
  static std::vector<uint8_t>* bytes_;
  static std::string* path_;
  static Scene* scene_;
};
demogen::Timeline DefaultScene::timeline_;
std::vector<uint8_t>* DefaultScene::bytes_;
std::string* DefaultScene::path_;
Scene* DefaultScene::scene_;

TEST_F(DefaultScene, ImportsAsPlayableWithOneCameraPerFrame) {
  ASSERT_TRUE(scene_->isPlayable()) << scene_->refusalReason();
  EXPECT_EQ(scene_->frameCount, timeline_.FrameCount());
  EXPECT_EQ(uint32_t(scene_->cameras.count), scene_->frameCount);
  EXPECT_GE(scene_->lights.count, 2);
  for (uint32_t f = 0; f < scene_->frameCount; ++f) ASSERT_GT(scene_->frameSpans[f].keyCount, 0) << "frame " << f;
  // The camera moves.
  const Matrix& a = scene_->cameras.items[0]->matrix;
  const Matrix& b = scene_->cameras.items[scene_->frameCount - 1]->matrix;
  EXPECT_GT(std::fabs(a.t.x - b.t.x) + std::fabs(a.t.y - b.t.y) + std::fabs(a.t.z - b.t.z), 1.0f);
}

TEST_F(DefaultScene, UsesEveryKindOfRecordAndFlag) {
  ASSERT_TRUE(scene_->isPlayable()) << scene_->refusalReason();
  int rigid = 0, morph = 0, placed = 0, unplaced = 0, perFace = 0;
  for (int i = 0; i < scene_->keys.count; ++i) (scene_->keys.items[i]->kind == 2 ? morph : rigid)++;
  for (int i = 0; i < scene_->meshes.count; ++i) {
    const Mesh* m = scene_->meshes.items[i];
    (m->hasMatrix ? placed : unplaced)++;
    if (m->perFaceMaterial) {
      std::set<const Material*> used;
      for (int f = 0; f < m->faceCount; ++f) used.insert(m->faces[f].material);
      if (used.size() > 1) ++perFace;
    }
  }
  EXPECT_GT(rigid, 0);
  EXPECT_GT(morph, 0);
  EXPECT_GT(placed, 0);
  EXPECT_GT(unplaced, 0);
  EXPECT_GT(perFace, 0);
  int textured = 0, untextured = 0;
  for (int i = 0; i < scene_->materials.count; ++i) (scene_->materials.items[i]->texture ? textured : untextured)++;
  EXPECT_GT(textured, 0);
  EXPECT_GT(untextured, 0);

  // The record variants, as written in the file.
  namespace fmt = SceneFormat;
  vef::FileListing listing = vef::ReadRecords(*bytes_);
  EXPECT_TRUE(listing.problems.empty()) << listing.problems.front();
  std::set<std::pair<int, bool>> textures;  // (side, 16-bit)
  bool byteIndices = false, meshMatrixKey = false, ignoredByte = false;
  for (const vef::RecordInfo& r : listing.records) {
    if (r.type == fmt::kMesh && (r.flags & fmt::kMeshByteIndices)) byteIndices = true;
    if (r.type == fmt::kKey && (r.flags & fmt::kKeyObject) && (r.flags & fmt::kKeyNoMatrix)) meshMatrixKey = true;
    if (r.type == fmt::kKey && (r.flags & fmt::kKeyExtraByte)) ignoredByte = true;
    if (r.type == fmt::kTexture) {
      textures.insert({int(fmt::TextureSide(r.flags)), (r.flags & fmt::kTexRGB565) != 0});
    }
  }
  EXPECT_TRUE(byteIndices);
  EXPECT_TRUE(meshMatrixKey);
  EXPECT_TRUE(ignoredByte);
  for (int side : {32, 64, 128, 256})
    for (bool rgb565 : {false, true}) EXPECT_TRUE(textures.count({side, rgb565})) << side << (rgb565 ? " RGB565" : " paletted");
}

// The orb's largest radius (camera space, about its centre) in a frame.
float OrbSize(const Scene* scene, uint32_t frame) {
  const FrameSpan& span = scene->frameSpans[frame];
  for (int i = span.firstKey; i < span.firstKey + span.keyCount; ++i) {
    const Key* key = scene->keys.items[i];
    if (key->kind != 2) continue;
    const VertexList* list = key->morphVertices;
    float best = 0;
    for (int v = 0; v < list->count; ++v) {
      float dx = list->positions[v].x - key->matrix.t.x, dy = list->positions[v].y - key->matrix.t.y,
            dz = list->positions[v].z - key->matrix.t.z;
      best = std::max(best, std::sqrt(dx * dx + dy * dy + dz * dz));
    }
    return best;
  }
  return -1;
}

TEST_F(DefaultScene, TheOrbPulsesOnTheBeatsOnceTheDrumsPlay) {
  ASSERT_TRUE(scene_->isPlayable()) << scene_->refusalReason();
  // Bars 4 and 5 have drums: the spikes peak on each beat's first frame.
  int checked = 0;
  for (int beat = 17; beat < timeline_.Beats(); ++beat) {
    uint32_t on = timeline_.FrameOfBeat(beat);
    float peak = OrbSize(scene_, on), before = OrbSize(scene_, on - 1), after = OrbSize(scene_, on + 3);
    if (peak < 0 || before < 0 || after < 0) continue;  // out of view
    EXPECT_GT(peak, before * 1.05f) << "beat " << beat;
    EXPECT_GT(peak, after) << "beat " << beat;
    ++checked;
  }
  EXPECT_GT(checked, 2);
}

TEST(Demogen, SameBytesOnEveryRunAndClearErrors) {
  const std::string tool = std::string(DEMO_BINARY_DIR) + "/tools/demogen/demogen";
  std::string a = TempDir("gen-a"), b = TempDir("gen-b");
  ASSERT_EQ(std::system((tool + " --bars 2 '" + a + "' >/dev/null").c_str()), 0);
  ASSERT_EQ(std::system((tool + " --bars 2 '" + b + "' >/dev/null").c_str()), 0);
  for (const char* name : {"/scene.2vef", "/Sound.mp3"}) {
    std::vector<uint8_t> x, y;
    std::string error;
    ASSERT_TRUE(vef::ReadWholeFile(a + name, &x, &error)) << error;
    ASSERT_TRUE(vef::ReadWholeFile(b + name, &y, &error)) << error;
    EXPECT_FALSE(x.empty());
    EXPECT_EQ(x, y) << name << " differs between runs";
  }
  // An output folder that cannot be made: a message naming it, non-zero exit.
  std::string blocker = a + "/scene.2vef/sub";
  std::string log = a + "/log.txt";
  EXPECT_NE(std::system((tool + " '" + blocker + "' 2>'" + log + "'").c_str()), 0);
  std::vector<uint8_t> text;
  std::string error;
  ASSERT_TRUE(vef::ReadWholeFile(log, &text, &error));
  EXPECT_NE(std::string(text.begin(), text.end()).find(blocker), std::string::npos);
  EXPECT_NE(std::system((tool + " --bars 99 '" + a + "' 2>/dev/null").c_str()), 0);
}

}  // namespace
