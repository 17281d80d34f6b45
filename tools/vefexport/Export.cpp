#include "Export.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

#include "Pose.h"
#include "SceneFormat.h"
#include "SceneWriter.h"
#include "Texture.h"

namespace vefexport {

namespace fmt = SceneFormat;

namespace {

// The player's fixed projection: horizontal half angle pi/8 on a 799.5 x 599.5
// pixel mapping (renderer size minus 0.5), square pixels.
const double kTanHalfH = std::tan(M_PI / 8);
const double kTanHalfV = (599.5 / 799.5) * kTanHalfH;
const uint32_t kMaxListVertices = 65536;  // 16-bit face indices
const int kMaxTextures = 100;             // the device's texture table

// Right-handed camera space (looking down -z) to the player's view space.
const Affine kFlipZ = [] {
  Affine a;
  a.r[2] = {0, 0, -1};
  return a;
}();

Vec3 Sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3 Add(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec3 Mul(const Vec3& a, double k) { return {a[0] * k, a[1] * k, a[2] * k}; }
double Dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Len(const Vec3& a) { return std::sqrt(Dot(a, a)); }
Vec3 Norm(const Vec3& a) {
  const double l = Len(a);
  return l > 0 ? Mul(a, 1 / l) : a;
}

// World to right-handed camera space for a camera at `eye` looking at `target`.
Affine LookAt(const Vec3& eye, const Vec3& target) {
  const Vec3 f = Norm(Sub(target, eye));
  Vec3 up{0, 1, 0};
  if (std::fabs(Dot(f, up)) > 0.999999) up = {0, 0, f[1] > 0 ? -1.0 : 1.0};
  const Vec3 x = Norm(Cross(f, up)), y = Cross(x, f), z = Mul(f, -1);
  // Camera to world has rows x, y, z and translation eye; its inverse is the transpose.
  Affine camToWorld;
  camToWorld.r = {x, y, z};
  camToWorld.t = eye;
  Affine v;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) v.r[size_t(i)][size_t(j)] = camToWorld.r[size_t(j)][size_t(i)];
  const Vec3 t = v.applyLinear(eye);
  v.t = Mul(t, -1);
  return v;
}

// The rotation part of a camera node's global transform, scale removed.
Affine RigidPart(const Affine& g) {
  Affine o = g;
  o.r[0] = Norm(g.r[0]);
  o.r[2] = Norm(Cross(o.r[0], g.r[1]));
  o.r[1] = Cross(o.r[2], o.r[0]);
  return o;
}

vef::MatrixBlock Block(const Affine& k, bool* ok) {
  vef::MatrixBlock b;
  Vec3 s;
  std::array<Vec3, 3> r;
  *ok = SplitScaleRotation(k, &s, &r);
  if (!*ok) return b;
  const Vec3 a = EulerFromRows(r);
  if (a[0] != 0 || a[1] != 0 || a[2] != 0) b.angles = vef::Float3{{float(a[0]), float(a[1]), float(a[2])}};
  if (std::fabs(s[0] - 1) > 1e-7 || std::fabs(s[1] - 1) > 1e-7 || std::fabs(s[2] - 1) > 1e-7)
    b.scale = vef::Float3{{float(s[0]), float(s[1]), float(s[2])}};
  b.translation = vef::Float3{{float(k.t[0]), float(k.t[1]), float(k.t[2])}};
  return b;
}

struct Instance {
  int node, mesh, prim;
  bool deform;       // baked per frame into morph lists
  bool flip;         // mirrored transform: winding reversed
  bool textured;     // its material has a texture record
};

struct Chunk {
  int instance;
  std::vector<uint32_t> vertices;  // source vertex index per list entry
  std::vector<vef::Index3> faces;  // list-local indices
};

std::string Num(double v, int prec = 3) {
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", prec, v);
  return b;
}

// Splits a primitive's triangles into chunks of at most kMaxListVertices
// distinct vertices, in triangle order.
void SplitTriangles(const Primitive& p, bool flip, int instance, std::vector<Chunk>* out) {
  std::vector<int64_t> local(p.positions.size(), -1);
  Chunk c{instance, {}, {}};
  std::vector<uint32_t> touched;
  for (const auto& t : p.triangles) {
    int fresh = 0;
    for (uint32_t v : t) fresh += local[v] < 0;
    if (c.vertices.size() + size_t(fresh) > kMaxListVertices) {
      out->push_back(std::move(c));
      c = Chunk{instance, {}, {}};
      for (uint32_t v : touched) local[v] = -1;
      touched.clear();
    }
    vef::Index3 f;
    for (int k = 0; k < 3; ++k) {
      const uint32_t v = t[size_t(k)];
      if (local[v] < 0) {
        local[v] = int64_t(c.vertices.size());
        c.vertices.push_back(v);
        touched.push_back(v);
      }
      f[size_t(k)] = uint16_t(local[v]);
    }
    if (flip) std::swap(f[1], f[2]);
    c.faces.push_back(f);
  }
  if (!c.faces.empty()) out->push_back(std::move(c));
}

}  // namespace

Vec3 EulerFromRows(const std::array<Vec3, 3>& r) {
  const double rows[3][3] = {{r[0][0], r[0][1], r[0][2]}, {r[1][0], r[1][1], r[1][2]}, {r[2][0], r[2][1], r[2][2]}};
  double a[3];
  SceneFormat::RotationAngles(rows, 1e-6, a);
  return {a[0], a[1], a[2]};
}

bool SplitScaleRotation(const Affine& m, Vec3* scale, std::array<Vec3, 3>* rotation) {
  for (int i = 0; i < 3; ++i) {
    const double l = Len(m.r[size_t(i)]);
    if (!(l > 1e-12) || !std::isfinite(l)) return false;
    (*scale)[size_t(i)] = l;
    (*rotation)[size_t(i)] = Mul(m.r[size_t(i)], 1 / l);
  }
  const auto& u = *rotation;
  if (std::fabs(Dot(u[0], u[1])) > 1e-4 || std::fabs(Dot(u[0], u[2])) > 1e-4 || std::fabs(Dot(u[1], u[2])) > 1e-4)
    return false;
  if (Dot(Cross(u[0], u[1]), u[2]) < 0) {  // mirrored: a negative scale on the first row
    (*scale)[0] = -(*scale)[0];
    (*rotation)[0] = Mul(u[0], -1);
  }
  // Re-orthonormalise so the angles describe the rows as closely as possible.
  (*rotation)[0] = Norm((*rotation)[0]);
  (*rotation)[2] = Norm(Cross((*rotation)[0], (*rotation)[1]));
  (*rotation)[1] = Cross((*rotation)[2], (*rotation)[0]);
  return true;
}

std::string ListModel(const Model& m) {
  std::string s;
  s += "Model " + m.file + "\n";
  s += "Animations: " + std::to_string(m.animations.size()) + "\n";
  for (size_t i = 0; i < m.animations.size(); ++i)
    s += "  [" + std::to_string(i) + "] \"" + m.animations[i].name + "\" " + Num(m.animations[i].duration) +
         " s, " + std::to_string(m.animations[i].channels.size()) + " channels\n";
  s += "Cameras: " + std::to_string(m.cameras.size()) + "\n";
  for (size_t i = 0; i < m.cameras.size(); ++i) {
    const Camera& c = m.cameras[i];
    s += "  [" + std::to_string(i) + "] \"" + c.name + "\" " +
         (c.perspective ? "perspective, vertical field of view " + Num(c.yfov) + " rad"
                        : "orthographic, " + Num(2 * c.xmag) + " x " + Num(2 * c.ymag) + " m (approximated)") +
         "\n";
  }
  s += "Lights: " + std::to_string(m.lights.size()) + "\n";
  static const char* kTypes[] = {"point", "spot (becomes a point light)", "directional (becomes a distant point light)"};
  for (size_t i = 0; i < m.lights.size(); ++i)
    s += "  [" + std::to_string(i) + "] \"" + m.lights[i].name + "\" " + kTypes[m.lights[i].type] + ", intensity " +
         Num(m.lights[i].intensity) + "\n";
  s += "Meshes: " + std::to_string(m.meshes.size()) + "\n";
  for (size_t i = 0; i < m.meshes.size(); ++i) {
    size_t v = 0, t = 0, targets = 0, parts = 0;
    for (const Primitive& p : m.meshes[i].primitives) {
      v += p.positions.size();
      t += p.triangles.size();
      targets = std::max(targets, p.targets.size());
      std::vector<Chunk> chunks;
      SplitTriangles(p, false, 0, &chunks);
      parts += chunks.size();
    }
    s += "  [" + std::to_string(i) + "] \"" + m.meshes[i].name + "\" " + std::to_string(v) + " vertices, " +
         std::to_string(t) + " triangles";
    if (targets) s += ", " + std::to_string(targets) + " morph targets";
    if (parts > m.meshes[i].primitives.size())
      s += "; over the format's 65536 vertices per list: split into " + std::to_string(parts) + " meshes";
    s += "\n";
  }
  s += "Skins: " + std::to_string(m.skins.size()) + ", materials: " + std::to_string(m.materials.size()) +
       ", images: " + std::to_string(m.images.size());
  if (m.images.size() > size_t(kMaxTextures - 1)) s += " (the player holds at most 100 textures)";
  s += "\n";
  return s;
}

bool ExportScene(const Model& m, const ExportOptions& o, const std::string& outPath,
                 const volatile sig_atomic_t* interrupted, ExportResult* result, std::string* error,
                 ExportFailure* failure) {
  *failure = ExportFailure::kFailed;
  ExportResult& res = *result;
  res = ExportResult();
  auto bad = [&](const std::string& what) {
    *error = what;
    *failure = ExportFailure::kBadOptions;
    return false;
  };
  if (!(o.fps > 0) || !std::isfinite(o.fps) || o.fps > 1000) return bad("--fps must be above 0 and at most 1000");
  // --- Animation and frames -------------------------------------------------
  int anim = m.animations.empty() ? -1 : 0;
  if (!o.animation.empty()) {
    anim = -1;
    for (size_t i = 0; i < m.animations.size(); ++i)
      if (m.animations[i].name == o.animation) anim = int(i);
    if (anim < 0) {
      char* end = nullptr;
      const long i = std::strtol(o.animation.c_str(), &end, 10);
      if (*end == 0 && i >= 0 && size_t(i) < m.animations.size()) anim = int(i);
    }
    if (anim < 0) return bad(m.file + ": no animation \"" + o.animation + "\" (see --list)");
  }
  const double duration = anim >= 0 ? m.animations[size_t(anim)].duration : 0.0;
  double span = duration;
  if (o.musicSeconds) span = *o.musicSeconds;
  else if (o.seconds) span = *o.seconds;
  if (!(span >= 0) || !std::isfinite(span) || span * o.fps > 999999) return bad("the span must be 0 to 999999 frames long");
  uint32_t frames = uint32_t(std::llround(span * o.fps)) + 1;
  if (frames < 2) frames = 2;  // the player needs two frames; a still model shows its pose twice
  std::vector<double> times(frames);
  for (uint32_t k = 0; k < frames; ++k) {
    // With music, the frames spread over its length exactly, so frame k is on
    // screen at the music time it shows.
    double t = o.musicSeconds && span > 0 ? k * span / (frames - 1) : k / o.fps;
    if (o.loop && duration > 0) t = std::fmod(t, duration);
    times[k] = t;
  }
  res.frames = frames;

  // --- What is drawn ----------------------------------------------------------
  std::vector<Instance> inst;
  {
    std::vector<int> stack(m.roots.rbegin(), m.roots.rend());
    while (!stack.empty()) {
      const int n = stack.back();
      stack.pop_back();
      const Node& nd = m.nodes[size_t(n)];
      if (nd.mesh >= 0)
        for (size_t p = 0; p < m.meshes[size_t(nd.mesh)].primitives.size(); ++p) {
          const Primitive& prim = m.meshes[size_t(nd.mesh)].primitives[p];
          if (prim.triangles.empty()) continue;
          inst.push_back({n, nd.mesh, int(p), IsDeforming(m, n, prim), false, false});
        }
      for (auto it = nd.children.rbegin(); it != nd.children.rend(); ++it) stack.push_back(*it);
    }
  }
  if (inst.empty()) {
    *error = m.file + ": the model has no triangles to show";
    return false;
  }

  // --- Camera choice ------------------------------------------------------------
  enum { kAuto, kEye, kModel } camMode = kAuto;
  int camNode = -1;
  if (o.eye || o.target) {
    if (!o.eye || !o.target) return bad("--eye and --target go together");
    if (!o.camera.empty()) return bad("--camera and --eye/--target exclude each other");
    if (Len(Sub(*o.target, *o.eye)) == 0) return bad("--eye and --target must differ");
    camMode = kEye;
  } else if (!o.camera.empty()) {
    int cam = -1;
    for (size_t i = 0; i < m.cameras.size(); ++i)
      if (m.cameras[i].name == o.camera) cam = int(i);
    if (cam < 0) {
      char* end = nullptr;
      const long i = std::strtol(o.camera.c_str(), &end, 10);
      if (*end == 0 && i >= 0 && size_t(i) < m.cameras.size()) cam = int(i);
    }
    if (cam < 0) return bad(m.file + ": no camera \"" + o.camera + "\" (see --list)");
    for (size_t i = 0; i < m.nodes.size() && camNode < 0; ++i)
      if (m.nodes[i].camera == cam) camNode = int(i);
    if (camNode < 0) return bad(m.file + ": camera \"" + o.camera + "\" is on no node");
    camMode = kModel;
  }
  const Camera* modelCam = camMode == kModel ? &m.cameras[size_t(m.nodes[size_t(camNode)].camera)] : nullptr;
  // Zoom that maps the model camera's vertical field of view onto the player's.
  const double zoom = modelCam && modelCam->perspective ? kTanHalfV / std::tan(modelCam->yfov / 2) : 1.0;
  const bool zoomed = std::fabs(zoom - 1) > 1e-6;
  Affine zoomA;
  zoomA.r[0][0] = zoomA.r[1][1] = zoom;
  if (modelCam && !modelCam->perspective)
    res.approximated.push_back("orthographic camera \"" + modelCam->name +
                               "\": a perspective camera with the player's field of view, moved back so the scene's "
                               "centre plane shows the same height");
  if (modelCam && modelCam->perspective && modelCam->aspect > 0 && std::fabs(modelCam->aspect - 4.0 / 3.0) > 1e-3)
    res.approximated.push_back("camera aspect " + Num(modelCam->aspect) + ": the vertical field of view is kept on 4:3");

  // --- Pass 1: bounds over all frames, rigid placements checked ------------------
  Vec3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
  auto grow = [&](const Vec3& p) {
    for (int i = 0; i < 3; ++i) lo[size_t(i)] = std::min(lo[size_t(i)], p[size_t(i)]), hi[size_t(i)] = std::max(hi[size_t(i)], p[size_t(i)]);
  };
  std::vector<Affine> camGlobal(frames);
  Pose pose, pose0;
  std::vector<std::array<float, 3>> world;
  std::vector<std::array<Vec3, 2>> localBox(inst.size());
  for (size_t i = 0; i < inst.size(); ++i) {
    const Primitive& p = m.meshes[size_t(inst[i].mesh)].primitives[size_t(inst[i].prim)];
    Vec3 a{1e300, 1e300, 1e300}, b{-1e300, -1e300, -1e300};
    for (const auto& v : p.positions)
      for (int k = 0; k < 3; ++k) a[size_t(k)] = std::min(a[size_t(k)], double(v[size_t(k)])), b[size_t(k)] = std::max(b[size_t(k)], double(v[size_t(k)]));
    localBox[i] = {a, b};
  }
  std::vector<char> sheared(inst.size(), 0);
  // A rigid node's own scale, when it never changes, goes into its vertices so
  // that its keys are pure rotations: the player's lighting undoes a key's
  // placement exactly only then.
  std::vector<Vec3> ownScale(inst.size(), Vec3{1, 1, 1});
  std::vector<char> scaleFixed(inst.size(), 1);
  for (uint32_t f = 0; f < frames; ++f) {
    if (interrupted && *interrupted) { *failure = ExportFailure::kInterrupted; *error = "interrupted"; return false; }
    EvaluatePose(m, anim, times[f], &pose);
    if (f == 0) pose0 = pose;
    if (camNode >= 0) camGlobal[f] = pose.global[size_t(camNode)];
    for (size_t i = 0; i < inst.size(); ++i) {
      const Primitive& p = m.meshes[size_t(inst[i].mesh)].primitives[size_t(inst[i].prim)];
      const Affine& G = pose.global[size_t(inst[i].node)];
      if (inst[i].deform) {
        BakePrimitive(m, pose, inst[i].node, p, &world);
        for (const auto& v : world) grow({v[0], v[1], v[2]});
        continue;
      }
      for (int c = 0; c < 8; ++c)
        grow(G.apply({localBox[i][c & 1][0], localBox[i][(c >> 1) & 1][1], localBox[i][(c >> 2) & 1][2]}));
      // The key's rows: the node's, then the camera's rotation (which keeps
      // orthogonality) and the zoom (which may not).
      Affine k = G;
      if (camMode == kModel) k = G.then(RigidPart(camGlobal[f]).inverse()).then(zoomA);
      Vec3 s;
      std::array<Vec3, 3> r;
      if (!SplitScaleRotation(k, &s, &r)) sheared[i] = 1;
      if (f == 0 && G.det() < 0) inst[i].flip = true;
      if (SplitScaleRotation(G, &s, &r)) {
        if (f == 0) ownScale[i] = s;
        for (int a = 0; a < 3; ++a)
          if (std::fabs(s[size_t(a)] - ownScale[i][size_t(a)]) > 1e-6 * std::max(1.0, std::fabs(s[size_t(a)]))) scaleFixed[i] = 0;
      }
    }
  }
  for (size_t i = 0; i < inst.size(); ++i) {
    if (!scaleFixed[i] || sheared[i]) ownScale[i] = {1, 1, 1};
    if (!scaleFixed[i] && !sheared[i])
      res.approximated.push_back("node \"" + m.nodes[size_t(inst[i].node)].name +
                                 "\": animated scale stays in its keys (the player's lighting of it is approximate)");
  }
  for (size_t i = 0; i < inst.size(); ++i)
    if (sheared[i]) {
      inst[i].deform = true;
      res.approximated.push_back("mesh \"" + m.meshes[size_t(inst[i].mesh)].name + "\" on node \"" +
                                 m.nodes[size_t(inst[i].node)].name + "\": its placement " +
                                 (zoomed ? "with the camera's zoom " : "") +
                                 "is not a rotation with scale, so it is baked per frame (unlit)");
    }
  const Vec3 centre = Mul(Add(lo, hi), 0.5);
  double radius = 0.5 * Len(Sub(hi, lo));
  if (!(radius > 0) || !std::isfinite(radius)) radius = 1;

  // --- Camera per frame: world to the player's view space ---------------------
  std::vector<Affine> full(frames);        // world to view, without the uniform scale
  std::vector<Affine> rigidView(frames);   // world to right-handed camera space, no zoom
  if (camMode == kModel) {
    for (uint32_t f = 0; f < frames; ++f) {
      Affine g = RigidPart(camGlobal[f]);
      if (!modelCam->perspective) {
        // Orthographic: keep the direction, back off so that the plane through
        // the scene centre shows 2 * ymag metres vertically.
        const Vec3 back = Norm(g.r[2]);
        const double dc = Dot(Sub(g.t, centre), back);
        const double want = modelCam->ymag / kTanHalfV;
        g.t = Add(g.t, Mul(back, want - dc));
      }
      rigidView[f] = g.inverse();
      full[f] = rigidView[f].then(zoomA).then(kFlipZ);
    }
  } else {
    Vec3 eye, target;
    if (camMode == kEye) {
      eye = *o.eye;
      target = *o.target;
    } else {
      // Frames the bounding sphere from the front, a little above.
      const double dist = radius / std::sin(std::atan(kTanHalfV)) * 1.05;
      target = centre;
      eye = Add(centre, Mul(Norm({0, 0.25, 1}), dist));
    }
    std::fill(rigidView.begin(), rigidView.end(), LookAt(eye, target));
    std::fill(full.begin(), full.end(), rigidView[0].then(kFlipZ));
  }
  bool moving = false;
  for (uint32_t f = 1; f < frames && !moving; ++f)
    for (int i = 0; i < 3; ++i)
      if (Len(Sub(full[f].r[size_t(i)], full[0].r[size_t(i)])) > 1e-9 || Len(Sub(full[f].t, full[0].t)) > 1e-9) moving = true;

  // Uniform scale about the eye: screen positions stay, depths move well
  // inside 0.1 .. 1000.
  double scale = 1;
  {
    double zmax = -1e300;
    for (uint32_t f = 0; f < frames; ++f) zmax = std::max(zmax, full[f].apply(centre)[2] + radius);
    if (zmax > 500) scale = 500 / zmax;
    else if (zmax > 0 && zmax < 5) scale = 50 / zmax;
    if (scale != 1) res.converted.push_back("scaled by " + Num(scale, 4) + " about the eye to fit the depth range");
  }
  // Camera keys: static -> identity (the importer makes it diag(1,1,-1));
  // moving -> the rigid view transform in right-handed camera space.
  std::vector<Affine> stored(frames), storedInv(frames);
  std::vector<vef::MatrixBlock> camBlock(frames);
  for (uint32_t f = 0; f < frames; ++f) {
    if (!moving) {
      stored[f] = kFlipZ;
    } else {
      bool ok;
      camBlock[f] = Block(rigidView[f], &ok);
      stored[f] = rigidView[f].then(kFlipZ);
    }
    storedInv[f] = stored[f].inverse();
  }
  // World point to what a morph list or a light stores in frame f.
  auto toStored = [&](uint32_t f, const Vec3& p) { return storedInv[f].apply(Mul(full[f].apply(p), scale)); };

  // --- Lights --------------------------------------------------------------------
  struct OutLight { Vec3 pos; Vec3 color; double e; };
  std::vector<OutLight> lights;
  for (size_t n = 0; n < m.nodes.size(); ++n) {
    const int li = m.nodes[n].light;
    if (li < 0) continue;
    const Light& l = m.lights[size_t(li)];
    const Affine& G = pose0.global[n];
    OutLight out{G.t, l.color, l.intensity};
    if (l.type == Light::kDirectional) {
      out.pos = Add(centre, Mul(Norm(G.r[2]), 20 * radius));
      res.approximated.push_back("directional light \"" + l.name + "\": a distant point light");
    } else {
      const double d = std::max(Len(Sub(G.t, centre)), 0.1 * radius);
      out.e = l.intensity / (d * d);
      if (l.type == Light::kSpot) res.approximated.push_back("spot light \"" + l.name + "\": a point light (no cone)");
    }
    bool animated = false;
    if (anim >= 0)
      for (const Channel& c : m.animations[size_t(anim)].channels) {
        for (int p = int(n); p >= 0 && !animated;) {
          animated = c.node == p && c.path != Path::kWeights;
          int parent = -1;
          for (size_t q = 0; q < m.nodes.size() && parent < 0; ++q)
            for (int ch : m.nodes[q].children)
              if (ch == p) parent = int(q);
          p = parent;
        }
      }
    if (animated) res.approximated.push_back("light \"" + l.name + "\" is animated: its position at frame 0 is used");
    lights.push_back(out);
  }
  double emax = 0;
  for (const OutLight& l : lights) emax = std::max(emax, l.e);
  for (OutLight& l : lights) l.e = emax > 0 ? l.e / emax : 1.0;
  if (lights.empty() && o.defaultLights) {
    const Affine camToWorld = full[0].then(kFlipZ).inverse();  // rows: camera axes in world space
    const Vec3 right = Norm(camToWorld.r[0]), up = Norm(camToWorld.r[1]), back = Norm(camToWorld.r[2]);
    auto at = [&](double a, double b, double c) {
      return Add(centre, Mul(Norm(Add(Add(Mul(right, a), Mul(up, b)), Mul(back, c))), 3 * radius));
    };
    lights.push_back({at(-0.5, 0.7, 1.0), {1, 1, 1}, 1.0});
    lights.push_back({at(0.8, 0.1, 0.6), {1, 1, 1}, 0.45});
    res.converted.push_back("2 default lights (key and fill)");
  } else if (!lights.empty()) {
    res.converted.push_back(std::to_string(lights.size()) + " light(s), intensities scaled so the strongest is 1");
  }
  if (moving && !lights.empty() && camMode == kModel && zoomed)
    res.approximated.push_back("moving zoomed camera: lights follow the camera of frame 0");

  // --- Materials ------------------------------------------------------------------
  int textures = 0;
  std::vector<int> matTexture(m.materials.size(), -1);  // texture slot per material
  for (size_t i = 0; i < m.materials.size(); ++i) {
    if (m.materials[i].image < 0) continue;
    if (textures >= kMaxTextures) {
      res.dropped.push_back("texture of material \"" + m.materials[i].name + "\": the player holds 100 textures");
      continue;
    }
    matTexture[i] = textures++;
  }
  for (Instance& in : inst) {
    const Primitive& p = m.meshes[size_t(in.mesh)].primitives[size_t(in.prim)];
    in.textured = p.material >= 0 && matTexture[size_t(p.material)] >= 0 && !p.uvs.empty();
  }
  // Baked (morph) meshes are drawn unlit in white times their texture, so an
  // untextured one gets a one-colour texture of its base colour to keep its look.
  std::vector<int> solidSlot(m.materials.size() + 1, -1);  // last entry: the default material
  for (const Instance& in : inst) {
    if (!in.deform || in.textured) continue;
    const int mi = m.meshes[size_t(in.mesh)].primitives[size_t(in.prim)].material;
    int& slot = solidSlot[mi >= 0 ? size_t(mi) : m.materials.size()];
    if (slot >= 0) continue;
    if (textures >= kMaxTextures) {
      res.dropped.push_back("colour of a baked mesh: the player holds 100 textures, it shows white");
      continue;
    }
    slot = textures++;
  }
  std::vector<Chunk> chunks;
  for (size_t i = 0; i < inst.size(); ++i)
    SplitTriangles(m.meshes[size_t(inst[i].mesh)].primitives[size_t(inst[i].prim)], inst[i].flip, int(i), &chunks);
  {
    uint64_t keys = uint64_t(frames) * chunks.size();
    if (keys > uint64_t(fmt::kMaxObjectKeys)) {
      *error = m.file + ": " + std::to_string(frames) + " frames x " + std::to_string(chunks.size()) +
               " meshes need " + std::to_string(keys) + " object keys, the format holds " +
               std::to_string(fmt::kMaxObjectKeys) + " (use fewer frames: --fps or --seconds)";
      return false;
    }
  }
  size_t rigid = 0, deform = 0, tris = 0;
  for (const Instance& in : inst) (in.deform ? deform : rigid)++;
  for (const Chunk& c : chunks) tris += c.faces.size();
  res.converted.push_back(std::to_string(inst.size()) + " mesh part(s) in " + std::to_string(chunks.size()) +
                          " scene meshes, " + std::to_string(tris) + " triangles: " + std::to_string(rigid) +
                          " rigid, " + std::to_string(deform) + " baked per frame (skin, morph targets)");
  res.converted.push_back(std::string("camera: ") +
                          (camMode == kModel ? "model camera \"" + modelCam->name + "\"" + (zoomed ? ", zoom " + Num(zoom, 4) : "")
                                             : camMode == kEye ? "--eye/--target" : "automatic, framing the animated bounds") +
                          (moving ? ", moving" : ", fixed"));
  if (anim >= 0)
    res.converted.push_back("animation \"" + m.animations[size_t(anim)].name + "\" (" + Num(duration) + " s)" +
                            (o.loop ? ", looped" : ""));
  for (const std::string& w : m.warnings) res.dropped.push_back(w);

  // --- Emission (run twice: to count, then to write) ------------------------------
  // `sink` receives record bytes as they are produced; returns false to stop.
  std::vector<std::vector<uint8_t>> texRgb(m.materials.size());
  auto emit = [&](const std::function<bool(std::vector<uint8_t>&&)>& sink, vef::SceneWriter* wOut,
                  uint64_t* lists) -> bool {
    vef::SceneWriter w;
    *lists = 0;
    // Materials and textures.
    vef::MaterialRecord defMat;  // glTF's default material: white
    defMat.color0.mode = vef::ColorField::kWhite;
    const int32_t defaultMaterial = w.addMaterial(defMat);
    std::vector<int32_t> matRef(m.materials.size());
    for (size_t i = 0; i < m.materials.size(); ++i) {
      const Material& mat = m.materials[i];
      vef::MaterialRecord r;
      auto byte = [](double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
      r.diffuse = vef::ColorField::Bytes(byte(mat.baseColor[0]), byte(mat.baseColor[1]), byte(mat.baseColor[2]));
      if (matTexture[i] >= 0) {
        const Image& im = m.images[size_t(mat.image)];
        const int side = TextureSide(im, o.textureSize);
        if (texRgb[i].empty()) texRgb[i] = ResampleRgb(im, side, {mat.baseColor[0], mat.baseColor[1], mat.baseColor[2]});
        vef::TextureRecord t;
        t.side = uint32_t(side);
        if (o.palette) {
          t.rgb565 = false;
          if (!ToPalette(texRgb[i], side, &t.palette, &t.indices)) {
            *error = m.file + ": the palette quantiser failed on image \"" + im.name + "\"";
            return false;
          }
        } else {
          t.texels = ToRgb565(texRgb[i]);
        }
        r.texture = w.addTexture(t);
      }
      matRef[i] = w.addMaterial(r);
    }
    // One-colour textures for baked untextured meshes, one UV pair for all their corners.
    std::vector<int32_t> solidMatRef(solidSlot.size(), 0);
    int32_t centreUV = 0;
    for (size_t i = 0; i < solidSlot.size(); ++i) {
      if (solidSlot[i] < 0) continue;
      const std::array<double, 4> c = i < m.materials.size() ? m.materials[i].baseColor : std::array<double, 4>{1, 1, 1, 1};
      Image one;
      one.width = one.height = 1;
      one.rgba = {255, 255, 255, 255};
      vef::TextureRecord t;
      t.side = 32;
      t.texels = ToRgb565(ResampleRgb(one, 32, {c[0], c[1], c[2]}));
      vef::MaterialRecord r;
      r.texture = w.addTexture(t);
      solidMatRef[i] = w.addMaterial(r);
      if (!centreUV) {
        vef::UVListRecord uv;
        uv.coords = {{0.5f, 0.5f}};
        centreUV = w.addUVList(uv);
      }
    }
    // Meshes: rigid ones with their vertex list (mesh coordinates x scale).
    std::vector<int32_t> meshRef(chunks.size());
    for (size_t c = 0; c < chunks.size(); ++c) {
      const Chunk& ch = chunks[c];
      const Instance& in = inst[size_t(ch.instance)];
      const Primitive& p = m.meshes[size_t(in.mesh)].primitives[size_t(in.prim)];
      vef::MeshRecord r;
      r.faces = ch.faces;
      r.byteIndices = ch.vertices.size() <= 256;
      r.material = p.material >= 0 ? matRef[size_t(p.material)] : defaultMaterial;
      const size_t solid = p.material >= 0 ? size_t(p.material) : m.materials.size();
      if (in.deform && !in.textured && solidSlot[solid] >= 0) {
        r.material = solidMatRef[solid];
        r.uvList = centreUV;
        r.uvs.assign(ch.faces.size(), vef::Index3{{0, 0, 0}});
      } else if (in.textured) {
        vef::UVListRecord uv;
        uv.coords.reserve(ch.vertices.size());
        // glTF's v grows downward over the image; the file stores 1 - v.
        for (uint32_t v : ch.vertices) uv.coords.push_back({p.uvs[v][0], 1.0f - p.uvs[v][1]});
        r.uvList = w.addUVList(uv);
        r.uvs = ch.faces;
      }
      if (!in.deform) {
        vef::VertexListRecord list;
        list.positions.reserve(ch.vertices.size());
        const Vec3& k = ownScale[size_t(ch.instance)];
        for (uint32_t v : ch.vertices)
          list.positions.push_back({float(p.positions[v][0] * k[0] * scale), float(p.positions[v][1] * k[1] * scale),
                                    float(p.positions[v][2] * k[2] * scale)});
        r.vertexList = w.addVertexList(list);
        ++*lists;
      }
      meshRef[c] = w.addMesh(r);
    }
    for (const OutLight& l : lights) {
      vef::LightRecord r;
      double cmax = std::max({l.color[0], l.color[1], l.color[2]});
      for (int k = 0; k < 3; ++k) r.color[size_t(k)] = uint8_t(std::lround(cmax > 0 ? 255 * l.color[size_t(k)] / cmax : 255));
      r.intensity = float(l.e * std::min(cmax, 1.0));
      const Vec3 p = toStored(0, l.pos);
      vef::MatrixBlock b;
      b.translation = vef::Float3{{float(p[0]), float(p[1]), float(p[2])}};
      r.matrix = b;
      w.addLight(r);
    }
    if (!sink(w.takeBody())) return false;
    // Frames.
    Pose ps;
    std::vector<std::vector<std::array<float, 3>>> baked(inst.size());
    std::vector<std::vector<float>> last(chunks.size());
    std::vector<int32_t> lastRef(chunks.size(), -1);
    std::vector<float> q;
    for (uint32_t f = 0; f < frames; ++f) {
      if (interrupted && *interrupted) {
        *failure = ExportFailure::kInterrupted;
        *error = "interrupted";
        return false;
      }
      EvaluatePose(m, anim, times[f], &ps);
      vef::KeyRecord cam;
      cam.frame = int32_t(f);
      cam.camera = true;
      if (moving) cam.matrix = camBlock[f];
      w.addKey(cam);
      for (size_t i = 0; i < inst.size(); ++i)
        if (inst[i].deform)
          BakePrimitive(m, ps, inst[i].node, m.meshes[size_t(inst[i].mesh)].primitives[size_t(inst[i].prim)], &baked[i]);
      for (size_t c = 0; c < chunks.size(); ++c) {
        const Chunk& ch = chunks[c];
        const Instance& in = inst[size_t(ch.instance)];
        vef::KeyRecord key;
        key.frame = int32_t(f);
        key.object = true;
        key.mesh = meshRef[c];
        if (!in.deform) {
          Affine k = ps.global[size_t(in.node)];
          for (int a = 0; a < 3; ++a) k.r[size_t(a)] = Mul(k.r[size_t(a)], 1 / ownScale[size_t(ch.instance)][size_t(a)]);
          k = k.then(full[f]);
          k.t = Mul(k.t, scale);
          bool ok;
          key.matrix = Block(k.then(storedInv[f]), &ok);
          if (!ok) {
            *error = m.file + ": node \"" + m.nodes[size_t(in.node)].name + "\": placement cannot be written";
            return false;
          }
        } else {
          q.resize(ch.vertices.size() * 3);
          const auto& src = baked[size_t(ch.instance)];
          for (size_t v = 0; v < ch.vertices.size(); ++v) {
            const auto& p = src[ch.vertices[v]];
            Vec3 s = toStored(f, {p[0], p[1], p[2]});
            if (!moving) s[2] = -s[2];  // the morph key's diag(1,1,-1) undoes the camera's
            for (int k = 0; k < 3; ++k) q[3 * v + size_t(k)] = float(s[size_t(k)]);
          }
          if (moving || lastRef[c] < 0 || q != last[c]) {
            vef::VertexListRecord list;
            list.positions.resize(ch.vertices.size());
            for (size_t v = 0; v < ch.vertices.size(); ++v) list.positions[v] = {q[3 * v], q[3 * v + 1], q[3 * v + 2]};
            lastRef[c] = w.addVertexList(list);
            last[c] = q;
            ++*lists;
          }
          key.morph = lastRef[c];
          if (!moving) key.matrix.scale = vef::Float3{{1, 1, -1}};
        }
        w.addKey(key);
      }
      if (!sink(w.takeBody())) return false;
    }
    *wOut = std::move(w);
    return true;
  };

  // Count.
  uint64_t total = fmt::kHeaderSize, lists = 0;
  vef::SceneWriter counted;
  if (!emit([&](std::vector<uint8_t>&& b) { total += b.size(); return true; }, &counted, &lists)) return false;
  if (total > o.maxSize) {
    *error = outPath + ": the scene would be " + std::to_string(total) + " bytes, above --max-size " +
             std::to_string(o.maxSize) + " (fewer frames, --fps, --seconds or a larger --max-size)";
    return false;
  }
  // Write.
  vef::AtomicFile file;
  if (!file.open(outPath, error)) return false;
  std::vector<uint8_t> zero(fmt::kHeaderSize, 0);
  if (!file.write(zero.data(), zero.size(), error)) return false;
  bool writeOk = true;
  vef::SceneWriter written;
  const bool ok = emit([&](std::vector<uint8_t>&& b) { return writeOk = file.write(b.data(), b.size(), error); },
                       &written, &lists);
  if (!ok || !writeOk) {
    file.abort();
    return false;
  }
  if (!file.writeAt(0, written.headerBytes(), error) || !file.commit(error)) return false;
  res.bytes = total;
  res.converted.push_back(std::to_string(frames) + " frames at " + Num(o.fps, 2) + " fps, " + std::to_string(lists) +
                          " vertex lists" + (moving ? "" : " (unchanged shapes shared)"));
  *failure = ExportFailure::kNone;
  return true;
}

}  // namespace vefexport
