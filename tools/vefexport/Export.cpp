#include "Export.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <unordered_map>

#include "ExportPlan.h"
#include "Scene.h"
#include "SceneFormat.h"
#include "Texture.h"
#include "Vector3.h"

namespace vefexport {

namespace fmt = SceneFormat;
using vef::Add;
using vef::Cross;
using vef::Dot;
using vef::Len;
using vef::Mul;
using vef::Norm;
using vef::Sub;

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

std::string Num(double v, int prec = 3) {
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", prec, v);
  return b;
}

// "(x, y, z)" with two decimals.
std::string Point(const Vec3& p) { return "(" + Num(p[0], 2) + ", " + Num(p[1], 2) + ", " + Num(p[2], 2) + ")"; }

// Corner c (0..7, bit 0 x, bit 1 y, bit 2 z) of the box [lo, hi].
Vec3 Corner(const Vec3& lo, const Vec3& hi, int c) {
  return {(c & 1 ? hi : lo)[0], (c & 2 ? hi : lo)[1], (c & 4 ? hi : lo)[2]};
}

// Grows the box [lo, hi] to hold p.
void Grow(const Vec3& p, Vec3* lo, Vec3* hi) {
  for (size_t i = 0; i < 3; ++i) (*lo)[i] = std::min((*lo)[i], p[i]), (*hi)[i] = std::max((*hi)[i], p[i]);
}

}  // namespace

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

// --- The plan, stage by stage ---------------------------------------------------

Vec3 Plan::toStored(uint32_t f, const Vec3& p) const { return storedInv[f].apply(Mul(full[f].apply(p), scale)); }

bool Outcome::refuse(const std::string& what, ExportFailure kind) const {
  *error = what;
  *failure = kind;
  return false;
}

bool Outcome::stopped() const {
  if (!interrupted || !*interrupted) return false;
  refuse("interrupted", ExportFailure::kInterrupted);
  return true;
}

Vec3 AutomaticEye(const Vec3& lo, const Vec3& hi) {
  const double kFill = 0.9, az = 35 * M_PI / 180, el = 25 * M_PI / 180;
  const Vec3 back{std::sin(az) * std::cos(el), std::sin(el), std::cos(az) * std::cos(el)};  // target to eye
  const Vec3 forward = Mul(back, -1), right = Norm(Cross(forward, Vec3{0, 1, 0})), up = Cross(right, forward);
  const Vec3 centre = Mul(Add(lo, hi), 0.5);
  // The eye at centre + back * d sees corner c at depth d - along, x across and
  // y up; it fits when |x| <= kFill tanH depth and |y| <= kFill tanV depth.
  double d = 0, nearest = 0;
  for (int c = 0; c < 8; ++c) {
    const Vec3 rel = Sub(Corner(lo, hi, c), centre);
    const double along = Dot(rel, back);
    nearest = std::max(nearest, along);
    d = std::max({d, along + std::fabs(Dot(rel, right)) / (kFill * kTanHalfH),
                  along + std::fabs(Dot(rel, up)) / (kFill * kTanHalfV)});
  }
  const double size = Len(Sub(hi, lo));
  d = std::max({d, nearest + 0.05 * size, size > 0 && std::isfinite(size) ? 0.0 : 1.0});
  return Add(centre, Mul(back, d));
}

bool OutOfView(const Affine& worldToView, const Vec3& lo, const Vec3& hi) {
  // The view volume's side planes and the near plane, as n . p >= 0 inside.
  const Vec3 planes[5] = {{1, 0, kTanHalfH}, {-1, 0, kTanHalfH}, {0, 1, kTanHalfV}, {0, -1, kTanHalfV}, {0, 0, 1}};
  for (const Vec3& n : planes) {
    bool allOut = true;
    for (int c = 0; c < 8 && allOut; ++c) allOut = Dot(n, worldToView.apply(Corner(lo, hi, c))) < 0;
    if (allOut) return true;
  }
  return false;
}

std::vector<int> ParentTable(const Model& m) {
  std::vector<int> parent(m.nodes.size(), -1);
  for (size_t q = 0; q < m.nodes.size(); ++q)
    for (int ch : m.nodes[q].children)
      if (ch >= 0 && size_t(ch) < parent.size() && parent[size_t(ch)] < 0) parent[size_t(ch)] = int(q);
  return parent;
}

bool PlanFrames(const Model& m, const ExportOptions& o, Plan* plan, const Outcome& out) {
  if (!(o.fps > 0) || !std::isfinite(o.fps) || o.fps > 1000) return out.badOption("--fps must be above 0 and at most 1000");
  int anim = m.animations.empty() ? -1 : 0;
  if (o.animation == "all") {
    plan->all = AllAnimations(m);
    plan->animation = &plan->all;
  } else {
    if (!o.animation.empty()) {
      anim = FindByNameOrIndex(m.animations, o.animation);
      if (anim < 0) return out.badOption(m.file + ": no animation \"" + o.animation + "\" (see --list)");
    }
    plan->animation = anim >= 0 ? &m.animations[size_t(anim)] : nullptr;
    if (anim >= 0 && m.animations.size() > 1) {
      std::string others;
      for (size_t i = 0; i < m.animations.size(); ++i)
        if (int(i) != anim) others += std::string(others.empty() ? "" : ", ") + "\"" + m.animations[i].name + "\"";
      out.result->notes.push_back("the model has other animations: " + others +
                                  " (--animation NAME for another, --animation all for every one at once)");
    }
  }
  const double duration = plan->animation ? plan->animation->duration : 0.0;
  double span = duration;
  if (o.musicSeconds) span = *o.musicSeconds;
  else if (o.seconds) span = *o.seconds;
  if (!(span >= 0) || !std::isfinite(span) || span * o.fps > 999999)
    return out.badOption("the span must be 0 to 999999 frames long");
  uint32_t frames = uint32_t(std::llround(span * o.fps)) + 1;
  if (frames < 2) frames = 2;  // the player needs two frames; a still model shows its pose twice
  plan->duration = duration;
  plan->times.resize(frames);
  for (uint32_t k = 0; k < frames; ++k) {
    // With music, the frames spread over its length exactly, so frame k is on
    // screen at the music time it shows.
    double t = o.musicSeconds && span > 0 ? k * span / (frames - 1) : k / o.fps;
    if (o.loop && duration > 0) t = std::fmod(t, duration);
    plan->times[k] = t;
  }
  if (duration > 0 && !o.loop && span > duration + 1 / o.fps)
    out.result->notes.push_back("the animation (" + Num(duration, 2) + " s) is shorter than the scene (" + Num(span, 2) +
                                " s): its last pose holds (--loop repeats it)");
  out.result->frames = frames;
  out.result->seconds = o.musicSeconds && span > 0 ? span : (frames - 1) / o.fps;
  return true;
}

bool PlanInstances(const Model& m, Plan* plan, const Outcome& out) {
  std::vector<int> stack(m.roots.rbegin(), m.roots.rend());
  while (!stack.empty()) {
    const int n = stack.back();
    stack.pop_back();
    const Node& nd = m.nodes[size_t(n)];
    if (nd.mesh >= 0)
      for (size_t p = 0; p < m.meshes[size_t(nd.mesh)].primitives.size(); ++p) {
        const Primitive& prim = m.meshes[size_t(nd.mesh)].primitives[p];
        if (prim.triangles.empty()) continue;
        Instance in;
        in.node = n;
        in.mesh = nd.mesh;
        in.prim = int(p);
        in.deform = IsDeforming(m, n, prim);
        plan->instances.push_back(in);
      }
    for (auto it = nd.children.rbegin(); it != nd.children.rend(); ++it) stack.push_back(*it);
  }
  if (plan->instances.empty()) return out.refuse(m.file + ": the model has no triangles to show");
  return true;
}

bool PlanCamera(const Model& m, const ExportOptions& o, Plan* plan, const Outcome& out) {
  if (o.eye || o.target) {
    if (!o.eye || !o.target) return out.badOption("--eye and --target go together");
    if (!o.camera.empty()) return out.badOption("--camera and --eye/--target exclude each other");
    if (Len(Sub(*o.target, *o.eye)) == 0) return out.badOption("--eye and --target must differ");
    plan->cameraMode = CameraMode::kEye;
    return true;
  }
  if (o.camera.empty()) return true;
  const int cam = FindByNameOrIndex(m.cameras, o.camera);
  if (cam < 0) return out.badOption(m.file + ": no camera \"" + o.camera + "\" (see --list)");
  for (size_t i = 0; i < m.nodes.size() && plan->cameraNode < 0; ++i)
    if (m.nodes[i].camera == cam) plan->cameraNode = int(i);
  if (plan->cameraNode < 0) return out.badOption(m.file + ": camera \"" + o.camera + "\" is on no node");
  plan->cameraMode = CameraMode::kModel;
  const Camera& c = m.cameras[size_t(cam)];
  plan->modelCamera = &c;
  plan->zoom = c.perspective ? kTanHalfV / std::tan(c.yfov / 2) : 1.0;
  plan->zoomed = std::fabs(plan->zoom - 1) > 1e-6;
  plan->zoomA.r[0][0] = plan->zoomA.r[1][1] = plan->zoom;
  if (!c.perspective)
    out.result->approximated.push_back("orthographic camera \"" + c.name +
                                       "\": a perspective camera with the player's field of view, moved back so the "
                                       "scene's centre plane shows the same height");
  if (c.perspective && c.aspect > 0 && std::fabs(c.aspect - 4.0 / 3.0) > 1e-3)
    out.result->approximated.push_back("camera aspect " + Num(c.aspect) + ": the vertical field of view is kept on 4:3");
  return true;
}

bool PlanBounds(const Model& m, Plan* plan, const Outcome& out) {
  std::vector<Instance>& inst = plan->instances;
  const uint32_t frames = plan->frames();
  Vec3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
  plan->cameraGlobal.assign(frames, Affine());
  std::vector<std::array<Vec3, 2>> localBox(inst.size());
  for (size_t i = 0; i < inst.size(); ++i) {
    Vec3 a{1e300, 1e300, 1e300}, b{-1e300, -1e300, -1e300};
    for (const auto& v : plan->primitive(m, inst[i]).positions) Grow({v[0], v[1], v[2]}, &a, &b);
    localBox[i] = {a, b};
  }
  // A rigid node's own scale, when it never changes, goes into its vertices so
  // that its keys are pure rotations: the player's lighting undoes a key's
  // placement exactly only then. A node whose key would not be a rotation with
  // scale (shear, or the camera's zoom) is baked per frame instead.
  std::vector<char> sheared(inst.size(), 0), scaleFixed(inst.size(), 1);
  Pose pose;
  std::vector<std::array<float, 3>> world;
  for (uint32_t f = 0; f < frames; ++f) {
    if (out.stopped()) return false;
    EvaluatePose(m, plan->animation, plan->times[f], &pose);
    if (f == 0) plan->pose0 = pose;
    if (plan->cameraNode >= 0) plan->cameraGlobal[f] = pose.global[size_t(plan->cameraNode)];
    for (size_t i = 0; i < inst.size(); ++i) {
      const Affine& G = pose.global[size_t(inst[i].node)];
      if (inst[i].deform) {
        BakePrimitive(m, pose, inst[i].node, plan->primitive(m, inst[i]), &world);
        for (const auto& v : world) Grow({v[0], v[1], v[2]}, &lo, &hi);
        continue;
      }
      for (int c = 0; c < 8; ++c)
        Grow(G.apply({localBox[i][c & 1][0], localBox[i][(c >> 1) & 1][1], localBox[i][(c >> 2) & 1][2]}), &lo, &hi);
      // The key's rows: the node's, then the camera's rotation (which keeps
      // orthogonality) and the zoom (which may not).
      Affine k = G;
      if (plan->cameraMode == CameraMode::kModel)
        k = G.then(RigidPart(plan->cameraGlobal[f]).inverse()).then(plan->zoomA);
      Vec3 s;
      std::array<Vec3, 3> r;
      if (!SplitScaleRotation(k, &s, &r)) sheared[i] = 1;
      if (f == 0 && G.det() < 0) inst[i].flip = true;
      if (SplitScaleRotation(G, &s, &r)) {
        if (f == 0) inst[i].ownScale = s;
        for (size_t a = 0; a < 3; ++a)
          if (std::fabs(s[a] - inst[i].ownScale[a]) > 1e-6 * std::max(1.0, std::fabs(s[a]))) scaleFixed[i] = 0;
      }
    }
  }
  for (size_t i = 0; i < inst.size(); ++i) {
    if (!scaleFixed[i] || sheared[i]) inst[i].ownScale = {1, 1, 1};
    if (!scaleFixed[i] && !sheared[i])
      out.result->approximated.push_back("node \"" + m.nodes[size_t(inst[i].node)].name +
                                         "\": animated scale stays in its keys (the player's lighting of it is "
                                         "approximate)");
  }
  for (size_t i = 0; i < inst.size(); ++i)
    if (sheared[i]) {
      inst[i].deform = true;
      out.result->approximated.push_back("mesh \"" + m.meshes[size_t(inst[i].mesh)].name + "\" on node \"" +
                                         m.nodes[size_t(inst[i].node)].name + "\": its placement " +
                                         (plan->zoomed ? "with the camera's zoom " : "") +
                                         "is not a rotation with scale, so it is baked per frame");
    }
  plan->lo = lo;
  plan->hi = hi;
  plan->centre = Mul(Add(lo, hi), 0.5);
  plan->radius = 0.5 * Len(Sub(hi, lo));
  if (!(plan->radius > 0) || !std::isfinite(plan->radius)) plan->radius = 1;
  return true;
}

void PlanViews(const ExportOptions& o, Plan* plan, const Outcome& out) {
  const uint32_t frames = plan->frames();
  plan->full.assign(frames, Affine());
  plan->rigidView.assign(frames, Affine());
  if (plan->cameraMode == CameraMode::kModel) {
    const Camera& cam = *plan->modelCamera;
    for (uint32_t f = 0; f < frames; ++f) {
      Affine g = RigidPart(plan->cameraGlobal[f]);
      if (!cam.perspective) {
        // Orthographic: keep the direction, back off so that the plane through
        // the scene centre shows 2 * ymag metres vertically.
        const Vec3 back = Norm(g.r[2]);
        const double dc = Dot(Sub(g.t, plan->centre), back);
        const double want = cam.ymag / kTanHalfV;
        g.t = Add(g.t, Mul(back, want - dc));
      }
      plan->rigidView[f] = g.inverse();
      plan->full[f] = plan->rigidView[f].then(plan->zoomA).then(kFlipZ);
    }
  } else {
    Vec3& eye = plan->eye;
    Vec3& target = plan->target;
    if (plan->cameraMode == CameraMode::kEye) {
      eye = *o.eye;
      target = *o.target;
    } else {
      eye = AutomaticEye(plan->lo, plan->hi);
      target = plan->centre;
    }
    std::fill(plan->rigidView.begin(), plan->rigidView.end(), LookAt(eye, target));
    if (plan->cameraMode == CameraMode::kEye && o.eyeTo && o.targetTo) {
      // A move from (eye, target) to (eyeTo, targetTo), eased in and out: 3u^2 - 2u^3.
      for (uint32_t f = 1; f < frames; ++f) {
        const double u = double(f) / (frames - 1), e = u * u * (3 - 2 * u);
        auto mix = [e](const Vec3& a, const Vec3& b) { return Add(a, Mul(Sub(b, a), e)); };
        plan->rigidView[f] = LookAt(mix(eye, *o.eyeTo), mix(target, *o.targetTo));
      }
    }
    for (uint32_t f = 0; f < frames; ++f) plan->full[f] = plan->rigidView[f].then(kFlipZ);
    if (plan->cameraMode == CameraMode::kEye && OutOfView(plan->full[0], plan->lo, plan->hi))
      out.result->warnings.push_back("nothing of the model is in view from --eye " + Point(eye) + " towards --target " +
                                     Point(target) + " (its bounds: " + Point(plan->lo) + " to " + Point(plan->hi) + ")");
  }
  if (plan->cameraMode == CameraMode::kModel) {
    // The model camera at frame 0, and the point straight ahead at the distance of the scene's centre.
    const Affine camToWorld = plan->rigidView[0].inverse();
    plan->eye = camToWorld.t;
    const Vec3 ahead = Mul(Norm(camToWorld.r[2]), -1);
    plan->target = Add(plan->eye, Mul(ahead, std::max(Dot(Sub(plan->centre, plan->eye), ahead), 0.1 * plan->radius)));
  }
  const std::vector<Affine>& full = plan->full;
  for (uint32_t f = 1; f < frames && !plan->moving; ++f)
    for (size_t i = 0; i < 3; ++i)
      if (Len(Sub(full[f].r[i], full[0].r[i])) > 1e-9 || Len(Sub(full[f].t, full[0].t)) > 1e-9) plan->moving = true;

  // Uniform scale about the eye: screen positions stay, depths move well
  // inside 0.1 .. 1000.
  double zmax = -1e300;
  for (uint32_t f = 0; f < frames; ++f) zmax = std::max(zmax, full[f].apply(plan->centre)[2] + plan->radius);
  if (zmax > 500) plan->scale = 500 / zmax;
  else if (zmax > 0 && zmax < 5) plan->scale = 50 / zmax;
  if (plan->scale != 1) out.result->converted.push_back("scaled by " + Num(plan->scale, 4) + " about the eye to fit the depth range");

  // Camera keys: static (or the view wanted in the keys) -> identity (the
  // importer makes it diag(1,1,-1)); moving -> the rigid view transform in
  // right-handed camera space.
  plan->viewInKeys = !plan->moving || o.viewInKeys;
  plan->stored.assign(frames, Affine());
  plan->storedInv.assign(frames, Affine());
  plan->cameraBlock.assign(frames, vef::MatrixBlock());
  for (uint32_t f = 0; f < frames; ++f) {
    if (plan->viewInKeys) {
      plan->stored[f] = kFlipZ;
    } else {
      bool ok;
      plan->cameraBlock[f] = Block(plan->rigidView[f], &ok);
      plan->stored[f] = plan->rigidView[f].then(kFlipZ);
    }
    plan->storedInv[f] = plan->stored[f].inverse();
  }
}

void PlanLights(const Model& m, const ExportOptions& o, Plan* plan, const Outcome& out) {
  ExportResult& res = *out.result;
  const std::vector<int> parent = ParentTable(m);
  // True when an animation channel other than morph weights moves node n or one of its ancestors.
  auto moves = [&](int n) {
    if (!plan->animation) return false;
    for (const Channel& c : plan->animation->channels)
      for (int p = n; p >= 0; p = parent[size_t(p)])
        if (c.node == p && c.path != Path::kWeights) return true;
    return false;
  };
  std::vector<PlannedLight>& lights = plan->lights;
  const Vec3& centre = plan->centre;
  const double radius = plan->radius;
  for (size_t n = 0; n < m.nodes.size(); ++n) {
    const int li = m.nodes[n].light;
    if (li < 0) continue;
    const Light& l = m.lights[size_t(li)];
    const Affine& G = plan->pose0.global[n];
    PlannedLight pl{G.t, l.color, l.intensity};
    if (l.type == Light::kDirectional) {
      pl.pos = Add(centre, Mul(Norm(G.r[2]), 20 * radius));
      res.approximated.push_back("directional light \"" + l.name + "\": a distant point light");
    } else {
      const double d = std::max(Len(Sub(G.t, centre)), 0.1 * radius);
      pl.e = l.intensity / (d * d);
      if (l.type == Light::kSpot) res.approximated.push_back("spot light \"" + l.name + "\": a point light (no cone)");
    }
    if (moves(int(n))) res.approximated.push_back("light \"" + l.name + "\" is animated: its position at frame 0 is used");
    lights.push_back(pl);
  }
  double emax = 0;
  for (const PlannedLight& l : lights) emax = std::max(emax, l.e);
  for (PlannedLight& l : lights) l.e = emax > 0 ? l.e / emax : 1.0;
  const size_t own = lights.size();
  if (own > 0 && !o.addLights) {
    const double share = LitShare(m, *plan, lights);
    if (share < 0.5)
      res.warnings.push_back("the model's lights reach " + std::to_string(int(std::lround(share * 100))) +
                             " % of the surface in view (under half): it will look dark; --add-lights adds a key "
                             "and fill light");
  }
  if ((lights.empty() && o.defaultLights) || o.addLights) {
    const Affine camToWorld = plan->full[0].then(kFlipZ).inverse();  // rows: camera axes in world space
    const Vec3 right = Norm(camToWorld.r[0]), up = Norm(camToWorld.r[1]), back = Norm(camToWorld.r[2]);
    auto at = [&](double a, double b, double c) {
      return Add(centre, Mul(Norm(Add(Add(Mul(right, a), Mul(up, b)), Mul(back, c))), 3 * radius));
    };
    lights.push_back({at(-0.5, 0.7, 1.0), {1, 1, 1}, 1.0});
    lights.push_back({at(0.8, 0.1, 0.6), {1, 1, 1}, 0.45});
    res.converted.push_back(own > 0 ? std::to_string(own) + " light(s) of the model, intensities scaled so the "
                                      "strongest is 1, and the key and fill light (--add-lights)"
                                    : "2 default lights (key and fill)");
  } else if (!lights.empty()) {
    res.converted.push_back(std::to_string(lights.size()) + " light(s), intensities scaled so the strongest is 1");
  }
  if (plan->moving && !lights.empty() && plan->cameraMode == CameraMode::kModel && plan->zoomed)
    res.approximated.push_back("moving zoomed camera: lights follow the camera of frame 0");
}

double LitShare(const Model& m, const Plan& plan, const std::vector<PlannedLight>& lights) {
  double seen = 0, lit = 0;
  std::vector<std::array<float, 3>> world;
  for (const Instance& in : plan.instances) {
    const Primitive& p = plan.primitive(m, in);
    if (in.deform) {
      BakePrimitive(m, plan.pose0, in.node, p, &world);
    } else {
      const Affine& G = plan.pose0.global[size_t(in.node)];
      world.resize(p.positions.size());
      for (size_t v = 0; v < p.positions.size(); ++v) {
        const Vec3 w = G.apply({p.positions[v][0], p.positions[v][1], p.positions[v][2]});
        world[v] = {float(w[0]), float(w[1]), float(w[2])};
      }
    }
    for (const auto& t : p.triangles) {
      Vec3 c[3];
      for (size_t k = 0; k < 3; ++k) c[k] = {world[t[k]][0], world[t[k]][1], world[t[k]][2]};
      Vec3 n = Cross(Sub(c[1], c[0]), Sub(c[2], c[0]));  // counter-clockwise: outward
      if (in.flip) n = Mul(n, -1);
      const double area = Len(n) / 2;
      const Vec3 mid = Mul(Add(Add(c[0], c[1]), c[2]), 1.0 / 3);
      if (!(area > 0) || Dot(n, Sub(plan.eye, mid)) <= 0) continue;
      seen += area;
      n = Norm(n);
      for (const PlannedLight& l : lights) {
        const double cmax = std::max({l.color[0], l.color[1], l.color[2]});
        if (Dot(n, Norm(Sub(l.pos, mid))) * l.e * std::min(cmax, 1.0) >= kLitEnough) {
          lit += area;
          break;
        }
      }
    }
  }
  return seen > 0 ? lit / seen : 1.0;
}

void PlanTextureSlots(const Model& m, Plan* plan, const Outcome& out) {
  int textures = 0;
  plan->materialTexture.assign(m.materials.size(), -1);
  for (size_t i = 0; i < m.materials.size(); ++i) {
    if (m.materials[i].image < 0) continue;
    if (textures >= kMaxTextures) {
      out.result->dropped.push_back("texture of material \"" + m.materials[i].name + "\": the player holds 100 textures");
      continue;
    }
    plan->materialTexture[i] = textures++;
  }
  for (Instance& in : plan->instances) {
    const Primitive& p = plan->primitive(m, in);
    in.textured = p.material >= 0 && plan->materialTexture[size_t(p.material)] >= 0 && !p.uvs.empty();
  }
  // Morph meshes are drawn unlit in white times their texture, so an untextured
  // one gets a one-colour texture of its base colour to keep its look.
  plan->solidSlot.assign(m.materials.size() + 1, -1);  // last entry: the default material
  for (const Instance& in : plan->instances) {
    if (!in.deform || in.lit || in.textured) continue;
    const int mi = plan->primitive(m, in).material;
    int& slot = plan->solidSlot[mi >= 0 ? size_t(mi) : m.materials.size()];
    if (slot >= 0) continue;
    if (textures >= kMaxTextures) {
      out.result->dropped.push_back("colour of a baked mesh: the player holds 100 textures, it shows white");
      continue;
    }
    slot = textures++;
  }
}

bool PlanChunks(const Model& m, Plan* plan, const Outcome& out) {
  for (size_t i = 0; i < plan->instances.size(); ++i)
    SplitTriangles(plan->primitive(m, plan->instances[i]), plan->instances[i].flip, int(i), &plan->chunks);
  const uint64_t keys = uint64_t(plan->frames()) * plan->chunks.size();
  if (keys > uint64_t(fmt::kMaxObjectKeys))
    return out.refuse(m.file + ": " + std::to_string(plan->frames()) + " frames x " +
                      std::to_string(plan->chunks.size()) + " meshes need " + std::to_string(keys) +
                      " object keys, the format holds " + std::to_string(fmt::kMaxObjectKeys) +
                      " (use fewer frames: --fps or --seconds)");
  return true;
}

std::string ListModel(const Model& m, const ExportOptions& options) {
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
  // Bounds and the camera as a conversion with these options would have them,
  // from at most 100 poses.
  ExportOptions o = options;
  o.musicSeconds.reset();
  o.seconds.reset();
  ExportResult res;
  std::string error;
  ExportFailure failure;
  const Outcome out{&res, &error, &failure, nullptr};
  Plan plan;
  if (PlanFrames(m, o, &plan, out) && plan.frames() > 100) {
    o.fps = 99 / std::max(plan.duration, 1e-3);
    plan = Plan();
    PlanFrames(m, o, &plan, out);
  }
  if (PlanInstances(m, &plan, out) && PlanCamera(m, o, &plan, out) && PlanBounds(m, &plan, out)) {
    PlanViews(o, &plan, out);
    s += "Bounds" + (plan.animation ? " over animation \"" + plan.animation->name + "\"" : std::string(" at rest")) +
         ": " + Point(plan.lo) + " to " + Point(plan.hi) + "\n";
    s += std::string(plan.cameraMode == CameraMode::kAuto ? "Automatic camera" : "Camera") + ": eye " + Point(plan.eye) +
         ", target " + Point(plan.target) + "\n";
  } else {
    s += "Bounds: none (" + error + ")\n";
  }
  return s;
}



void PlanBaked(Plan* plan, const Outcome& out) {
  // The player relights every rigid key each frame: 3 corner-light
  // evaluations per face and light. Baked meshes as rigid ones add theirs.
  uint64_t faces = 0, baked = 0;
  for (const Chunk& c : plan->chunks) faces += c.faces.size();
  for (const Instance& in : plan->instances) baked += in.deform;
  const uint64_t lighting = 3 * faces * plan->lights.size();
  const bool fits = lighting <= Scene::kMaxFrameLighting;
  for (Instance& in : plan->instances) in.lit = in.deform && fits;
  if (baked > 0 && !fits)
    out.result->approximated.push_back("skinned and morphing meshes are drawn unlit (white times their texture): "
                                       "lit, a frame would need " + std::to_string(lighting) +
                                       " corner-light evaluations, above the player's " +
                                       std::to_string(Scene::kMaxFrameLighting) + " (fewer lights or triangles)");
}

void Summarise(const Model& m, const ExportOptions& o, const Plan& plan, ExportResult* res) {
  size_t rigid = 0, deform = 0, lit = 0, tris = 0;
  for (const Instance& in : plan.instances) (in.deform ? deform : rigid)++, lit += in.lit;
  for (const Chunk& c : plan.chunks) tris += c.faces.size();
  res->converted.push_back(std::to_string(plan.instances.size()) + " mesh part(s) in " +
                           std::to_string(plan.chunks.size()) + " scene meshes, " + std::to_string(tris) +
                           " triangles: " + std::to_string(rigid) + " rigid, " + std::to_string(deform) +
                           " baked per frame (skin, morph targets" +
                           (deform == 0 ? ")" : lit == deform ? "; a lit mesh per frame)" : "; unlit morph lists)"));
  std::string camera;
  switch (plan.cameraMode) {
    case CameraMode::kModel:
      camera = "model camera \"" + plan.modelCamera->name + "\"" + (plan.zoomed ? ", zoom " + Num(plan.zoom, 4) : "");
      break;
    case CameraMode::kEye: camera = "--eye/--target"; break;
    case CameraMode::kAuto: camera = "automatic, a three-quarter view framing the animated bounds"; break;
  }
  res->converted.push_back("camera: " + camera + (plan.moving ? ", moving" : ", fixed") + ", eye " + Point(plan.eye) +
                           ", target " + Point(plan.target) + (plan.moving ? " at frame 0" : ""));
  res->converted.push_back("animated bounds " + Point(plan.lo) + " to " + Point(plan.hi));
  if (plan.animation)
    res->converted.push_back("animation \"" + plan.animation->name + "\" (" + Num(plan.duration) + " s)" +
                             (o.loop ? ", looped" : ""));
  int textures = 0;
  for (int t : plan.materialTexture) textures += t >= 0;
  if (textures > 0)
    res->converted.push_back(std::to_string(textures) + " texture(s) of at most " + std::to_string(o.textureSize) + " x " +
                             std::to_string(o.textureSize) + " (--texture-size), " +
                             (o.palette ? "256-colour palettes (--palette)" : "RGB565"));
  for (const std::string& w : m.warnings) res->dropped.push_back(w);
}

namespace {

// Writes a plan as records. Runs twice, to count and then to write: `sink`
// receives the record bytes as they are produced and returns false to stop.
class SceneEmitter {
 public:
  using Sink = std::function<bool(std::vector<uint8_t>&&)>;

  SceneEmitter(const Model& m, const ExportOptions& o, const Plan& plan) : m_(m), o_(o), plan_(plan) {
    texRgb_.resize(m.materials.size());
  }

  // Emits the scene into `w` (which keeps the counts for the header), its
  // frames numbered from `firstFrame`; the lights only with `withLights`.
  // `lists` counts the vertex lists written.
  bool emit(const Sink& sink, vef::SceneWriter* w, uint64_t* lists, const Outcome& out, uint32_t firstFrame = 0,
            bool withLights = true) {
    if (!materials(w, out)) return false;
    solidColours(w);
    meshes(w, lists);
    if (withLights) lights(w);
    if (!sink(w->takeBody())) return false;
    FrameState state(plan_);
    firstFrame_ = firstFrame;
    for (uint32_t f = 0; f < plan_.frames(); ++f) {
      if (out.stopped()) return false;
      if (!frame(f, &state, w, lists, out) || !sink(w->takeBody())) return false;
    }
    return true;
  }

 private:
  // What frames carry over to the next: the last morph list of each chunk.
  struct FrameState {
    explicit FrameState(const Plan& plan)
        : baked(plan.instances.size()),
          last(plan.chunks.size()),
          lastRef(plan.chunks.size(), -1),
          lastMesh(plan.chunks.size(), 0),
          byTime(plan.chunks.size()) {}
    Pose pose;
    std::vector<std::vector<std::array<float, 3>>> baked;  // per instance, world positions
    std::vector<std::vector<float>> last;                   // per chunk, its last list
    std::vector<int32_t> lastRef;                           // per chunk, that list's record, -1 none
    std::vector<int32_t> lastMesh;                          // per lit chunk, the mesh of that list
    // Per baked chunk, the list and mesh already written for an animation time,
    // in whole microseconds: a looped animation shows the same poses again.
    std::vector<std::unordered_map<int64_t, std::pair<int32_t, int32_t>>> byTime;
    std::vector<float> q;
  };

  // glTF's default material (white), then one material per model material,
  // with its texture when it has a slot.
  bool materials(vef::SceneWriter* w, const Outcome& out) {
    vef::MaterialRecord defMat;
    defMat.color0.mode = vef::ColorField::kWhite;
    defaultMaterial_ = w->addMaterial(defMat);
    matRef_.assign(m_.materials.size(), 0);
    for (size_t i = 0; i < m_.materials.size(); ++i) {
      const Material& mat = m_.materials[i];
      vef::MaterialRecord r;
      r.diffuse = vef::ColorField::Bytes(LinearToSrgb8(mat.baseColor[0]), LinearToSrgb8(mat.baseColor[1]),
                                         LinearToSrgb8(mat.baseColor[2]));
      if (plan_.materialTexture[i] >= 0) {
        const Image& im = m_.images[size_t(mat.image)];
        const int side = TextureSide(im, o_.textureSize);
        if (texRgb_[i].empty()) texRgb_[i] = ResampleRgb(im, side, {mat.baseColor[0], mat.baseColor[1], mat.baseColor[2]});
        vef::TextureRecord t;
        t.side = uint32_t(side);
        if (o_.palette) {
          t.rgb565 = false;
          if (!ToPalette(texRgb_[i], side, &t.palette, &t.indices))
            return out.refuse(m_.file + ": the palette quantiser failed on image \"" + im.name + "\"");
        } else {
          t.texels = ToRgb565(texRgb_[i]);
        }
        r.texture = w->addTexture(t);
      }
      matRef_[i] = w->addMaterial(r);
    }
    return true;
  }

  // One-colour textures for baked untextured meshes, one UV pair for all their corners.
  void solidColours(vef::SceneWriter* w) {
    solidMatRef_.assign(plan_.solidSlot.size(), 0);
    centreUV_ = 0;
    for (size_t i = 0; i < plan_.solidSlot.size(); ++i) {
      if (plan_.solidSlot[i] < 0) continue;
      const std::array<double, 4> c = i < m_.materials.size() ? m_.materials[i].baseColor : std::array<double, 4>{1, 1, 1, 1};
      Image one;
      one.width = one.height = 1;
      one.rgba = {255, 255, 255, 255};
      vef::TextureRecord t;
      t.side = 32;
      t.texels = ToRgb565(ResampleRgb(one, 32, {c[0], c[1], c[2]}));
      vef::MaterialRecord r;
      r.texture = w->addTexture(t);
      solidMatRef_[i] = w->addMaterial(r);
      if (!centreUV_) {
        vef::UVListRecord uv;
        uv.coords = {{0.5f, 0.5f}};
        centreUV_ = w->addUVList(uv);
      }
    }
  }

  // One mesh per chunk: rigid ones with their vertex list (mesh coordinates x
  // scale), morph ones without. A lit baked chunk gets a mesh per frame, all
  // alike but for the vertex list: kept in `perFrame_` and written by frame().
  void meshes(vef::SceneWriter* w, uint64_t* lists) {
    meshRef_.assign(plan_.chunks.size(), 0);
    perFrame_.assign(plan_.chunks.size(), vef::MeshRecord());
    for (size_t c = 0; c < plan_.chunks.size(); ++c) {
      const Chunk& ch = plan_.chunks[c];
      const Instance& in = plan_.instances[size_t(ch.instance)];
      const Primitive& p = plan_.primitive(m_, in);
      vef::MeshRecord r;
      r.faces = ch.faces;
      r.byteIndices = ch.vertices.size() <= 256;
      r.material = p.material >= 0 ? matRef_[size_t(p.material)] : defaultMaterial_;
      const size_t solid = p.material >= 0 ? size_t(p.material) : m_.materials.size();
      if (in.deform && !in.lit && !in.textured && plan_.solidSlot[solid] >= 0) {
        r.material = solidMatRef_[solid];
        r.uvList = centreUV_;
        r.uvs.assign(ch.faces.size(), vef::Index3{{0, 0, 0}});
      } else if (in.textured) {
        vef::UVListRecord uv;
        uv.coords.reserve(ch.vertices.size());
        // glTF's v grows downward over the image; the file stores 1 - v.
        for (uint32_t v : ch.vertices) uv.coords.push_back({p.uvs[v][0], 1.0f - p.uvs[v][1]});
        r.uvList = w->addUVList(uv);
        r.uvs = ch.faces;
      }
      if (!in.deform) {
        vef::VertexListRecord list;
        list.positions.reserve(ch.vertices.size());
        const Vec3& k = in.ownScale;
        const double scale = plan_.scale;
        for (uint32_t v : ch.vertices)
          list.positions.push_back({float(p.positions[v][0] * k[0] * scale), float(p.positions[v][1] * k[1] * scale),
                                    float(p.positions[v][2] * k[2] * scale)});
        r.vertexList = w->addVertexList(list);
        ++*lists;
      }
      if (in.lit) perFrame_[c] = std::move(r);
      else meshRef_[c] = w->addMesh(r);
    }
  }

  void lights(vef::SceneWriter* w) {
    for (const PlannedLight& l : plan_.lights) {
      vef::LightRecord r;
      double cmax = std::max({l.color[0], l.color[1], l.color[2]});
      // The hue as the device shows it: the linear colour over its strongest channel, encoded.
      for (size_t k = 0; k < 3; ++k) r.color[k] = cmax > 0 ? LinearToSrgb8(l.color[k] / cmax) : 255;
      r.intensity = float(l.e * std::min(cmax, 1.0));
      const Vec3 p = plan_.toStored(0, l.pos);
      vef::MatrixBlock b;
      b.translation = vef::Float3{{float(p[0]), float(p[1]), float(p[2])}};
      r.matrix = b;
      w->addLight(r);
    }
  }

  // Frame f: the camera key, then one object key per chunk. Rigid chunks get
  // their placement. Baked ones get their pose as a vertex list, shared with
  // the previous frame's when the camera is fixed and the shape unchanged, or
  // with an earlier frame's at the same animation time:
  // lit ones as a rigid mesh of their own (its key links to no other frame's,
  // so the player holds it for the frame), the others as a morph list.
  bool frame(uint32_t f, FrameState* s, vef::SceneWriter* w, uint64_t* lists, const Outcome& out) {
    EvaluatePose(m_, plan_.animation, plan_.times[f], &s->pose);
    vef::KeyRecord cam;
    cam.frame = int32_t(firstFrame_ + f);
    cam.camera = true;
    if (!plan_.viewInKeys) cam.matrix = plan_.cameraBlock[f];
    w->addKey(cam);
    for (size_t i = 0; i < plan_.instances.size(); ++i)
      if (plan_.instances[i].deform)
        BakePrimitive(m_, s->pose, plan_.instances[i].node, plan_.primitive(m_, plan_.instances[i]), &s->baked[i]);
    for (size_t c = 0; c < plan_.chunks.size(); ++c) {
      const Chunk& ch = plan_.chunks[c];
      const Instance& in = plan_.instances[size_t(ch.instance)];
      vef::KeyRecord key;
      key.frame = int32_t(firstFrame_ + f);
      key.object = true;
      key.mesh = meshRef_[c];
      if (!in.deform) {
        Affine k = s->pose.global[size_t(in.node)];
        for (size_t a = 0; a < 3; ++a) k.r[a] = Mul(k.r[a], 1 / in.ownScale[a]);
        k = k.then(plan_.full[f]);
        k.t = Mul(k.t, plan_.scale);
        bool ok;
        key.matrix = Block(k.then(plan_.storedInv[f]), &ok);
        if (!ok) return out.refuse(m_.file + ": node \"" + m_.nodes[size_t(in.node)].name + "\": placement cannot be written");
      } else {
        // A morph key's diag(1,1,-1) undoes the fixed camera's z flip, so its list
        // is in view space. A lit mesh keeps the flip in its vertices (its key
        // is the identity): mirrored, its normals would point inward.
        const bool flipBack = plan_.viewInKeys && !in.lit;
        // With the camera fixed the stored pose depends on the animation time
        // alone, so a time already baked reuses its records. Times a loop
        // brings round again differ in their last bits (k * span / frames is
        // not exact), far below a microsecond.
        const int64_t tick = std::llround(plan_.times[f] * 1e6);
        const auto seen = plan_.viewInKeys ? s->byTime[c].find(tick) : s->byTime[c].end();
        if (seen != s->byTime[c].end()) {
          s->lastRef[c] = seen->second.first;
          s->lastMesh[c] = seen->second.second;
          s->last[c].clear();  // the next frame compares against nothing
        } else {
          bakeChunk(f, c, flipBack, s, w, lists);
          if (plan_.viewInKeys) s->byTime[c].emplace(tick, std::make_pair(s->lastRef[c], s->lastMesh[c]));
        }
        if (in.lit) {
          key.mesh = s->lastMesh[c];
        } else {
          key.morph = s->lastRef[c];
          if (flipBack) key.matrix.scale = vef::Float3{{1, 1, -1}};
        }
      }
      w->addKey(key);
    }
    return true;
  }

  // Chunk c's pose at frame f in stored coordinates; a new vertex list (and,
  // lit, a mesh) unless it equals the previous frame's with the camera fixed.
  void bakeChunk(uint32_t f, size_t c, bool flipBack, FrameState* s, vef::SceneWriter* w, uint64_t* lists) {
    const Chunk& ch = plan_.chunks[c];
    const Instance& in = plan_.instances[size_t(ch.instance)];
    std::vector<float>& q = s->q;
    q.resize(ch.vertices.size() * 3);
    const auto& src = s->baked[size_t(ch.instance)];
    for (size_t v = 0; v < ch.vertices.size(); ++v) {
      const auto& p = src[ch.vertices[v]];
      Vec3 st = plan_.toStored(f, {p[0], p[1], p[2]});
      if (flipBack) st[2] = -st[2];
      for (size_t k = 0; k < 3; ++k) q[3 * v + k] = float(st[k]);
    }
    if (!plan_.viewInKeys || s->lastRef[c] < 0 || q != s->last[c]) {
      vef::VertexListRecord list;
      list.positions.resize(ch.vertices.size());
      for (size_t v = 0; v < ch.vertices.size(); ++v) list.positions[v] = {q[3 * v], q[3 * v + 1], q[3 * v + 2]};
      s->lastRef[c] = w->addVertexList(list);
      s->last[c] = q;
      ++*lists;
      if (in.lit) {
        perFrame_[c].vertexList = s->lastRef[c];
        s->lastMesh[c] = w->addMesh(perFrame_[c]);
      }
    }
  }

  const Model& m_;
  const ExportOptions& o_;
  const Plan& plan_;
  std::vector<std::vector<uint8_t>> texRgb_;  // per material, its resampled texture (kept between runs)
  int32_t defaultMaterial_ = 0, centreUV_ = 0;
  uint32_t firstFrame_ = 0;
  std::vector<int32_t> matRef_, solidMatRef_, meshRef_;
  std::vector<vef::MeshRecord> perFrame_;     // per lit baked chunk, its mesh but for the vertex list
};

}  // namespace

namespace {

// Runs `emitAll` twice, to count and then to write: the size is known before a
// byte reaches the disk, and the file is written through a temporary.
bool WriteScene(const std::string& outPath, uint64_t maxSize,
                const std::function<bool(const SceneEmitter::Sink&, vef::SceneWriter*)>& emitAll, uint64_t* total,
                const Outcome& out) {
  *total = fmt::kHeaderSize;
  vef::SceneWriter counted;
  if (!emitAll([&](std::vector<uint8_t>&& b) { *total += b.size(); return true; }, &counted)) return false;
  if (*total > maxSize)
    return out.refuse(outPath + ": the scene would be " + std::to_string(*total) + " bytes, above --max-size " +
                      std::to_string(maxSize) + " (fewer frames, --fps, --seconds or a larger --max-size)");
  vef::AtomicFile file;
  std::string* error = out.error;
  if (!file.open(outPath, error)) return false;
  std::vector<uint8_t> zero(fmt::kHeaderSize, 0);
  if (!file.write(zero.data(), zero.size(), error)) return false;
  bool writeOk = true;
  vef::SceneWriter written;
  const bool ok =
      emitAll([&](std::vector<uint8_t>&& b) { return writeOk = file.write(b.data(), b.size(), error); }, &written);
  if (!ok || !writeOk) {
    file.abort();
    return false;
  }
  return file.writeAt(0, written.headerBytes(), error) && file.commit(error);
}

}  // namespace

bool WriteShots(const std::vector<Shot>& shots, const std::vector<vef::LightRecord>& lights,
                const std::string& outPath, uint64_t maxSize, uint64_t* bytes, uint64_t* lists, const Outcome& out) {
  std::vector<SceneEmitter> emitters;
  emitters.reserve(shots.size());
  for (const Shot& s : shots) emitters.emplace_back(*s.model, s.options, s.plan);
  auto emitAll = [&](const SceneEmitter::Sink& sink, vef::SceneWriter* w) {
    *lists = 0;
    for (const vef::LightRecord& l : lights) w->addLight(l);
    for (size_t i = 0; i < shots.size(); ++i)
      if (!emitters[i].emit(sink, w, lists, out, shots[i].firstFrame, false)) return false;
    return true;
  };
  return WriteScene(outPath, maxSize, emitAll, bytes, out);
}

bool ExportScene(const Model& m, const ExportOptions& o, const std::string& outPath,
                 const volatile sig_atomic_t* interrupted, ExportResult* result, std::string* error,
                 ExportFailure* failure) {
  *failure = ExportFailure::kFailed;
  *result = ExportResult();
  const Outcome out{result, error, failure, interrupted};
  Plan plan;
  if (!PlanFrames(m, o, &plan, out) || !PlanInstances(m, &plan, out) || !PlanCamera(m, o, &plan, out) ||
      !PlanBounds(m, &plan, out))
    return false;
  PlanViews(o, &plan, out);
  PlanLights(m, o, &plan, out);
  if (!PlanChunks(m, &plan, out)) return false;
  PlanBaked(&plan, out);
  PlanTextureSlots(m, &plan, out);
  Summarise(m, o, plan, result);

  SceneEmitter emitter(m, o, plan);
  uint64_t lists = 0;
  auto emitAll = [&](const SceneEmitter::Sink& sink, vef::SceneWriter* w) {
    lists = 0;
    return emitter.emit(sink, w, &lists, out);
  };
  uint64_t total = 0;
  if (!WriteScene(outPath, o.maxSize, emitAll, &total, out)) return false;
  result->bytes = total;
  result->converted.push_back(std::to_string(plan.frames()) + " frames at " + Num(o.fps, 2) + " fps, " +
                              std::to_string(lists) + " vertex lists" +
                              (plan.moving ? "" : " (unchanged shapes shared)"));
  *failure = ExportFailure::kNone;
  return true;
}

}  // namespace vefexport
