// vefexport's speed: a generated skinned grid of about 100,000 triangles over
// 60 s at 25 fps, and the CesiumMan walk cycle. Each run loads the model (the
// generated one from glTF bytes in memory), converts it and writes the scene
// file; counters report output frames per second and the file size.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Export.h"
#include "Model.h"

namespace ve = vefexport;

namespace {

// A 224 x 224 vertex grid (99,458 triangles) skinned to a chain of four
// joints that sway about z, keyed every 0.25 s for 60 s, as a glTF JSON file
// with one data-URI buffer.
std::string SkinnedGrid() {
  const int n = 224, joints = 4, keys = 241;
  std::vector<uint8_t> bin;
  auto put = [&](const void* p, size_t bytes) {
    const size_t at = bin.size();
    bin.resize(at + bytes);
    std::memcpy(bin.data() + at, p, bytes);
    while (bin.size() % 4) bin.push_back(0);
    return std::to_string(at) + ",\"byteLength\":" + std::to_string(bytes);
  };
  std::vector<float> pos, w;
  std::vector<uint16_t> jt;
  std::vector<uint32_t> idx;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      const float fy = 2.0f * y / (n - 1);
      pos.insert(pos.end(), {2.0f * x / (n - 1) - 1, fy, 0.1f * std::sin(x * 0.2f)});
      const float seg = fy / 2 * (joints - 1);
      const int j = std::min(int(seg), joints - 2);
      const float t = seg - j;
      jt.insert(jt.end(), {uint16_t(j), uint16_t(j + 1), 0, 0});
      w.insert(w.end(), {1 - t, t, 0, 0});
    }
  for (int y = 0; y + 1 < n; ++y)
    for (int x = 0; x + 1 < n; ++x) {
      const uint32_t a = uint32_t(y * n + x), b = a + 1, c = a + uint32_t(n), d = c + 1;
      idx.insert(idx.end(), {a, b, d, a, d, c});
    }
  std::vector<float> ibm, times, rot;
  for (int j = 0; j < joints; ++j)
    ibm.insert(ibm.end(), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -2.0f * j / (joints - 1), 0, 1});
  for (int k = 0; k < keys; ++k) {
    times.push_back(k * 0.25f);
    const float a = 0.2f * std::sin(k * 0.3f);
    rot.insert(rot.end(), {0, 0, std::sin(a / 2), std::cos(a / 2)});
  }
  std::string views, acc;
  int nv = 0;
  auto view = [&](const void* p, size_t bytes, const char* comp, int count, const char* type) {
    views += std::string(nv ? "," : "") + "{\"buffer\":0,\"byteOffset\":" + put(p, bytes) + "}";
    acc += std::string(nv ? "," : "") + "{\"bufferView\":" + std::to_string(nv) + ",\"componentType\":" + comp +
           ",\"count\":" + std::to_string(count) + ",\"type\":\"" + type + "\"}";
    return nv++;
  };
  view(pos.data(), pos.size() * 4, "5126", n * n, "VEC3");
  view(jt.data(), jt.size() * 2, "5123", n * n, "VEC4");
  view(w.data(), w.size() * 4, "5126", n * n, "VEC4");
  view(idx.data(), idx.size() * 4, "5125", int(idx.size()), "SCALAR");
  view(ibm.data(), ibm.size() * 4, "5126", joints, "MAT4");
  view(times.data(), times.size() * 4, "5126", keys, "SCALAR");
  view(rot.data(), rot.size() * 4, "5126", keys, "VEC4");
  static const char* k64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string b64;
  for (size_t i = 0; i < bin.size(); i += 3) {
    const uint32_t v = uint32_t(bin[i]) << 16 | (i + 1 < bin.size() ? uint32_t(bin[i + 1]) << 8 : 0) |
                       (i + 2 < bin.size() ? bin[i + 2] : 0);
    b64 += k64[v >> 18 & 63];
    b64 += k64[v >> 12 & 63];
    b64 += i + 1 < bin.size() ? k64[v >> 6 & 63] : '=';
    b64 += i + 2 < bin.size() ? k64[v & 63] : '=';
  }
  std::string nodes = "{\"mesh\":0,\"skin\":0},{\"children\":[2]}";
  for (int j = 1; j < joints; ++j)
    nodes += ",{\"translation\":[0," + std::to_string(j == 1 ? 0.0 : 2.0 / (joints - 1)) + ",0]" +
             (j + 1 < joints ? ",\"children\":[" + std::to_string(j + 2) + "]" : "") + "}";
  nodes += ",{\"translation\":[0," + std::to_string(2.0 / (joints - 1)) + ",0]}";
  std::string channels, samplers;
  for (int j = 0; j < joints; ++j) {
    samplers += std::string(j ? "," : "") + "{\"input\":5,\"output\":6}";
    channels += std::string(j ? "," : "") + "{\"sampler\":" + std::to_string(j) + ",\"target\":{\"node\":" +
                std::to_string(j + 1) + ",\"path\":\"rotation\"}}";
  }
  std::string jointList;
  for (int j = 0; j < joints; ++j) jointList += std::string(j ? "," : "") + std::to_string(j + 1);
  return "{\"asset\":{\"version\":\"2.0\"},\"scenes\":[{\"nodes\":[0,1]}],\"buffers\":[{\"byteLength\":" +
         std::to_string(bin.size()) + ",\"uri\":\"data:application/octet-stream;base64," + b64 +
         "\"}],\"bufferViews\":[" + views + "],\"accessors\":[" + acc +
         "],\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0,\"JOINTS_0\":1,\"WEIGHTS_0\":2},\"indices\":3}]}]," +
         "\"skins\":[{\"joints\":[" + jointList + "],\"inverseBindMatrices\":4}],\"nodes\":[" + nodes +
         "],\"animations\":[{\"samplers\":[" + samplers + "],\"channels\":[" + channels + "]}]}";
}

void Convert(benchmark::State& state, const ve::Model& model, const ve::ExportOptions& options) {
  const std::string out = "/tmp/bench-vefexport-" + std::to_string(getpid()) + ".2vef";
  ve::ExportResult r;
  // The machine is shared: the rate is taken over this process's CPU time.
  timespec c0, c1;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
  for (auto _ : state) {
    std::string error;
    ve::ExportFailure failure;
    if (!ve::ExportScene(model, options, out, nullptr, &r, &error, &failure)) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
  std::remove(out.c_str());
  const double cpu = double(c1.tv_sec - c0.tv_sec) + 1e-9 * double(c1.tv_nsec - c0.tv_nsec);
  state.counters["frames"] = r.frames;
  state.counters["frames_per_cpu_s"] = double(r.frames) * double(state.iterations()) / cpu;
  state.counters["file_MB"] = double(r.bytes) / 1e6;
}

void BM_SkinnedGrid100kTriangles60s(benchmark::State& state) {
  const std::string json = SkinnedGrid();
  ve::Model model;
  std::string error;
  if (!ve::LoadGltfFromMemory(reinterpret_cast<const uint8_t*>(json.data()), json.size(), "generated grid", "",
                              &model, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  ve::ExportOptions o;
  o.seconds = 60;
  o.maxSize = 4ull << 30;
  Convert(state, model, o);
}
BENCHMARK(BM_SkinnedGrid100kTriangles60s)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_CesiumManWalkCycle(benchmark::State& state) {
  ve::Model model;
  std::string error;
  for (auto _ : state) {
    if (!ve::LoadModelFile(std::string(DEMO_SOURCE_DIR) + "/tests/data/models/CesiumMan/CesiumMan.gltf", &model, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    ve::ExportResult r;
    ve::ExportFailure failure;
    const std::string out = "/tmp/bench-cesium-" + std::to_string(getpid()) + ".2vef";
    if (!ve::ExportScene(model, ve::ExportOptions(), out, nullptr, &r, &error, &failure)) {
      state.SkipWithError(error.c_str());
      return;
    }
    state.counters["file_MB"] = double(r.bytes) / 1e6;
    std::remove(out.c_str());
  }
}
BENCHMARK(BM_CesiumManWalkCycle)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
