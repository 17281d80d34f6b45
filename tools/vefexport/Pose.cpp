#include "Pose.h"

#include <algorithm>
#include <cmath>

namespace vefexport {

// ---------------------------------------------------------------------------
// Affine (row-vector form, see Model.h)

Affine Affine::FromTRS(const Vec3& t, const Quat& q, const Vec3& s) {
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  // Rows of the rotation in row-vector form: the transposed column-vector matrix.
  const double m[3][3] = {
      {1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)},
      {2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)},
      {2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)},
  };
  Affine a;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a.r[i][j] = m[i][j] * s[i];  // scale along the node's own axes first
  a.t = t;
  return a;
}

Affine Affine::FromColumnMajor(const double m[16]) {
  Affine a;
  for (int i = 0; i < 3; ++i) a.r[i] = {m[4 * i], m[4 * i + 1], m[4 * i + 2]};
  a.t = {m[12], m[13], m[14]};
  return a;
}

Vec3 Affine::applyLinear(const Vec3& p) const {
  Vec3 o;
  for (int j = 0; j < 3; ++j) o[j] = p[0] * r[0][j] + p[1] * r[1][j] + p[2] * r[2][j];
  return o;
}

Vec3 Affine::apply(const Vec3& p) const {
  Vec3 o = applyLinear(p);
  for (int j = 0; j < 3; ++j) o[j] += t[j];
  return o;
}

Affine Affine::then(const Affine& b) const {
  Affine o;
  for (int i = 0; i < 3; ++i) o.r[i] = b.applyLinear(r[i]);
  o.t = b.apply(t);
  return o;
}

double Affine::det() const {
  return r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) - r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
         r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
}

Affine Affine::inverse() const {
  Affine o;
  const double d = det();
  if (d == 0 || !std::isfinite(d)) {
    o.r = {{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}};
    o.t = {0, 0, 0};
    return o;
  }
  const auto& m = r;
  o.r[0] = {(m[1][1] * m[2][2] - m[1][2] * m[2][1]) / d, (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / d,
            (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / d};
  o.r[1] = {(m[1][2] * m[2][0] - m[1][0] * m[2][2]) / d, (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / d,
            (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / d};
  o.r[2] = {(m[1][0] * m[2][1] - m[1][1] * m[2][0]) / d, (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / d,
            (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / d};
  Vec3 nt = o.applyLinear(t);
  o.t = {-nt[0], -nt[1], -nt[2]};
  return o;
}

// ---------------------------------------------------------------------------
// Sampling

namespace {

void Normalise(double* q) {
  const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (n > 0)
    for (int i = 0; i < 4; ++i) q[i] /= n;
}

}  // namespace

void SampleChannel(const Channel& c, double t, std::vector<double>* out) {
  const size_t w = size_t(c.width), n = c.times.size();
  const bool cubic = c.interpolation == Interpolation::kCubicSpline;
  const size_t stride = cubic ? 3 * w : w;
  const size_t valueOffset = cubic ? w : 0;  // cubic keys: in-tangent, value, out-tangent
  out->assign(w, 0.0);
  auto value = [&](size_t k, size_t i) { return double(c.values[k * stride + valueOffset + i]); };
  size_t k0;
  double s = 0;
  if (n == 1 || t <= c.times[0]) {
    k0 = 0;
  } else if (t >= c.times[n - 1]) {
    k0 = n - 1;
  } else {
    // Last key with time <= t.
    k0 = size_t(std::upper_bound(c.times.begin(), c.times.end(), float(t)) - c.times.begin()) - 1;
    // float(t) may round up past a key; step back while the key lies beyond t.
    while (k0 > 0 && double(c.times[k0]) > t) --k0;
    if (k0 >= n - 1) k0 = n - 2;
    const double t0 = c.times[k0], t1 = c.times[k0 + 1];
    s = t1 > t0 ? (t - t0) / (t1 - t0) : 0.0;
  }
  const bool between = s > 0 && k0 + 1 < n;
  if (!between || c.interpolation == Interpolation::kStep) {
    for (size_t i = 0; i < w; ++i) (*out)[i] = value(k0, i);
  } else if (c.interpolation == Interpolation::kLinear) {
    if (c.path == Path::kRotation) {
      double a[4], b[4];
      for (int i = 0; i < 4; ++i) a[i] = value(k0, size_t(i)), b[i] = value(k0 + 1, size_t(i));
      Normalise(a);
      Normalise(b);
      double d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
      if (d < 0) {  // the shorter arc
        d = -d;
        for (double& x : b) x = -x;
      }
      double ka, kb;
      if (d > 0.9995) {  // nearly equal: linear, normalised below
        ka = 1 - s;
        kb = s;
      } else {
        const double th = std::acos(std::min(1.0, d)), sn = std::sin(th);
        ka = std::sin((1 - s) * th) / sn;
        kb = std::sin(s * th) / sn;
      }
      for (int i = 0; i < 4; ++i) (*out)[size_t(i)] = ka * a[i] + kb * b[i];
    } else {
      for (size_t i = 0; i < w; ++i) (*out)[i] = (1 - s) * value(k0, i) + s * value(k0 + 1, i);
    }
  } else {
    const double td = double(c.times[k0 + 1]) - double(c.times[k0]);
    const double s2 = s * s, s3 = s2 * s;
    const double h00 = 2 * s3 - 3 * s2 + 1, h10 = s3 - 2 * s2 + s, h01 = -2 * s3 + 3 * s2, h11 = s3 - s2;
    for (size_t i = 0; i < w; ++i) {
      const double v0 = value(k0, i), v1 = value(k0 + 1, i);
      const double b0 = c.values[k0 * stride + 2 * w + i];   // out-tangent of key k0
      const double a1 = c.values[(k0 + 1) * stride + i];     // in-tangent of key k0+1
      (*out)[i] = h00 * v0 + h10 * td * b0 + h01 * v1 + h11 * td * a1;
    }
  }
  if (c.path == Path::kRotation) Normalise(out->data());
}

// ---------------------------------------------------------------------------
// Pose

void EvaluatePose(const Model& m, int animation, double t, Pose* pose) {
  EvaluatePose(m, animation >= 0 && size_t(animation) < m.animations.size() ? &m.animations[size_t(animation)] : nullptr,
               t, pose);
}

Animation AllAnimations(const Model& m) {
  Animation all;
  all.name = "all";
  for (const Animation& a : m.animations) {
    all.channels.insert(all.channels.end(), a.channels.begin(), a.channels.end());
    all.duration = std::max(all.duration, a.duration);
  }
  return all;
}

void EvaluatePose(const Model& m, const Animation* animation, double t, Pose* pose) {
  const size_t n = m.nodes.size();
  std::vector<Vec3> T(n), S(n);
  std::vector<Quat> R(n);
  pose->weights.assign(n, {});
  for (size_t i = 0; i < n; ++i) {
    const Node& nd = m.nodes[i];
    T[i] = nd.translation;
    R[i] = nd.rotation;
    S[i] = nd.scale;
    if (nd.mesh >= 0) {
      const Mesh& mesh = m.meshes[size_t(nd.mesh)];
      size_t targets = 0;
      for (const Primitive& p : mesh.primitives) targets = std::max(targets, p.targets.size());
      auto& w = pose->weights[i];
      w.assign(targets, 0.0);
      const std::vector<float>& d = !nd.weights.empty() ? nd.weights : mesh.weights;
      for (size_t k = 0; k < targets && k < d.size(); ++k) w[k] = d[k];
    }
  }
  std::vector<double> v;
  if (animation) {
    for (const Channel& c : animation->channels) {
      const size_t i = size_t(c.node);
      if (m.nodes[i].hasMatrix && c.path != Path::kWeights) continue;
      SampleChannel(c, t, &v);
      switch (c.path) {
        case Path::kTranslation: T[i] = {v[0], v[1], v[2]}; break;
        case Path::kRotation: R[i] = {v[0], v[1], v[2], v[3]}; break;
        case Path::kScale: S[i] = {v[0], v[1], v[2]}; break;
        case Path::kWeights: {
          auto& w = pose->weights[i];
          for (size_t k = 0; k < w.size() && k < v.size(); ++k) w[k] = v[k];
          break;
        }
      }
    }
  }
  pose->global.assign(n, Affine());
  // Roots first, then children: a child's global is its local, then the parent's global.
  std::vector<int> stack;
  std::vector<char> done(n, 0);
  auto local = [&](size_t i) {
    const Node& nd = m.nodes[i];
    return nd.hasMatrix ? nd.matrix : Affine::FromTRS(T[i], R[i], S[i]);
  };
  std::vector<int> parent(n, -1);
  for (size_t i = 0; i < n; ++i)
    for (int c : m.nodes[i].children) parent[size_t(c)] = int(i);
  for (size_t i = 0; i < n; ++i) {
    if (parent[i] >= 0) continue;
    stack.push_back(int(i));
    pose->global[i] = local(i);
    while (!stack.empty()) {
      const int p = stack.back();
      stack.pop_back();
      for (int c : m.nodes[size_t(p)].children) {
        pose->global[size_t(c)] = local(size_t(c)).then(pose->global[size_t(p)]);
        stack.push_back(c);
      }
    }
  }
}

bool IsDeforming(const Model& m, int node, const Primitive& p) {
  return m.nodes[size_t(node)].skin >= 0 && !p.joints.empty() ? true : !p.targets.empty();
}

void BakePrimitive(const Model& m, const Pose& pose, int node, const Primitive& p,
                   std::vector<std::array<float, 3>>* world) {
  const Node& nd = m.nodes[size_t(node)];
  const size_t nv = p.positions.size();
  world->resize(nv);
  const std::vector<double>& w = pose.weights[size_t(node)];
  const Affine& G = pose.global[size_t(node)];
  const bool skinned = nd.skin >= 0 && !p.joints.empty();
  std::vector<Affine> joint;
  if (skinned) {
    // Joint matrices per glTF: inverse(G_mesh) x G_joint x IBM (column-vector
    // order) give mesh-node space, and the mesh node's G_mesh then gives world
    // space; the two mesh-node factors cancel, so world = G_joint x IBM x p.
    const Skin& s = m.skins[size_t(nd.skin)];
    joint.resize(s.joints.size());
    for (size_t j = 0; j < s.joints.size(); ++j) joint[j] = s.inverseBind[j].then(pose.global[size_t(s.joints[j])]);
  }
  for (size_t v = 0; v < nv; ++v) {
    Vec3 q{p.positions[v][0], p.positions[v][1], p.positions[v][2]};
    for (size_t k = 0; k < p.targets.size() && k < w.size(); ++k) {
      if (w[k] == 0) continue;
      for (int i = 0; i < 3; ++i) q[size_t(i)] += w[k] * p.targets[k][v][size_t(i)];
    }
    Vec3 o;
    if (skinned) {
      const auto& jw = p.weights[v];
      const double sum = double(jw[0]) + jw[1] + jw[2] + jw[3];
      if (sum > 0) {
        o = {0, 0, 0};
        for (int k = 0; k < 4; ++k) {
          if (jw[size_t(k)] == 0) continue;
          const Vec3 r = joint[p.joints[v][size_t(k)]].apply(q);
          const double f = jw[size_t(k)] / sum;
          for (int i = 0; i < 3; ++i) o[size_t(i)] += f * r[size_t(i)];
        }
      } else {
        o = G.apply(q);
      }
    } else {
      o = G.apply(q);
    }
    (*world)[v] = {float(o[0]), float(o[1]), float(o[2])};
  }
}

}  // namespace vefexport
