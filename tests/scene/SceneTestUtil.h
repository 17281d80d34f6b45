// Helpers for the scene tests: import bytes through a real file, capture the log.
#ifndef SCENE_TEST_UTIL_H
#define SCENE_TEST_UTIL_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Scene.h"
#include "SceneWriter.h"

// The one look behind Scene's public face: whether the import released its
// state (the record table, the file stream, the reader's bookkeeping).
struct SceneTestAccess {
  static bool ImportStateReleased(const Scene& s) {
    return s.recordTable == nullptr && s.stream == nullptr && s.importState == nullptr;
  }
};

struct Imported {
  std::unique_ptr<Scene> scene;
  std::string log;  // what the import wrote to the debug channel (UTF-8)
  std::string path;
};

inline std::string TempPath(const std::string& name) {
  static int counter = 0;
  return testing::TempDir() + "scene_" + std::to_string(getpid()) + "_" + std::to_string(counter++) +
         "_" + name;
}

// capture: collect the import's log in `log` (false: the caller captures).
inline Imported ImportBytes(const std::vector<uint8_t>& bytes, const std::string& name = "t.2vef",
                            bool capture = true) {
  Imported r;
  r.path = TempPath(name);
  std::string error;
  EXPECT_TRUE(vef::WriteFileAtomically(r.path, bytes, &error)) << error;
  r.scene = std::make_unique<Scene>();
  if (capture) testing::internal::CaptureStderr();
  r.scene->importFile(r.path.c_str());
  if (capture) r.log = testing::internal::GetCapturedStderr();
  std::remove(r.path.c_str());
  return r;
}

// Imports into a Scene built in reused storage. The Scene is about 4 MB; under
// AddressSanitizer each fresh allocation of that size costs milliseconds, which
// adds up in tests that import hundreds of files.
class ReusedScene {
 public:
  ReusedScene() : storage_(new unsigned char[sizeof(Scene)]) {}
  ~ReusedScene() { reset(); }
  // A fresh Scene that has imported `bytes`; valid until the next call.
  Scene& import(const std::vector<uint8_t>& bytes) {
    reset();
    const std::string path = TempPath("reused.2vef");
    std::string error;
    EXPECT_TRUE(vef::WriteFileAtomically(path, bytes, &error)) << error;
    scene_ = new (storage_.get()) Scene();
    scene_->importFile(path.c_str());
    std::remove(path.c_str());
    return *scene_;
  }

 private:
  void reset() {
    if (scene_ != nullptr) scene_->~Scene();
    scene_ = nullptr;
  }
  std::unique_ptr<unsigned char[]> storage_;
  Scene* scene_ = nullptr;
};

// A minimal playable scene around the records a test adds: `frames` camera keys
// (identity) and, per frame, one rigid key of a one-triangle mesh.
struct BaseScene {
  vef::SceneWriter w;
  int32_t list = 0, material = 0, mesh = 0;
  explicit BaseScene(int frames = 2, bool addKeys = true) {
    list = w.addVertexList({{}, {}, {}, {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}}});
    vef::MaterialRecord m;
    material = w.addMaterial(m);
    vef::MeshRecord me;
    me.faces = {{{0, 1, 2}}};
    me.vertexList = list;
    me.material = material;
    mesh = w.addMesh(me);
    for (int f = 0; f < frames; ++f) {
      vef::KeyRecord cam;
      cam.camera = true;
      cam.frame = f;
      w.addKey(cam);
      if (addKeys) {
        vef::KeyRecord key;
        key.object = true;
        key.frame = f;
        key.mesh = mesh;
        w.addKey(key);
      }
    }
  }
};

#endif
