// Scene import speed: a 1,000,000-key scene imported and prepared, and a
// 100 MB scene file read. The files are generated into a temporary folder on
// first use and removed when the program ends.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "Scene.h"
#include "SceneWriter.h"

namespace {

// 500 meshes sharing one vertex list, 2000 frames, one rigid key per mesh and
// frame: 1,000,000 object keys with rotation and translation.
void AddAnimation(vef::SceneWriter& w, int meshCount, int frames, int32_t list) {
  std::vector<int32_t> meshes;
  vef::MaterialRecord material;
  material.diffuse = vef::ColorField::Bytes(200, 100, 50);
  const int32_t mat = w.addMaterial(material);
  for (int m = 0; m < meshCount; ++m) {
    vef::MeshRecord mesh;
    mesh.faces = {{{0, 1, 2}}, {{1, 3, 2}}};
    mesh.vertexList = list;
    mesh.material = mat;
    meshes.push_back(w.addMesh(mesh));
  }
  for (int f = 0; f < frames; ++f) {
    vef::KeyRecord cam;
    cam.camera = true;
    cam.frame = f;
    cam.matrix.angles = vef::Float3{{0.0f, 0.001f * f, 0.0f}};
    cam.matrix.translation = vef::Float3{{0.0f, 0.0f, 50.0f}};
    w.addKey(cam);
    for (int m = 0; m < meshCount; ++m) {
      vef::KeyRecord key;
      key.object = true;
      key.frame = f;
      key.mesh = meshes[m];
      key.matrix.angles = vef::Float3{{0.01f * m, 0.002f * f, 0.0f}};
      key.matrix.translation = vef::Float3{{float(m % 20), float(m / 20), float(f % 7)}};
      w.addKey(key);
    }
  }
  vef::LightRecord light;
  light.matrix = vef::MatrixBlock::Translation(0, 10, 0);
  w.addLight(light);
}

int32_t AddQuadList(vef::SceneWriter& w) {
  return w.addVertexList({{}, {}, {}, {{{0, 0, 0}}, {{1, 0, 0}}, {{0, 1, 0}}, {{1, 1, 0}}}});
}

struct Files {
  std::string dir, keys, large;
  uint64_t largeSize = 0;

  Files() {
    char tmpl[] = "/tmp/scene_bench_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) std::abort();
    dir = tmpl;
    keys = dir + "/keys.2vef";
    large = dir + "/large.2vef";
    {
      vef::SceneWriter w;
      AddAnimation(w, 500, 2000, AddQuadList(w));
      Write(w, keys);
    }
    {
      // The same animation plus big vertex lists, placed meshes and textures,
      // to about 100 MB.
      vef::SceneWriter w;
      const int32_t quad = AddQuadList(w);
      vef::VertexListRecord big;
      for (int i = 0; i < 60000; ++i) big.positions.push_back({{float(i % 300), float(i / 300), 0.0f}});
      vef::MeshRecord grid;
      for (uint16_t i = 0; i + 301 < 60000; i += 2) grid.faces.push_back({{i, uint16_t(i + 1), uint16_t(i + 300)}});
      grid.placement = vef::MatrixBlock::Translation(0, 0, 10);
      for (int n = 0; n < 24; ++n) {
        grid.vertexList = w.addVertexList(big);
        w.addMesh(grid);
      }
      vef::TextureRecord texture;
      texture.side = 256;
      texture.texels.assign(256 * 256, 0x7BEF);
      for (int n = 0; n < 280; ++n) w.addTexture(texture);
      AddAnimation(w, 500, 2000, quad);
      Write(w, large);
      largeSize = w.bytes().size();
    }
  }
  ~Files() {
    std::remove(keys.c_str());
    std::remove(large.c_str());
    rmdir(dir.c_str());
  }
  static void Write(const vef::SceneWriter& w, const std::string& path) {
    std::string error;
    if (!w.writeFile(path, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::abort();
    }
  }
};

Files& TheFiles() {
  static Files files;
  return files;
}

void ImportOnce(benchmark::State& state, const std::string& path) {
  // The import log goes to standard error; keep the benchmark output readable.
  auto scene = std::make_unique<Scene>();
  scene->importFile(path.c_str());
  state.PauseTiming();
  if (!scene->isPlayable()) state.SkipWithError(scene->refusalReason());
  scene.reset();
  state.ResumeTiming();
}

void BM_ImportAndPrepareMillionKeys(benchmark::State& state) {
  const std::string path = TheFiles().keys;
  for (auto _ : state) ImportOnce(state, path);
  state.counters["keys"] = 1000000;
}
BENCHMARK(BM_ImportAndPrepareMillionKeys)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Read100MBSceneFile(benchmark::State& state) {
  const std::string path = TheFiles().large;
  for (auto _ : state) ImportOnce(state, path);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(TheFiles().largeSize));
  state.counters["MB"] = static_cast<double>(TheFiles().largeSize) / 1e6;
}
BENCHMARK(BM_Read100MBSceneFile)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
