// Frame pipeline throughput: Render on generated scenes into a renderer whose
// Flush discards the batch, so only the player and the batch copy are timed.
//
//   rigid: 1,000 keys per frame, each a 200-triangle grid of a mesh without its
//          own placement (relit every frame by 2 lights): 200,000 triangles.
//   morph: 50 morph keys per frame, each a 1,000-triangle grid with its own
//          vertex lists, some reaching past the screen edges: 50,000 triangles.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "RecordingRenderer.h"
#include "SceneWriter.h"
#include "ScenePlayer.h"

namespace {

// A grid of cols x rows cells, two counter-clockwise (on screen) triangles per
// cell, in the plane z = 0 of object space.
void Grid(int cols, int rows, float cell, std::vector<vef::Float3>* positions,
          std::vector<vef::Index3>* faces) {
  positions->clear();
  faces->clear();
  for (int y = 0; y <= rows; ++y) {
    for (int x = 0; x <= cols; ++x) positions->push_back({{x * cell, y * cell, 0.0f}});
  }
  auto at = [cols](int x, int y) { return static_cast<uint16_t>(y * (cols + 1) + x); };
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) {
      faces->push_back({{at(x, y), at(x + 1, y), at(x, y + 1)}});
      faces->push_back({{at(x, y + 1), at(x + 1, y), at(x + 1, y + 1)}});
    }
  }
}

void Cameras(vef::SceneWriter& w) {
  for (int frame = 0; frame < 2; ++frame) {
    vef::KeyRecord camera;
    camera.frame = frame;
    camera.camera = true;
    w.addKey(camera);
  }
}

Scene* Import(const vef::SceneWriter& w) {
  const std::string path = "/tmp/bench_pipeline_" + std::to_string(getpid()) + ".2vef";
  std::string error;
  if (!vef::WriteFileAtomically(path, w.bytes(), &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return nullptr;
  }
  Scene* scene = new Scene;
  scene->importFile(path.c_str());
  std::remove(path.c_str());
  if (!scene->isPlayable()) {
    std::fprintf(stderr, "generated scene refused: %s\n", scene->refusalReason());
    delete scene;
    return nullptr;
  }
  return scene;
}

Scene* RigidScene() {
  vef::SceneWriter w;
  std::vector<vef::Float3> positions;
  std::vector<vef::Index3> faces;
  Grid(10, 10, 0.1f, &positions, &faces);  // 121 vertices, 200 triangles
  const int32_t material = w.addMaterial(vef::MaterialRecord{});
  std::vector<int32_t> meshes;
  for (int i = 0; i < 10; ++i) {
    vef::VertexListRecord list;
    list.positions = positions;
    for (vef::Float3& p : list.positions) p[2] = 0.01f * i * p[0] * p[1];  // not all flat
    vef::MeshRecord mesh;
    mesh.faces = faces;
    mesh.vertexList = w.addVertexList(list);
    mesh.material = material;
    meshes.push_back(w.addMesh(mesh));
  }
  Cameras(w);
  for (int frame = 0; frame < 2; ++frame) {
    for (int k = 0; k < 1000; ++k) {
      vef::KeyRecord key;
      key.frame = frame;
      key.object = true;
      key.mesh = meshes[k % 10];
      key.matrix.angles = vef::Float3{{0.0f, 0.0f, 0.001f * k + 0.2f * frame}};
      key.matrix.translation =
          vef::Float3{{(k % 40 - 20) * 1.1f, (k / 40 - 12) * 1.1f, -40.0f - 2.0f * frame}};
      w.addKey(key);
    }
  }
  for (float x : {-30.0f, 30.0f}) {
    vef::LightRecord light;
    light.matrix = vef::MatrixBlock::Translation(x, 10.0f, 5.0f);
    w.addLight(light);
  }
  return Import(w);
}

Scene* MorphScene() {
  vef::SceneWriter w;
  std::vector<vef::Float3> positions;
  std::vector<vef::Index3> faces;
  Grid(20, 25, 0.2f, &positions, &faces);  // 546 vertices, 1,000 triangles
  const int32_t material = w.addMaterial(vef::MaterialRecord{});
  std::vector<int32_t> meshes, lists[2];
  for (int k = 0; k < 50; ++k) {
    // Ten across, five down; the outer ones reach past the screen edges.
    const float ox = (k % 10 - 5) * 5.0f, oy = (k / 10 - 2.5f) * 5.2f;
    for (int frame = 0; frame < 2; ++frame) {
      vef::VertexListRecord list;
      list.positions = positions;
      for (vef::Float3& p : list.positions) {
        p[0] += ox;
        p[1] += oy + 0.3f * frame;
        p[2] = -60.0f - 0.05f * (p[0] - ox) - 2.0f * frame;
      }
      lists[frame].push_back(w.addVertexList(list));
    }
    vef::MeshRecord mesh;
    mesh.faces = faces;
    mesh.vertexList = lists[0].back();
    mesh.material = material;
    meshes.push_back(w.addMesh(mesh));
  }
  Cameras(w);
  for (int frame = 0; frame < 2; ++frame) {
    for (int k = 0; k < 50; ++k) {
      vef::KeyRecord key;
      key.frame = frame;
      key.object = true;
      key.mesh = meshes[k];
      key.morph = lists[frame][k];
      w.addKey(key);
    }
  }
  return Import(w);
}

void Run(benchmark::State& state, Scene* scene, long long trianglesPerFrame) {
  if (scene == nullptr) {
    state.SkipWithError("the generated scene could not be loaded");
    return;
  }
  DiscardingRenderer renderer;
  {
    ScenePlayer player(&renderer, scene);
    uint32_t time = 1000;
    for (auto _ : state) {
      player.Render(time);
      time = time == 9000 ? 1000 : time + 500;  // always blending frame 0 into 1
    }
    state.SetItemsProcessed(state.iterations() * trianglesPerFrame);
    state.counters["drawn/frame"] =
        static_cast<double>(renderer.triangles) / static_cast<double>(state.iterations());
  }
  delete scene;
}

void BM_RenderRigidLit(benchmark::State& state) { Run(state, RigidScene(), 200000); }
void BM_RenderMorph(benchmark::State& state) { Run(state, MorphScene(), 50000); }

BENCHMARK(BM_RenderRigidLit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderMorph)->Unit(benchmark::kMillisecond);

}  // namespace
