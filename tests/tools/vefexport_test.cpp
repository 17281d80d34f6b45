// vefexport: animation maths against hand computations, scenes the importer
// accepts and the player draws where the camera maths says, the real models
// rendered against stored frames, and bad input refused cleanly.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Capture.h"
#include "Export.h"
#include "ExportPlan.h"
#include "Model.h"
#include "Pose.h"
#include "Scene.h"
#include "Texture.h"
#include "DemoTimeline.h"

namespace ve = vefexport;
namespace dc = democapture;

namespace {

const std::string kTool = std::string(DEMO_BINARY_DIR) + "/tools/vefexport/vefexport";
const std::string kCapture = std::string(DEMO_BINARY_DIR) + "/tools/democapture/democapture";
const std::string kGen = std::string(DEMO_BINARY_DIR) + "/tools/demogen/demogen";
const std::string kModels = std::string(DEMO_SOURCE_DIR) + "/tests/data/models";

// The player's projection (horizontal pi/4 over 799.5 pixels, centre offset 0.001).
const double kFocal = 799.5 / (2 * std::tan(M_PI / 8));
const double kCx = 799.5 / 2 + 0.001, kCy = 599.5 / 2 + 0.001;

std::string Dir(const char* name) {
  std::string dir = std::string(::testing::TempDir()) + "vefexport-" + name + "-" + std::to_string(getpid());
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  return dir;
}

int Shell(const std::string& command, std::string* output = nullptr) {
  const std::string log = std::string(::testing::TempDir()) + "vefexport-shell-" + std::to_string(getpid());
  const int status = std::system((command + " >'" + log + "' 2>&1").c_str());
  if (output) {
    std::ifstream in(log);
    std::stringstream s;
    s << in.rdbuf();
    *output = s.str();
  }
  std::remove(log.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Exists(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0;
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A small glTF written by hand: one binary buffer as a data URI, accessors
// appended as they are added.
struct Gltf {
  std::vector<uint8_t> bin;
  std::vector<std::string> views, accessors;

  template <typename T>
  int add(const std::vector<T>& v, int componentType, const char* type, int count, bool normalized = false) {
    while (bin.size() % 4) bin.push_back(0);
    const size_t off = bin.size(), bytes = v.size() * sizeof(T);
    bin.resize(off + bytes);
    std::memcpy(bin.data() + off, v.data(), bytes);
    views.push_back("{\"buffer\":0,\"byteOffset\":" + std::to_string(off) + ",\"byteLength\":" + std::to_string(bytes) + "}");
    accessors.push_back("{\"bufferView\":" + std::to_string(views.size() - 1) + ",\"componentType\":" +
                        std::to_string(componentType) + ",\"count\":" + std::to_string(count) + ",\"type\":\"" + type +
                        "\"" + (normalized ? ",\"normalized\":true" : "") + "}");
    return int(accessors.size() - 1);
  }
  int floats(const std::vector<float>& v, const char* type, int width) { return add(v, 5126, type, int(v.size()) / width); }

  // `body` holds the scene's own top-level members (nodes, meshes, ...).
  std::string json(const std::string& body) const {
    static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string b64;
    for (size_t i = 0; i < bin.size(); i += 3) {
      const uint32_t n = uint32_t(bin[i]) << 16 | (i + 1 < bin.size() ? uint32_t(bin[i + 1]) << 8 : 0) |
                         (i + 2 < bin.size() ? bin[i + 2] : 0);
      b64 += k[n >> 18 & 63];
      b64 += k[n >> 12 & 63];
      b64 += i + 1 < bin.size() ? k[n >> 6 & 63] : '=';
      b64 += i + 2 < bin.size() ? k[n & 63] : '=';
    }
    std::string s = "{\"asset\":{\"version\":\"2.0\"},\"buffers\":[{\"byteLength\":" + std::to_string(bin.size()) +
                    ",\"uri\":\"data:application/octet-stream;base64," + b64 + "\"}],\"bufferViews\":[";
    for (size_t i = 0; i < views.size(); ++i) s += (i ? "," : "") + views[i];
    s += "],\"accessors\":[";
    for (size_t i = 0; i < accessors.size(); ++i) s += (i ? "," : "") + accessors[i];
    return s + "]," + body + "}";
  }
};

const std::vector<float> kTriangle = {0, 0, 0, 1, 0, 0, 0, 1, 0};

// Imports a scene file with the demo's own importer.
std::unique_ptr<Scene> Import(const std::string& path) {
  auto scene = std::make_unique<Scene>();
  scene->importFile(path.c_str());
  EXPECT_TRUE(scene->isPlayable()) << scene->refusalReason();
  return scene;
}

// Every traced vertex (x, y) of the frame at demo time `time`.
std::vector<std::array<double, 2>> Trace(const std::string& scene, int time) {
  std::string out;
  EXPECT_EQ(Shell(kCapture + " --scene '" + scene + "' --trace " + std::to_string(time), &out), 0) << out;
  std::vector<std::array<double, 2>> v;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    double x, y;
    int i;
    if (std::sscanf(line.c_str(), " [%d] %lf %lf", &i, &x, &y) == 3) v.push_back({x, y});
  }
  return v;
}

bool Near(const std::vector<std::array<double, 2>>& got, double x, double y, double tol) {
  for (const auto& p : got)
    if (std::fabs(p[0] - x) < tol && std::fabs(p[1] - y) < tol) return true;
  return false;
}

}  // namespace

// The importer rebuilds rotations from three angles; every rotation must come
// back from the angles the exporter writes, gimbal lock included.
TEST(VefExport, EulerAnglesRebuildTheRotation) {
  std::vector<ve::Quat> qs = {{0, 0, 0, 1}, {0, 0.7071068, 0, 0.7071068}, {0, -0.7071068, 0, 0.7071068},
                              {0.3, 0.2, -0.5, 0.787}};
  for (int i = 0; i < 40; ++i) qs.push_back({std::sin(i * 1.3), std::cos(i * 0.7), std::sin(i * 2.1 + 1), std::cos(i)});
  for (ve::Quat q : qs) {
    const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (double& c : q) c /= n;
    const ve::Affine a = ve::Affine::FromTRS({0, 0, 0}, q, {1, 1, 1});
    const ve::Vec3 e = ve::EulerFromRows(a.r);
    Matrix m;
    m.SetRotation(float(e[0]), float(e[1]), float(e[2]));
    const Vec3* rows[3] = {&m.r0, &m.r1, &m.r2};
    for (int r = 0; r < 3; ++r) {
      EXPECT_NEAR(rows[r]->x, a.r[size_t(r)][0], 2e-6);
      EXPECT_NEAR(rows[r]->y, a.r[size_t(r)][1], 2e-6);
      EXPECT_NEAR(rows[r]->z, a.r[size_t(r)][2], 2e-6);
    }
  }
}

// Rotation keys: LINEAR takes the shorter arc even when the next key is stored
// with the opposite sign, and comes back normalised; CUBICSPLINE too.
TEST(VefExport, RotationKeysTakeTheShorterArc) {
  const double h = std::sqrt(0.5);  // 90 degrees about z is (0, 0, h, h); stored negated below
  ve::Channel c;
  c.path = ve::Path::kRotation;
  c.width = 4;
  c.times = {0, 1};
  c.values = {0, 0, 0, 1, 0, 0, float(-h), float(-h)};
  std::vector<double> q;
  ve::SampleChannel(c, 0.5, &q);
  const double angle = 2 * std::atan2(std::fabs(q[2]), std::fabs(q[3]));
  EXPECT_NEAR(angle, M_PI / 4, 1e-6);
  EXPECT_NEAR(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3], 1, 1e-12);
  c.interpolation = ve::Interpolation::kCubicSpline;  // zero tangents: smoothstep of the two values
  c.values = {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, float(h), float(h), 0, 0, 0, 0};
  ve::SampleChannel(c, 0.5, &q);
  EXPECT_NEAR(q[2] / q[3], 0.5 * h / (0.5 + 0.5 * h), 1e-6);
  EXPECT_NEAR(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3], 1, 1e-12);
}

// Texels: channels round to nearest into RGB565 ((c * max + 127) / 255), a
// down-sampled texel is the area average of what it covers, times the tint.
TEST(VefExport, TexelsRoundAndAverageAsDocumented) {
  EXPECT_EQ(ve::ToRgb565({255, 255, 255, 0, 0, 0, 128, 128, 128}),
            (std::vector<uint16_t>{0xFFFF, 0x0000, uint16_t(16 << 11 | 32 << 5 | 16)}));
  ve::Image im;
  im.width = 64;
  im.height = 64;
  im.rgba.resize(64 * 64 * 4);
  for (size_t i = 0; i < 64 * 64; ++i) im.rgba[4 * i] = (i % 2) ? 255 : 0;  // red stripes, one texel wide
  EXPECT_EQ(ve::TextureSide(im, 256), 64);
  EXPECT_EQ(ve::TextureSide(im, 32), 32);
  const std::vector<uint8_t> rgb = ve::ResampleRgb(im, 32, {1.0, 1.0, 0.5});
  for (size_t i = 0; i < 32 * 32; ++i) EXPECT_EQ(rgb[3 * i], 128) << i;  // 127.5 rounds up
}

// Linear colours to 8-bit sRGB, computed by hand: 1.055 v^(1/2.4) - 0.055 times
// 255 (0.738 -> 223.01, 0.364 -> 162.55, 0.048 -> 61.88) and 12.92 v below
// 0.0031308 (0.002 -> 6.59). A texel 188 (linear 0.50288) times 0.5 is 0.25144,
// encoded 137.32: the product is taken in linear light, not on the bytes (94).
TEST(VefExport, LinearColoursBecomeSrgb) {
  const struct {
    double linear;
    int srgb;
  } cases[] = {{0.738, 223}, {0.364, 163}, {0.048, 62}, {0.002, 7}, {0, 0}, {1, 255}, {-1, 0}, {2, 255}};
  for (const auto& c : cases) EXPECT_EQ(ve::LinearToSrgb8(c.linear), c.srgb) << c.linear;
  ve::Image im;
  im.width = im.height = 1;
  im.rgba = {188, 188, 188, 255};
  const std::vector<uint8_t> rgb = ve::ResampleRgb(im, 32, {0.5, 1.0, 0.0});
  EXPECT_EQ(rgb[0], 137);
  EXPECT_EQ(rgb[1], 188);
  EXPECT_EQ(rgb[2], 0);
}

// Three nodes moved by STEP, LINEAR and CUBICSPLINE samplers from x = 0 at
// 0 s to x = 4 at 1 s (cubic: out-tangent 8, in-tangent -2); the camera at
// (0, 0, 10) looks at the origin, so a node's view position is (x, y, 10 - z).
TEST(VefExport, SamplersPlaceNodesWhereTheSplineSays) {
  Gltf g;
  const int pos = g.floats(kTriangle, "VEC3", 3);
  const int in = g.floats({0, 1}, "SCALAR", 1);
  const int step = g.floats({0, 0, 0, 4, 0, 0}, "VEC3", 3);
  const int lin = g.floats({0, 1, 0, 4, 1, 0}, "VEC3", 3);
  const int cub = g.floats({0, 0, 0, 0, 2, 0, 8, 0, 0, -2, 0, 0, 4, 2, 0, 0, 0, 0}, "VEC3", 3);
  const std::string dir = Dir("samplers");
  WriteText(dir + "/m.gltf", g.json(
      "\"scenes\":[{\"nodes\":[0,1,2]}],\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":" + std::to_string(pos) + "}}]}],"
      "\"nodes\":[{\"mesh\":0},{\"mesh\":0,\"translation\":[0,1,0]},{\"mesh\":0,\"translation\":[0,2,0]}],"
      "\"animations\":[{\"samplers\":[{\"input\":" + std::to_string(in) + ",\"output\":" + std::to_string(step) + ",\"interpolation\":\"STEP\"},"
      "{\"input\":" + std::to_string(in) + ",\"output\":" + std::to_string(lin) + "},"
      "{\"input\":" + std::to_string(in) + ",\"output\":" + std::to_string(cub) + ",\"interpolation\":\"CUBICSPLINE\"}],"
      "\"channels\":[{\"sampler\":0,\"target\":{\"node\":0,\"path\":\"translation\"}},{\"sampler\":1,\"target\":{\"node\":1,\"path\":\"translation\"}},"
      "{\"sampler\":2,\"target\":{\"node\":2,\"path\":\"translation\"}}]}]"));
  std::string out;
  ASSERT_EQ(Shell(kTool + " '" + dir + "/m.gltf' -o '" + dir + "/s.2vef' --fps 4 --seconds 1.5 --eye 0,0,10 --target 0,0,0", &out), 0) << out;
  auto s = Import(dir + "/s.2vef");
  ASSERT_EQ(s->frameCount, 7u);  // 1.5 s at 4 fps, both ends: the last pose holds after 1 s
  auto cubic = [](double t) {
    const double s = std::min(t, 1.0), s2 = s * s, s3 = s2 * s;
    return (s3 - 2 * s2 + s) * 8 + (-2 * s3 + 3 * s2) * 4 + (s3 - s2) * -2;
  };
  for (uint32_t f = 0; f < s->frameCount; ++f) {
    const double t = f / 4.0;
    const double want[3] = {t < 1 ? 0.0 : 4.0, 4 * std::min(t, 1.0), cubic(t)};
    ASSERT_EQ(s->frameSpans[f].keyCount, 3);
    for (int n = 0; n < 3; ++n) {
      const Matrix& m = s->keys.items[s->frameSpans[f].firstKey + n]->matrix;
      EXPECT_NEAR(m.t.x, want[n], 1e-4) << "frame " << f << " node " << n;
      EXPECT_NEAR(m.t.y, n, 1e-4);
      EXPECT_NEAR(m.t.z, 10, 1e-4);
    }
  }
}

// A two-joint skin (byte joints, normalised byte weights) and a two-target
// morph with animated weights; the skin's shape never changes, so its mesh is
// shared by every frame and must still come through the importer once.
TEST(VefExport, SkinAndMorphGiveHandComputedPositions) {
  Gltf g;
  const int skinPos = g.floats({0, 0, 0, 2, 0, 0, 0, 1, 0}, "VEC3", 3);
  const int joints = g.add(std::vector<uint8_t>{0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0}, 5121, "VEC4", 3);
  const int weights = g.add(std::vector<uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 128, 127, 0, 0}, 5121, "VEC4", 3, true);
  const int ibm = g.floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -1, 0, 0, 1}, "MAT4", 16);
  const int morphPos = g.floats(kTriangle, "VEC3", 3);
  const int d0 = g.floats({0, 0, 1, 0, 0, 0, 0, 0, 0}, "VEC3", 3);
  const int d1 = g.floats({0, 0, 0, 2, 0, 0, 0, 0, -4}, "VEC3", 3);
  const int in = g.floats({0, 1}, "SCALAR", 1);
  const int w = g.floats({0, 0, 1, 0.5f}, "SCALAR", 1);
  auto n = [](int v) { return std::to_string(v); };
  const std::string dir = Dir("skin");
  WriteText(dir + "/m.gltf", g.json(
      "\"scenes\":[{\"nodes\":[0,1,3]}],"
      "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":" + n(skinPos) + ",\"JOINTS_0\":" + n(joints) +
      ",\"WEIGHTS_0\":" + n(weights) + "}}]},{\"primitives\":[{\"attributes\":{\"POSITION\":" + n(morphPos) +
      "},\"targets\":[{\"POSITION\":" + n(d0) + "},{\"POSITION\":" + n(d1) + "}]}]}],"
      "\"skins\":[{\"joints\":[1,2],\"inverseBindMatrices\":" + n(ibm) + "}],"
      "\"nodes\":[{\"mesh\":0,\"skin\":0},{\"children\":[2]},{\"translation\":[1,0,0],\"rotation\":[0,0,0.7071068,0.7071068]},"
      "{\"mesh\":1,\"translation\":[5,0,0]}],"
      "\"animations\":[{\"samplers\":[{\"input\":" + n(in) + ",\"output\":" + n(w) + "}],"
      "\"channels\":[{\"sampler\":0,\"target\":{\"node\":3,\"path\":\"weights\"}}]}]"));
  std::string out;
  ASSERT_EQ(Shell(kTool + " '" + dir + "/m.gltf' -o '" + dir + "/s.2vef' --fps 2 --eye 0,0,10 --target 0,0,0", &out), 0) << out;
  auto s = Import(dir + "/s.2vef");
  ASSERT_EQ(s->frameCount, 3u);
  // Skin: v1 = (2,0,0) -> joint 1 space (1,0,0) -> turned 90 degrees (0,1,0) -> (1,1,0);
  // v2 = (0,1,0): 128/255 of itself plus 127/255 of (0,-1,0) -> (0, 1/255, 0).
  // Morph at 0.5 s: weights (0.5, 0.25): v0 + (0,0,0.5), v1 + (0.5,0,0), v2 + (0,0,-1); node at x = 5.
  const double skin[3][3] = {{0, 0, 0}, {1, 1, 0}, {0, 1.0 / 255, 0}};
  const double morph[3][3] = {{5, 0, 0.5}, {6.5, 0, 0}, {5, 1, -1}};
  // Each frame's pose is a rigid mesh that its key places in view space.
  auto view = [](const Key* k, int v) {
    const Vec3& p = k->mesh->vertexList->positions[v];
    const Matrix& m = k->matrix;
    return std::array<double, 3>{p.x * m.r0.x + p.y * m.r1.x + p.z * m.r2.x + m.t.x,
                                 p.x * m.r0.y + p.y * m.r1.y + p.z * m.r2.y + m.t.y,
                                 p.x * m.r0.z + p.y * m.r1.z + p.z * m.r2.z + m.t.z};
  };
  for (uint32_t f = 0; f < 3; ++f) {
    const Key* ks = s->keys.items[s->frameSpans[f].firstKey];
    const Key* km = s->keys.items[s->frameSpans[f].firstKey + 1];
    ASSERT_EQ(ks->kind, 1);
    ASSERT_EQ(km->kind, 1);
    for (int v = 0; v < 3; ++v) {
      const auto p = view(ks, v);
      EXPECT_NEAR(p[0], skin[v][0], 1e-5);
      EXPECT_NEAR(p[1], skin[v][1], 1e-5);
      EXPECT_NEAR(p[2], 10 - skin[v][2], 1e-5);
    }
    if (f != 1) continue;
    for (int v = 0; v < 3; ++v) {
      const auto p = view(km, v);
      EXPECT_NEAR(p[0], morph[v][0], 1e-5);
      EXPECT_NEAR(p[1], morph[v][1], 1e-5);
      EXPECT_NEAR(p[2], 10 - morph[v][2], 1e-5);
    }
  }
  EXPECT_EQ(s->keys.items[s->frameSpans[0].firstKey]->mesh, s->keys.items[s->frameSpans[2].firstKey]->mesh);
  EXPECT_NE(s->keys.items[s->frameSpans[0].firstKey + 1]->mesh, s->keys.items[s->frameSpans[1].firstKey + 1]->mesh);
}

// What the player draws: with --eye/--target its own projection of the view
// position; with a model camera, that camera's vertical field of view over the
// screen's 599.5 pixel rows.
TEST(VefExport, CamerasProjectWhereTheHandComputationSays) {
  Gltf g;
  const int pos = g.floats({-1, -1, 0, 1, -1, 0, 0, 1, 0}, "VEC3", 3);
  const std::string dir = Dir("camera");
  auto n = [](int v) { return std::to_string(v); };
  WriteText(dir + "/m.gltf", g.json(
      "\"scenes\":[{\"nodes\":[0,1]}],\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":" + n(pos) + "}}]}],"
      "\"cameras\":[{\"type\":\"perspective\",\"perspective\":{\"yfov\":0.5,\"znear\":0.1}}],"
      "\"nodes\":[{\"mesh\":0},{\"camera\":0,\"translation\":[0,0,8]}]"));
  std::string out;
  ASSERT_EQ(Shell(kTool + " '" + dir + "/m.gltf' -o '" + dir + "/eye.2vef' --eye 3,2,10 --target 0,0,0", &out), 0) << out;
  ASSERT_EQ(Shell(kTool + " '" + dir + "/m.gltf' -o '" + dir + "/cam.2vef' --camera 0", &out), 0) << out;
  // The same triangle as an OBJ file goes through Assimp and lands in the same place.
  WriteText(dir + "/m.obj", "v -1 -1 0\nv 1 -1 0\nv 0 1 0\nf 1 2 3\n");
  ASSERT_EQ(Shell(kTool + " '" + dir + "/m.obj' -o '" + dir + "/obj.2vef' --eye 3,2,10 --target 0,0,0", &out), 0) << out;
  // Eye (3, 2, 10) looking at the origin, up +Y: forward f, right r = f x up, up u = r x f.
  const double e[3] = {3, 2, 10}, len = std::sqrt(9 + 4 + 100);
  const double f[3] = {-3 / len, -2 / len, -10 / len};
  double r[3] = {f[1] * 0 - f[2] * 1, f[2] * 0 - f[0] * 0, f[0] * 1 - f[1] * 0};
  const double rl = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
  for (double& c : r) c /= rl;
  const double u[3] = {r[1] * f[2] - r[2] * f[1], r[2] * f[0] - r[0] * f[2], r[0] * f[1] - r[1] * f[0]};
  const auto eyeTrace = Trace(dir + "/eye.2vef", 0);
  const auto camTrace = Trace(dir + "/cam.2vef", 0);
  const auto objTrace = Trace(dir + "/obj.2vef", 0);
  const double verts[3][3] = {{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}};
  for (const auto& p : verts) {
    const double d[3] = {p[0] - e[0], p[1] - e[1], p[2] - e[2]};
    const double vx = d[0] * r[0] + d[1] * r[1] + d[2] * r[2], vy = d[0] * u[0] + d[1] * u[1] + d[2] * u[2],
                 vz = d[0] * f[0] + d[1] * f[1] + d[2] * f[2];
    EXPECT_TRUE(Near(eyeTrace, kCx + kFocal * vx / vz, kCy - kFocal * vy / vz, 0.01)) << p[0] << "," << p[1];
    EXPECT_TRUE(Near(objTrace, kCx + kFocal * vx / vz, kCy - kFocal * vy / vz, 0.01)) << p[0] << "," << p[1];
    // Camera at (0, 0, 8) with a vertical field of view of 0.5 rad: 599.5 / 2 pixels per tan(0.25).
    const double k = 599.5 / 2 / std::tan(0.25);
    EXPECT_TRUE(Near(camTrace, kCx + k * p[0] / 8, kCy - k * p[1] / 8, 0.01)) << p[0] << "," << p[1];
  }
}

// The real models convert with their first animation, the importer accepts
// them, and three captured frames match the stored references.
TEST(VefExport, ModelsConvertAndPlay) {
  const std::string dir = Dir("models");
  ASSERT_EQ(Shell(kGen + " --bars 2 '" + dir + "'"), 0);
  const bool update = std::getenv("VEFEXPORT_UPDATE_REFS") != nullptr;
  const char* models[][2] = {{"BoxAnimated", "BoxAnimated/BoxAnimated.glb"},
                             {"CesiumMan", "CesiumMan/CesiumMan.gltf"},
                             {"MorphStressTest", "MorphStressTest/MorphStressTest.gltf"},
                             {"ShadowsSpot", "ShadowsSpot/shadows-spot.gltf"}};
  for (const auto& m : models) {
    SCOPED_TRACE(m[0]);
    const std::string scene = dir + "/" + m[0] + ".2vef";
    std::string out;
    ASSERT_EQ(Shell(kTool + " '" + kModels + "/" + m[1] + "' -o '" + scene + "'", &out), 0) << out;
    Import(scene);
    // One capture frame per second of the short soundtrack: three or more spread over the scene.
    const std::string png = dir + "/" + m[0];
    ASSERT_EQ(Shell(kCapture + " --scene '" + scene + "' --music '" + dir + "/Sound.mp3' --size 160x120 --fps 1 --png '" +
                    png + "'", &out), 0) << out;
    std::string list;
    ASSERT_EQ(Shell("ls '" + png + "'", &list), 0);
    std::istringstream names(list);
    std::string name;
    int frames = 0;
    while (names >> name) {
      ++frames;
      dc::Image got, want;
      std::string error;
      ASSERT_TRUE(dc::ReadPng(png + "/" + name, &got, &error)) << error;
      const std::string ref = kModels + "/refs/" + m[0] + "-" + name;
      if (update) {
        ASSERT_TRUE(dc::WritePng(ref, got, 9, &error)) << error;
      }
      ASSERT_TRUE(dc::ReadPng(ref, &want, &error)) << error;
      ASSERT_EQ(got.rgb.size(), want.rgb.size());
      double diff = 0;
      size_t lit = 0;
      for (size_t i = 0; i < got.rgb.size(); ++i) {
        diff += std::abs(int(got.rgb[i]) - int(want.rgb[i]));
        lit += got.rgb[i] > 8;
      }
      EXPECT_LT(diff / double(got.rgb.size()), 2.0) << name << " differs from " << ref;
      EXPECT_GT(lit, got.rgb.size() / 50) << name << " shows (almost) nothing";
    }
    EXPECT_GE(frames, 3);
  }
}

// A skinned and a morphing model are lit by the scene's lights: without the
// default key and fill light their pixels change (drawn unlit, they did not).
TEST(VefExport, BakedModelsAreLit) {
  const std::string dir = Dir("lit");
  ASSERT_EQ(Shell(kGen + " --bars 2 '" + dir + "'"), 0);
  auto frame = [&](const std::string& model, const std::string& options, int time) {
    const std::string scene = dir + "/s.2vef", png = dir + "/png";
    std::string out;
    EXPECT_EQ(Shell(kTool + " '" + kModels + "/" + model + "' -o '" + scene + "' " + options, &out), 0) << out;
    EXPECT_EQ(Shell("rm -rf '" + png + "' && " + kCapture + " --scene '" + scene + "' --music '" + dir +
                    "/Sound.mp3' --size 160x120 --from " + std::to_string(time) + " --to " + std::to_string(time + 200) +
                    " --fps 25 --png '" + png + "'", &out), 0) << out;
    dc::Image image;
    std::string error, name;
    EXPECT_EQ(Shell("ls '" + png + "' | head -1", &name), 0);
    name.erase(name.find_last_not_of('\n') + 1);
    EXPECT_TRUE(dc::ReadPng(png + "/" + name, &image, &error)) << error;
    return image.rgb;
  };
  auto changed = [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    size_t n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) n += std::abs(int(a[i]) - int(b[i])) > 24;
    return double(n) / double(a.size());
  };
  for (const char* model : {"CesiumMan/CesiumMan.gltf", "MorphStressTest/MorphStressTest.gltf"}) {
    SCOPED_TRACE(model);
    const auto lit = frame(model, "", 4000), dark = frame(model, "--no-default-lights", 4000);
    EXPECT_GT(changed(lit, dark), 0.01);
  }
}

// A looped character repeats its poses: four loops (CesiumMan's walk is 2 s)
// write the poses of one, not four times as many, and draw the same frames.
TEST(VefExport, LoopedPosesAreWrittenOnce) {
  const std::string dir = Dir("loops");
  auto size = [&](const char* seconds) {
    const std::string scene = dir + "/" + seconds + ".2vef";
    std::string out;
    EXPECT_EQ(Shell(kTool + " '" + kModels + "/CesiumMan/CesiumMan.gltf' --loop --seconds " + seconds + " -o '" +
                    scene + "'", &out), 0) << out;
    struct stat st;
    return stat(scene.c_str(), &st) == 0 ? double(st.st_size) : 0.0;
  };
  const double one = size("2"), four = size("8");
  ASSERT_GT(one, 0);
  EXPECT_LT(four, 1.3 * one);
}

// A model whose only light sits inside it (a carved pumpkin) is dark where the
// camera looks: the summary says so, and --add-lights adds the key and fill.
TEST(VefExport, LightsAViewerWouldGive) {
  std::vector<float> corners;
  for (int i = 0; i < 8; ++i)
    for (int k = 0; k < 3; ++k) corners.push_back((i >> k & 1) ? 1.0f : -1.0f);
  std::vector<uint16_t> tris;
  for (int axis = 0; axis < 3; ++axis)
    for (int side = 0; side < 2; ++side) {
      int q[4], n = 0;
      for (int i = 0; i < 8; ++i)
        if ((i >> axis & 1) == side) q[n++] = i;
      const std::array<std::array<int, 3>, 2> halves{{{q[0], q[1], q[3]}, {q[0], q[3], q[2]}}};
      for (const auto& t : halves) {
        // Turn each triangle to face outward.
        const float* a = &corners[3 * t[0]];
        const float* b = &corners[3 * t[1]];
        const float* c = &corners[3 * t[2]];
        const float e[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, f[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        const float nx = e[1] * f[2] - e[2] * f[1], ny = e[2] * f[0] - e[0] * f[2], nz = e[0] * f[1] - e[1] * f[0];
        const bool out = nx * (a[0] + b[0] + c[0]) + ny * (a[1] + b[1] + c[1]) + nz * (a[2] + b[2] + c[2]) > 0;
        tris.insert(tris.end(), {uint16_t(t[0]), uint16_t(out ? t[1] : t[2]), uint16_t(out ? t[2] : t[1])});
      }
    }
  Gltf g;
  const int pos = g.floats(corners, "VEC3", 3);
  const int idx = g.add(tris, 5123, "SCALAR", int(tris.size()));
  const std::string dir = Dir("lights");
  WriteText(dir + "/pumpkin.gltf",
            g.json("\"extensionsUsed\":[\"KHR_lights_punctual\"],"
                   "\"extensions\":{\"KHR_lights_punctual\":{\"lights\":[{\"type\":\"point\",\"intensity\":5}]}},"
                   "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":" + std::to_string(pos) +
                   "},\"indices\":" + std::to_string(idx) + "}]}],\"nodes\":[{\"mesh\":0},"
                   "{\"extensions\":{\"KHR_lights_punctual\":{\"light\":0}}}]"));
  std::string out;
  ASSERT_EQ(Shell(kTool + " '" + dir + "/pumpkin.gltf' -o '" + dir + "/own.2vef'", &out), 0) << out;
  EXPECT_NE(out.find("the model's lights reach 0 % of the surface in view"), std::string::npos) << out;
  EXPECT_EQ(Import(dir + "/own.2vef")->lights.count, 1);
  ASSERT_EQ(Shell(kTool + " '" + dir + "/pumpkin.gltf' -o '" + dir + "/added.2vef' --add-lights", &out), 0) << out;
  EXPECT_EQ(out.find("lights reach"), std::string::npos) << out;
  EXPECT_EQ(Import(dir + "/added.2vef")->lights.count, 3);
  EXPECT_EQ(Shell(kTool + " '" + dir + "/pumpkin.gltf' -o '" + dir + "/x.2vef' --add-lights --no-default-lights", &out), 2);
}

// Broken input: a clear message naming the file, exit code 2, no output file;
// a missing image is only a warning.
TEST(VefExport, BadInputIsRefusedCleanly) {
  const std::string dir = Dir("bad");
  Gltf g;
  const int pos = g.floats(kTriangle, "VEC3", 3);
  const std::string mesh = "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":" + std::to_string(pos) + "}}]}],\"nodes\":[{\"mesh\":0}]";
  std::string good = g.json(mesh);
  std::ifstream glb(kModels + "/BoxAnimated/BoxAnimated.glb", std::ios::binary);
  std::string box((std::istreambuf_iterator<char>(glb)), std::istreambuf_iterator<char>());
  auto replace = [](std::string s, const std::string& a, const std::string& b) { return s.replace(s.find(a), a.size(), b); };
  struct Case {
    const char* file;
    std::string content;
    int code;
    const char* message;
  } cases[] = {
      {"truncated.glb", box.substr(0, box.size() / 2), 2, "truncated.glb"},
      {"garbage.glb", replace(box, "\"accessors\"", "\"acc\x01ssors\""), 2, "garbage.glb"},
      {"corrupt.gltf", good.substr(0, good.size() - 40), 2, "corrupt.gltf"},
      {"nobuffer.gltf", replace(good, good.substr(good.find("data:"), good.find('"', good.find("data:")) - good.find("data:")), "absent.bin"), 2, "nobuffer.gltf"},
      {"absurd.gltf", replace(good, "\"count\":3", "\"count\":4000000000"), 2, "absurd"},
      {"overrun.gltf", replace(good, "\"count\":3", "\"count\":4"), 2, "do not fit"},
      {"badindex.gltf", replace(good, "\"nodes\":[{\"mesh\":0}]", "\"nodes\":[{\"mesh\":7}]"), 2, "mesh 7 does not exist"},
      {"noimage.gltf", replace(good, "\"nodes\"", "\"images\":[{\"uri\":\"absent.png\"}],\"textures\":[{\"source\":0}],"
                                                 "\"materials\":[{\"pbrMetallicRoughness\":{\"baseColorTexture\":{\"index\":0}}}],\"nodes\""),
       0, "absent.png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    WriteText(dir + "/" + c.file, c.content);
    std::string out;
    EXPECT_EQ(Shell(kTool + " '" + dir + "/" + c.file + "' -o '" + dir + "/out.2vef'", &out), c.code) << out;
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(Exists(dir + "/out.2vef"), c.code == 0);
    std::remove((dir + "/out.2vef").c_str());
  }
  // The size limit is checked before anything is written; bad options are usage errors.
  WriteText(dir + "/good.gltf", good);
  std::string out;
  EXPECT_EQ(Shell(kTool + " '" + dir + "/good.gltf' -o '" + dir + "/out.2vef' --max-size 100", &out), 1) << out;
  EXPECT_NE(out.find("--max-size"), std::string::npos) << out;
  EXPECT_EQ(Shell("ls '" + dir + "' | grep -c tmp", &out), 1) << out;  // no temporary file left
  EXPECT_EQ(Shell(kTool + " '" + dir + "/good.gltf' -o '" + dir + "/out.2vef' --eye 1,2", &out), 2) << out;
  EXPECT_EQ(Shell(kTool + " '" + dir + "/good.gltf' -o '" + dir + "/out.2vef' --camera 3", &out), 2) << out;
  EXPECT_FALSE(Exists(dir + "/out.2vef"));
}

// The converter's stages read alone: the name-or-index lookup, the parent
// table, the frame times, and the lights stage's test for animated lights.
TEST(VefExport, StagesReadAlone) {
  ve::Model m;
  m.file = "hand";
  m.animations.resize(3);
  m.animations[0].name = "a";
  m.animations[1].name = "2";
  m.animations[2].name = "a";
  EXPECT_EQ(ve::FindByNameOrIndex(m.animations, "a"), 2);  // the last of equal names
  EXPECT_EQ(ve::FindByNameOrIndex(m.animations, "2"), 1);  // a name before an index
  EXPECT_EQ(ve::FindByNameOrIndex(m.animations, "0"), 0);
  for (const char* none : {"3", "-1", "x", "1x"}) EXPECT_EQ(ve::FindByNameOrIndex(m.animations, none), -1) << none;

  // Node 0 holds 1 and 2, node 2 holds 3 (the light); the animation moves node 0.
  m.nodes.resize(4);
  m.nodes[0].children = {1, 2};
  m.nodes[2].children = {3};
  m.nodes[3].light = 0;
  m.lights.resize(1);
  m.lights[0].name = "lamp";
  EXPECT_EQ(ve::ParentTable(m), (std::vector<int>{-1, 0, 0, 2}));
  ve::Channel move;
  move.node = 0;
  move.times = {0, 1};
  move.values = {0, 0, 0, 1, 0, 0};
  m.animations[0].channels = {move};
  m.animations[0].duration = 1;

  ve::ExportResult res;
  std::string error;
  ve::ExportFailure failure;
  const ve::Outcome out{&res, &error, &failure, nullptr};
  ve::ExportOptions o;
  o.fps = 4;
  o.seconds = 2;
  o.loop = true;
  o.animation = "0";
  ve::Plan plan;
  ASSERT_TRUE(ve::PlanFrames(m, o, &plan, out)) << error;
  ASSERT_EQ(plan.frames(), 9u);
  for (uint32_t k = 0; k < 9; ++k) EXPECT_DOUBLE_EQ(plan.times[k], std::fmod(k / 4.0, 1.0)) << k;

  for (ve::Path path : {ve::Path::kTranslation, ve::Path::kWeights}) {
    m.animations[0].channels[0].path = path;
    res = ve::ExportResult();
    ve::EvaluatePose(m, 0, 0, &plan.pose0);
    plan.lights.clear();
    ve::PlanLights(m, o, &plan, out);
    ASSERT_EQ(plan.lights.size(), 1u);
    bool animated = false;
    for (const std::string& a : res.approximated) animated |= a.find("\"lamp\" is animated") != std::string::npos;
    EXPECT_EQ(animated, path == ve::Path::kTranslation);
  }
}

// What a new user would trip over is refused or said: the output over the
// model, the music that will stretch the scene, the animations left out, a
// camera that sees nothing, Windows texture paths, a file without geometry.
TEST(VefExport, TrapsAreNamed) {
  const std::string dir = Dir("traps");
  const std::string box = kModels + "/BoxAnimated/BoxAnimated.glb", morph = kModels + "/MorphStressTest/MorphStressTest.gltf";
  ASSERT_EQ(Shell("cp '" + box + "' '" + dir + "/box.glb' && ln -s box.glb '" + dir + "/link.glb' && mkdir '" + dir +
                  "/music' && " + kGen + " --bars 2 '" + dir + "/music'"), 0);
  WriteText(dir + "/w.mtl", "newmtl m\nKd 1 1 1\nmap_Kd .\\tex.png\n");
  WriteText(dir + "/w.obj", "mtllib w.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nusemtl m\nf 1/1 2/2 3/3\n");
  ASSERT_EQ(Shell("cp '" + kModels + "/MorphStressTest/TinyGrid.png' '" + dir + "/tex.png'"), 0);
  WriteText(dir + "/empty.dae",
            "<?xml version=\"1.0\"?><COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.1\">"
            "<library_visual_scenes><visual_scene id=\"S\"><node id=\"N\"/></visual_scene></library_visual_scenes>"
            "<scene><instance_visual_scene url=\"#S\"/></scene></COLLADA>");
  struct Case {
    std::string args;
    int code;
    std::vector<std::string> said;  // each must be in the output
  } cases[] = {
      {"'" + dir + "/box.glb' -o '" + dir + "/box.glb'", 2, {"is the model being converted"}},
      {"'" + dir + "/box.glb' -o '" + dir + "/link.glb'", 2, {"is the model being converted"}},
      {"'" + box + "' -o '" + dir + "/music/s.2vef'", 0, {"from " + dir + "/music/Sound.mp3 beside the output", "97 frames"}},
      {"'" + box + "' -o '" + dir + "/music/s.2vef' --seconds 1", 0, {"scene spans 1.00 s", "slower"}},
      {"'" + box + "' -o '" + dir + "/s.2vef'", 0, {"warning: no music beside", "three-quarter view", "animated bounds ("}},
      {"'" + box + "' -o '" + dir + "/s.2vef' --eye 0,0,50 --target 0,0,60", 0, {"nothing of the model is in view"}},
      {"'" + morph + "' -o '" + dir + "/s.2vef' --seconds 1", 0, {"other animations: \"TheWave\", \"Pulse\"", "--animation all"}},
      {"'" + morph + "' -o '" + dir + "/s.2vef' --seconds 1 --animation all --texture-size 32 --palette", 0,
       {"animation \"all\" (9.367 s)", "at most 32 x 32 (--texture-size), 256-colour palettes (--palette)"}},
      {"'" + morph + "' -o '" + dir + "/s.2vef' --animation 1 --animation 2", 2, {"--animation given twice"}},
      {"'" + dir + "/w.obj' -o '" + dir + "/s.2vef'", 0, {"1 texture(s)"}},
      {"'" + dir + "/empty.dae' -o '" + dir + "/s.2vef'", 2, {"empty.dae: no geometry to convert"}},
  };
  std::ifstream in(box, std::ios::binary);
  const std::string before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::string out;
    EXPECT_EQ(Shell(kTool + " " + c.args, &out), c.code) << out;
    for (const std::string& s : c.said) EXPECT_NE(out.find(s), std::string::npos) << s << "\n" << out;
    if (c.code == 0) EXPECT_EQ(out.find("missing"), std::string::npos) << out;
  }
  std::ifstream after(dir + "/box.glb", std::ios::binary);
  EXPECT_EQ(before, std::string((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>()));

  // The automatic camera: 35 degrees round and 25 up from the front, the box
  // just filling 90 % of the frame in one direction.
  const ve::Vec3 lo{-1, -2, -3}, hi{1, 2, 3}, eye = ve::AutomaticEye(lo, hi);
  const double horizontal = std::hypot(eye[0], eye[2]);
  EXPECT_NEAR(std::atan2(eye[0], eye[2]), 35 * M_PI / 180, 1e-9);
  EXPECT_NEAR(std::atan2(eye[1], horizontal), 25 * M_PI / 180, 1e-9);
  const double tanH = std::tan(M_PI / 8), tanV = 599.5 / 799.5 * tanH, d = std::hypot(horizontal, eye[1]);
  const double f[3] = {-eye[0] / d, -eye[1] / d, -eye[2] / d};
  const double rl = std::hypot(f[2], f[0]), r[3] = {-f[2] / rl, 0, f[0] / rl};
  const double u[3] = {r[1] * f[2] - r[2] * f[1], r[2] * f[0] - r[0] * f[2], r[0] * f[1] - r[1] * f[0]};
  double fill = 0;
  for (int c = 0; c < 8; ++c) {
    const double p[3] = {(c & 1 ? hi : lo)[0] - eye[0], (c & 2 ? hi : lo)[1] - eye[1], (c & 4 ? hi : lo)[2] - eye[2]};
    const double z = p[0] * f[0] + p[1] * f[1] + p[2] * f[2];
    fill = std::max({fill, std::fabs(p[0] * r[0] + p[2] * r[2]) / (z * tanH),
                     std::fabs(p[0] * u[0] + p[1] * u[1] + p[2] * u[2]) / (z * tanV)});
  }
  EXPECT_NEAR(fill, 0.9, 1e-9);
}

// A two-shot timeline on the default music (125 beats a minute): the second
// shot starts on bar 2, 1.92 s into 3.84 s, which is frame 48 of 97. Frame 47
// still shows shot 1 (the two meshes of the box) and holds it, frame 48 shows
// shot 2 (the character); bad timelines name the shot and field.
TEST(VefExport, TimelineCutsOnTheShotStart) {
  const std::string dir = Dir("timeline");
  ASSERT_EQ(Shell(kGen + " --bars 2 '" + dir + "'"), 0);
  const std::string shots =
      "{\"tempo\": 125, \"shots\": ["
      "{\"start\": 0, \"models\": [{\"file\": \"" + kModels + "/BoxAnimated/BoxAnimated.glb\", \"loop\": true}]},"
      "{\"start\": {\"bar\": 2, \"beat\": 1}, \"camera\": {\"from\": {\"eye\": [0, 1, 4], \"target\": [0, 1, 0]},"
      " \"to\": {\"eye\": [3, 1, 3], \"target\": [0, 1, 0]}},"
      " \"models\": [{\"file\": \"" + kModels + "/CesiumMan/CesiumMan.gltf\", \"turn\": 90, \"animation\": \"all\"}]}]}";
  WriteText(dir + "/demo.json", shots);
  std::string out;
  ASSERT_EQ(Shell(kTool + " --timeline '" + dir + "/demo.json' -o '" + dir + "/scene.2vef'", &out), 0) << out;
  EXPECT_EQ(ve::ShotFrame(1.92, 3.84, 97), 48u);
  auto s = Import(dir + "/scene.2vef");
  ASSERT_EQ(s->frameCount, 97u);
  const FrameSpan before = s->frameSpans[47], after = s->frameSpans[48];
  ASSERT_EQ(before.keyCount, 2);
  ASSERT_EQ(after.keyCount, 1);
  for (int k = 0; k < before.keyCount; ++k) {
    const Key* key = s->keys.items[before.firstKey + k];
    EXPECT_EQ(key->next, key);  // held to the cut, never blended into shot 2
  }
  EXPECT_EQ(s->keys.items[s->frameSpans[46].firstKey]->next->mesh, s->keys.items[before.firstKey]->mesh);

  struct Case {
    const char* json;
    const char* said;
  } bad[] = {
      {"{\"shots\": []}", "needs a list of \"shots\""},
      {"{\"shots\": [{\"start\": 1, \"models\": [{\"file\": \"x.glb\"}]}]}", "shot 1: the first shot must start at 0"},
      {"{\"shots\": [{\"start\": 0, \"models\": [{\"file\": \"x.glb\", \"scale\": -1}]}]}", "shot 1.models[0].scale"},
      {"{\"shots\": [{\"start\": 0, \"camera\": {\"eye\": [1, 2]}, \"models\": [{\"file\": \"x\"}]}]}",
       "shot 1.camera"},
      {"{\"shots\": [{\"start\": 0, \"models\": [{\"file\": \"absent.glb\"}]}]}", "absent.glb"},
  };
  for (const Case& c : bad) {
    SCOPED_TRACE(c.json);
    WriteText(dir + "/bad.json", c.json);
    EXPECT_EQ(Shell(kTool + " --timeline '" + dir + "/bad.json' -o '" + dir + "/bad.2vef'", &out), 2) << out;
    EXPECT_NE(out.find(c.said), std::string::npos) << out;
    EXPECT_FALSE(Exists(dir + "/bad.2vef"));
  }
}
