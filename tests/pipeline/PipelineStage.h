// Scenes for the pipeline tests: written with the scene-file writer, read by the
// real importer, played into a recording renderer.
#ifndef TESTS_PIPELINE_PIPELINESTAGE_H
#define TESTS_PIPELINE_PIPELINESTAGE_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "RecordingRenderer.h"
#include "Scene.h"
#include "SceneWriter.h"
#include "ScenePlayer.h"

// Writes `bytes` to a scratch file and imports it into a fresh scene.
inline Scene* ImportSceneBytes(const std::vector<uint8_t>& bytes) {
  static int serial = 0;
  const std::string path = testing::TempDir() + "pipeline_" + std::to_string(getpid()) + "_" +
                           std::to_string(serial++) + ".2vef";
  std::string error;
  EXPECT_TRUE(vef::WriteFileAtomically(path, bytes, &error)) << error;
  Scene* scene = new Scene;
  scene->importFile(path.c_str());
  std::remove(path.c_str());
  return scene;
}

// Camera keys with empty matrix blocks for frames 0 .. frames-1: after reading
// each maps world (x, y, z) to view (x, y, -z).
inline void AddIdentityCameras(vef::SceneWriter& w, int frames) {
  for (int frame = 0; frame < frames; ++frame) {
    vef::KeyRecord camera;
    camera.frame = frame;
    camera.camera = true;
    w.addKey(camera);
  }
}

// An object key of `frame` placing `mesh` by a translation.
inline void AddRigidKey(vef::SceneWriter& w, int frame, int32_t mesh, float x, float y, float z) {
  vef::KeyRecord key;
  key.frame = frame;
  key.object = true;
  key.mesh = mesh;
  key.matrix = vef::MatrixBlock::Translation(x, y, z);
  w.addKey(key);
}

// A recording renderer, a scene imported from bytes and a player on both; the
// scene is freed at the end.
struct Stage {
  RecordingRenderer renderer;
  Scene* scene = nullptr;
  std::unique_ptr<ScenePlayer> player;

  explicit Stage(const std::vector<uint8_t>& bytes, bool expectPlayable = true) {
    scene = ImportSceneBytes(bytes);
    EXPECT_EQ(scene->isPlayable(), expectPlayable) << scene->refusalReason();
    player.reset(new ScenePlayer(&renderer, scene));
  }
  ~Stage() {
    player.reset();
    delete scene;
  }
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  // Renders one frame, returning what was logged.
  std::string Render(uint32_t time) {
    testing::internal::CaptureStderr();
    player->Render(time);
    return testing::internal::GetCapturedStderr();
  }
};

#endif
