// glTF 2.0 into the intermediate model, through tinygltf (JSON, GLB, data URIs,
// external files). tinygltf parses; every accessor is then read here with its
// ranges checked against its buffer view and buffer, because the parser does
// not bound them. Images are kept as bytes by tinygltf and decoded here.
#include <stb_image.h>
#include <sys/stat.h>
#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cerrno>
#include <functional>
#include <fstream>
#include <iterator>

#include "Model.h"

namespace vefexport {

namespace {

namespace tg = tinygltf;

// Upper bound on the components of one accessor: far above any real model, low
// enough that a hostile count cannot make us allocate gigabytes.
constexpr size_t kMaxElements = size_t(1) << 26;

struct Ctx {
  const tg::Model& g;
  Model* model;
  std::string name;
  std::string error;
  bool fail(const std::string& what) {
    if (error.empty()) error = name + ": " + what;
    return false;
  }
};

// One component as a float. Normalised integers map to -1..1 or 0..1 as
// glTF 2.0 defines (signed: max(c / (2^(n-1) - 1), -1)).
float Component(const uint8_t* p, int type, bool normalized) {
  switch (type) {
    case TINYGLTF_COMPONENT_TYPE_FLOAT: { float f; std::memcpy(&f, p, 4); return f; }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return normalized ? p[0] / 255.0f : p[0];
    case TINYGLTF_COMPONENT_TYPE_BYTE: {
      int8_t v = static_cast<int8_t>(p[0]);
      return normalized ? std::max(v / 127.0f, -1.0f) : v;
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
      uint16_t v; std::memcpy(&v, p, 2); return normalized ? v / 65535.0f : v;
    }
    case TINYGLTF_COMPONENT_TYPE_SHORT: {
      int16_t v; std::memcpy(&v, p, 2); return normalized ? std::max(v / 32767.0f, -1.0f) : v;
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: {
      uint32_t v; std::memcpy(&v, p, 4); return normalized ? float(v / 4294967295.0) : float(v);
    }
    default: return 0;
  }
}

// Checks that `n` elements of `elemBytes` each, `stride` apart from `offset`
// in buffer view `viewIndex`, lie inside the view and its buffer; returns the
// first element's address or null (with the error set).
const uint8_t* ViewRange(Ctx& c, const std::string& where, int viewIndex, size_t offset, size_t n,
                         size_t elemBytes, size_t* strideInOut) {
  const tg::Model& g = c.g;
  if (viewIndex < 0 || size_t(viewIndex) >= g.bufferViews.size()) {
    c.fail(where + ": buffer view " + std::to_string(viewIndex) + " does not exist");
    return nullptr;
  }
  const tg::BufferView& v = g.bufferViews[size_t(viewIndex)];
  if (v.buffer < 0 || size_t(v.buffer) >= g.buffers.size()) {
    c.fail(where + ": buffer " + std::to_string(v.buffer) + " does not exist");
    return nullptr;
  }
  const std::vector<unsigned char>& buf = g.buffers[size_t(v.buffer)].data;
  if (v.byteOffset > buf.size() || v.byteLength > buf.size() - v.byteOffset) {
    c.fail(where + ": buffer view " + std::to_string(viewIndex) + " (bytes " + std::to_string(v.byteOffset) + "+" +
           std::to_string(v.byteLength) + ") lies outside its buffer of " + std::to_string(buf.size()) + " bytes");
    return nullptr;
  }
  const size_t stride = *strideInOut ? *strideInOut : (v.byteStride ? v.byteStride : elemBytes);
  *strideInOut = stride;
  if (stride < elemBytes) {
    c.fail(where + ": byte stride " + std::to_string(stride) + " is below the element size");
    return nullptr;
  }
  // offset + stride * (n - 1) + elemBytes <= byteLength, without overflow.
  if (n > 0 && (offset > v.byteLength || elemBytes > v.byteLength - offset ||
                (n - 1) > (v.byteLength - offset - elemBytes) / stride)) {
    c.fail(where + ": " + std::to_string(n) + " elements at offset " + std::to_string(offset) +
           " do not fit buffer view " + std::to_string(viewIndex) + " of " + std::to_string(v.byteLength) + " bytes");
    return nullptr;
  }
  return buf.data() + v.byteOffset + offset;
}

// Reads accessor `index` as count x width floats (indices as exact integers
// in `ints` when given), every byte checked against its view and buffer.
// Sparse substitutions are applied.
bool ReadAccessor(Ctx& c, int index, const char* what, int wantWidth, std::vector<float>* out,
                  size_t* countOut, std::vector<uint32_t>* ints = nullptr) {
  const tg::Model& g = c.g;
  if (index < 0 || size_t(index) >= g.accessors.size())
    return c.fail(std::string(what) + ": accessor " + std::to_string(index) + " does not exist");
  const tg::Accessor& a = g.accessors[size_t(index)];
  const std::string where = std::string(what) + " (accessor " + std::to_string(index) + ")";
  const int comps = tg::GetNumComponentsInType(uint32_t(a.type));
  const int csize = tg::GetComponentSizeInBytes(uint32_t(a.componentType));
  if (comps <= 0 || csize <= 0 || a.componentType == TINYGLTF_COMPONENT_TYPE_DOUBLE)
    return c.fail(where + ": unsupported type or component type");
  if (wantWidth > 0 && comps != wantWidth)
    return c.fail(where + ": has " + std::to_string(comps) + " components, expected " + std::to_string(wantWidth));
  const size_t count = a.count;
  const size_t w = size_t(comps), cs = size_t(csize);
  if (count > kMaxElements / w) return c.fail(where + ": count " + std::to_string(count) + " is absurd");
  // The data must be there before anything is allocated for it.
  size_t stride = 0;
  const uint8_t* base = nullptr;
  if (a.bufferView >= 0 && !(base = ViewRange(c, where, a.bufferView, a.byteOffset, count, w * cs, &stride)))
    return false;
  out->assign(count * w, 0.0f);
  if (ints) ints->assign(count * w, 0);
  *countOut = count;
  auto put = [&](size_t i, const uint8_t* p) {
    for (size_t k = 0; k < w; ++k) {
      (*out)[i * w + k] = Component(p + k * cs, a.componentType, a.normalized);
      if (ints) {
        uint32_t v = 0;
        if (cs == 1) v = p[k];
        else if (cs == 2) { uint16_t h; std::memcpy(&h, p + 2 * k, 2); v = h; }
        else std::memcpy(&v, p + 4 * k, 4);
        (*ints)[i * w + k] = v;
      }
    }
  };
  if (base)
    for (size_t i = 0; i < count; ++i) put(i, base + i * stride);
  if (a.sparse.isSparse) {
    const size_t n = size_t(a.sparse.count);
    if (a.sparse.count < 0 || n > count) return c.fail(where + ": sparse count " + std::to_string(a.sparse.count) + " is out of range");
    const int itype = a.sparse.indices.componentType;
    const int isize = tg::GetComponentSizeInBytes(uint32_t(itype));
    if (itype != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE && itype != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT &&
        itype != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT)
      return c.fail(where + ": sparse indices have a bad component type");
    size_t istride = size_t(isize), vstride = w * cs;
    const uint8_t* ib = ViewRange(c, where + " sparse indices", a.sparse.indices.bufferView,
                                  size_t(a.sparse.indices.byteOffset), n, size_t(isize), &istride);
    if (!ib) return false;
    const uint8_t* vb = ViewRange(c, where + " sparse values", a.sparse.values.bufferView,
                                  size_t(a.sparse.values.byteOffset), n, w * cs, &vstride);
    if (!vb) return false;
    for (size_t i = 0; i < n; ++i) {
      const uint32_t at = uint32_t(Component(ib + i * size_t(isize), itype, false));
      if (at >= count) return c.fail(where + ": sparse index " + std::to_string(at) + " is beyond the count " + std::to_string(count));
      put(at, vb + i * w * cs);
    }
  }
  return true;
}

bool ReadVec3s(Ctx& c, int index, const char* what, size_t expect, std::vector<std::array<float, 3>>* out) {
  std::vector<float> f;
  size_t n = 0;
  if (!ReadAccessor(c, index, what, 3, &f, &n)) return false;
  if (expect != size_t(-1) && n != expect)
    return c.fail(std::string(what) + ": " + std::to_string(n) + " elements, the primitive has " + std::to_string(expect) + " vertices");
  out->resize(n);
  for (size_t i = 0; i < n; ++i) (*out)[i] = {f[3 * i], f[3 * i + 1], f[3 * i + 2]};
  return true;
}

bool LoadPrimitive(Ctx& c, const tg::Primitive& p, const std::string& meshName, Primitive* out) {
  auto attr = [&](const char* key) {
    auto it = p.attributes.find(key);
    return it == p.attributes.end() ? -1 : it->second;
  };
  const std::string what = "mesh \"" + meshName + "\"";
  int pos = attr("POSITION");
  if (pos < 0) return c.fail(what + ": a primitive has no POSITION");
  if (!ReadVec3s(c, pos, (what + " POSITION").c_str(), size_t(-1), &out->positions)) return false;
  const size_t nv = out->positions.size();
  for (const auto& v : out->positions)
    for (float x : v)
      if (!std::isfinite(x)) return c.fail(what + ": POSITION holds a value that is not a finite number");
  std::vector<float> f;
  size_t n = 0;
  if (int uv = attr("TEXCOORD_0"); uv >= 0) {
    if (!ReadAccessor(c, uv, (what + " TEXCOORD_0").c_str(), 2, &f, &n)) return false;
    if (n != nv) return c.fail(what + ": TEXCOORD_0 has " + std::to_string(n) + " elements for " + std::to_string(nv) + " vertices");
    out->uvs.resize(n);
    for (size_t i = 0; i < n; ++i) out->uvs[i] = {f[2 * i], f[2 * i + 1]};
  }
  int j0 = attr("JOINTS_0"), w0 = attr("WEIGHTS_0");
  if (j0 >= 0 && w0 >= 0) {
    if (!ReadAccessor(c, j0, (what + " JOINTS_0").c_str(), 4, &f, &n)) return false;
    if (n != nv) return c.fail(what + ": JOINTS_0 count does not match POSITION");
    out->joints.resize(n);
    for (size_t i = 0; i < 4 * n; ++i) {
      if (!(f[i] >= 0 && f[i] < 65536)) return c.fail(what + ": JOINTS_0 holds a bad joint index");
      out->joints[i / 4][i % 4] = uint16_t(f[i]);
    }
    if (!ReadAccessor(c, w0, (what + " WEIGHTS_0").c_str(), 4, &f, &n)) return false;
    if (n != nv) return c.fail(what + ": WEIGHTS_0 count does not match POSITION");
    out->weights.resize(n);
    for (size_t i = 0; i < 4 * n; ++i) out->weights[i / 4][i % 4] = std::isfinite(f[i]) ? f[i] : 0.0f;
    if (attr("JOINTS_1") >= 0) c.model->warnings.push_back(what + ": JOINTS_1/WEIGHTS_1 ignored (4 influences kept)");
  }
  // The scene file has no colour per vertex: faces take their material's.
  if (attr("COLOR_0") >= 0) c.model->warnings.push_back(what + ": vertex colours (COLOR_0) ignored, the material's colour is used");
  for (size_t t = 0; t < p.targets.size(); ++t) {
    auto it = p.targets[t].find("POSITION");
    std::vector<std::array<float, 3>> d;
    if (it != p.targets[t].end()) {
      if (!ReadVec3s(c, it->second, (what + " morph target POSITION").c_str(), nv, &d)) return false;
    } else {
      d.assign(nv, {0, 0, 0});
    }
    out->targets.push_back(std::move(d));
  }
  // Indices, then triangles from the primitive's mode.
  std::vector<uint32_t> idx;
  if (p.indices >= 0) {
    if (!ReadAccessor(c, p.indices, (what + " indices").c_str(), 1, &f, &n, &idx)) return false;
    for (uint32_t i : idx)
      if (i >= nv) return c.fail(what + ": index " + std::to_string(i) + " is beyond the " + std::to_string(nv) + " vertices");
  } else {
    idx.resize(nv);
    for (size_t i = 0; i < nv; ++i) idx[i] = uint32_t(i);
  }
  auto add = [&](uint32_t a, uint32_t b, uint32_t d) {
    if (a == b || b == d || a == d) return;  // degenerate: no area whatever the pose
    out->triangles.push_back({a, b, d});
  };
  const int mode = p.mode < 0 ? TINYGLTF_MODE_TRIANGLES : p.mode;
  switch (mode) {
    case TINYGLTF_MODE_TRIANGLES:
      for (size_t i = 0; i + 2 < idx.size(); i += 3) add(idx[i], idx[i + 1], idx[i + 2]);
      break;
    case TINYGLTF_MODE_TRIANGLE_STRIP:
      // Every other triangle is flipped back to keep the winding.
      for (size_t i = 0; i + 2 < idx.size(); ++i)
        (i % 2 == 0) ? add(idx[i], idx[i + 1], idx[i + 2]) : add(idx[i + 1], idx[i], idx[i + 2]);
      break;
    case TINYGLTF_MODE_TRIANGLE_FAN:
      for (size_t i = 1; i + 1 < idx.size(); ++i) add(idx[0], idx[i], idx[i + 1]);
      break;
    default:
      c.model->warnings.push_back(what + ": a primitive of points or lines is skipped");
      out->triangles.clear();
      out->positions.clear();
      return true;
  }
  out->material = p.material;
  if (out->material >= int(c.g.materials.size())) return c.fail(what + ": material " + std::to_string(p.material) + " does not exist");
  return true;
}

bool LoadAnimation(Ctx& c, const tg::Animation& a, size_t index, Animation* out) {
  out->name = a.name.empty() ? "#" + std::to_string(index) : a.name;
  for (const tg::AnimationChannel& ch : a.channels) {
    const std::string what = "animation \"" + out->name + "\"";
    if (ch.target_node < 0) continue;  // no target: ignored, as glTF allows
    if (size_t(ch.target_node) >= c.g.nodes.size()) return c.fail(what + ": channel targets node " + std::to_string(ch.target_node) + ", which does not exist");
    if (ch.sampler < 0 || size_t(ch.sampler) >= a.samplers.size()) return c.fail(what + ": channel sampler " + std::to_string(ch.sampler) + " does not exist");
    const tg::AnimationSampler& s = a.samplers[size_t(ch.sampler)];
    Channel out1;
    out1.node = ch.target_node;
    if (ch.target_path == "translation") { out1.path = Path::kTranslation; out1.width = 3; }
    else if (ch.target_path == "rotation") { out1.path = Path::kRotation; out1.width = 4; }
    else if (ch.target_path == "scale") { out1.path = Path::kScale; out1.width = 3; }
    else if (ch.target_path == "weights") { out1.path = Path::kWeights; out1.width = 0; }
    else { c.model->warnings.push_back(what + ": channel path \"" + ch.target_path + "\" ignored"); continue; }
    if (s.interpolation == "STEP") out1.interpolation = Interpolation::kStep;
    else if (s.interpolation == "CUBICSPLINE") out1.interpolation = Interpolation::kCubicSpline;
    else out1.interpolation = Interpolation::kLinear;
    size_t n = 0, m = 0;
    if (!ReadAccessor(c, s.input, (what + " input").c_str(), 1, &out1.times, &n)) return false;
    if (n == 0) return c.fail(what + ": a sampler has no keys");
    for (size_t i = 0; i < n; ++i) {
      if (!std::isfinite(out1.times[i]) || (i > 0 && out1.times[i] < out1.times[i - 1]))
        return c.fail(what + ": key times are not ascending finite numbers");
    }
    if (!ReadAccessor(c, s.output, (what + " output").c_str(), out1.path == Path::kWeights ? 1 : out1.width, &out1.values, &m)) return false;
    const size_t perKey = out1.interpolation == Interpolation::kCubicSpline ? 3 : 1;
    if (out1.path == Path::kWeights) {
      if (m % (n * perKey) != 0 || m == 0) return c.fail(what + ": weights output count " + std::to_string(m) + " does not divide into " + std::to_string(n) + " keys");
      out1.width = int(m / (n * perKey));
    } else if (m != n * perKey) {
      return c.fail(what + ": output has " + std::to_string(m) + " elements for " + std::to_string(n) + " keys");
    }
    for (float v : out1.values) if (!std::isfinite(v)) return c.fail(what + ": output holds a value that is not a finite number");
    out->duration = std::max(out->duration, double(out1.times.back()));
    out->channels.push_back(std::move(out1));
  }
  return true;
}

// Keeps the image bytes undecoded in tinygltf; we decode them ourselves.
bool KeepImageBytes(tg::Image* image, const int, std::string*, std::string*, int, int,
                    const unsigned char* bytes, int size, void*) {
  image->image.assign(bytes, bytes + size);
  image->as_is = true;
  return true;
}

// File access for external buffers and images: plain reads, no shell-style
// expansion of the URI (the default expands it like a shell word), nothing at
// all when the caller gave no folder.
bool FsExists(const std::string& path, void* allowed) {
  struct stat st;
  return allowed && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
std::string FsExpand(const std::string& path, void*) { return path; }
bool FsRead(std::vector<unsigned char>* out, std::string* err, const std::string& path, void* allowed) {
  if (!allowed) {
    if (err) *err += "external file \"" + path + "\" is not available here\n";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (err) *err += "cannot open \"" + path + "\"\n";
    return false;
  }
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}
bool FsWrite(std::string*, const std::string&, const std::vector<unsigned char>&, void*) { return false; }

bool Convert(Ctx& c) {
  const tg::Model& g = c.g;
  Model& m = *c.model;
  // Images.
  for (size_t i = 0; i < g.images.size(); ++i) {
    Image img;
    img.name = g.images[i].name.empty() ? g.images[i].uri : g.images[i].name;
    if (img.name.empty()) img.name = "#" + std::to_string(i);
    const auto& bytes = g.images[i].image;
    if (bytes.empty()) {
      m.warnings.push_back("image \"" + img.name + "\" is missing: its materials keep their base colour");
    } else if (!DecodeImage(bytes.data(), bytes.size(), &img)) {
      m.warnings.push_back("image \"" + img.name + "\" cannot be decoded (PNG and JPEG are read): its materials keep their base colour");
      img.rgba.clear();
    }
    m.images.push_back(std::move(img));
  }
  for (const tg::Material& mat : g.materials) {
    Material out;
    out.name = mat.name;
    const auto& f = mat.pbrMetallicRoughness.baseColorFactor;
    for (size_t k = 0; k < 4 && k < f.size(); ++k) out.baseColor[k] = std::clamp(f[k], 0.0, 1.0);
    int tex = mat.pbrMetallicRoughness.baseColorTexture.index;
    if (tex >= 0) {
      if (size_t(tex) >= g.textures.size()) return c.fail("material \"" + mat.name + "\": texture " + std::to_string(tex) + " does not exist");
      int src = g.textures[size_t(tex)].source;
      if (src < 0 || size_t(src) >= g.images.size()) return c.fail("texture " + std::to_string(tex) + ": image " + std::to_string(src) + " does not exist");
      if (mat.pbrMetallicRoughness.baseColorTexture.texCoord != 0)
        m.warnings.push_back("material \"" + mat.name + "\": base colour texture uses texcoord " + std::to_string(mat.pbrMetallicRoughness.baseColorTexture.texCoord) + "; texcoord 0 is used");
      if (!m.images[size_t(src)].rgba.empty()) out.image = src;
    }
    m.materials.push_back(std::move(out));
  }
  for (size_t i = 0; i < g.meshes.size(); ++i) {
    Mesh out;
    out.name = g.meshes[i].name.empty() ? "#" + std::to_string(i) : g.meshes[i].name;
    for (double w : g.meshes[i].weights) out.weights.push_back(float(w));
    for (const tg::Primitive& p : g.meshes[i].primitives) {
      Primitive prim;
      if (!LoadPrimitive(c, p, out.name, &prim)) return false;
      out.primitives.push_back(std::move(prim));
    }
    m.meshes.push_back(std::move(out));
  }
  for (size_t i = 0; i < g.skins.size(); ++i) {
    const tg::Skin& s = g.skins[i];
    Skin out;
    for (int j : s.joints) {
      if (j < 0 || size_t(j) >= g.nodes.size()) return c.fail("skin " + std::to_string(i) + ": joint node " + std::to_string(j) + " does not exist");
      out.joints.push_back(j);
    }
    out.inverseBind.resize(out.joints.size());
    if (s.inverseBindMatrices >= 0) {
      std::vector<float> f;
      size_t n = 0;
      if (!ReadAccessor(c, s.inverseBindMatrices, ("skin " + std::to_string(i) + " inverseBindMatrices").c_str(), 16, &f, &n)) return false;
      if (n < out.joints.size()) return c.fail("skin " + std::to_string(i) + ": " + std::to_string(n) + " inverse bind matrices for " + std::to_string(out.joints.size()) + " joints");
      for (size_t j = 0; j < out.joints.size(); ++j) {
        double d[16];
        for (int k = 0; k < 16; ++k) d[k] = f[16 * j + size_t(k)];
        out.inverseBind[j] = Affine::FromColumnMajor(d);
      }
    }
    m.skins.push_back(std::move(out));
  }
  for (const tg::Camera& cam : g.cameras) {
    Camera out;
    out.name = cam.name;
    if (cam.type == "orthographic") {
      out.perspective = false;
      out.xmag = std::fabs(cam.orthographic.xmag);
      out.ymag = std::fabs(cam.orthographic.ymag);
      if (!(out.ymag > 0) || !std::isfinite(out.ymag)) return c.fail("camera \"" + cam.name + "\": ymag must be positive");
    } else {
      out.yfov = cam.perspective.yfov;
      out.aspect = cam.perspective.aspectRatio;
      if (!(out.yfov > 0 && out.yfov < M_PI)) return c.fail("camera \"" + cam.name + "\": yfov " + std::to_string(out.yfov) + " is outside (0, pi)");
    }
    m.cameras.push_back(out);
  }
  for (const tg::Light& l : g.lights) {
    Light out;
    out.name = l.name;
    if (l.type == "directional") out.type = Light::kDirectional;
    else if (l.type == "spot") out.type = Light::kSpot;
    for (size_t k = 0; k < 3 && k < l.color.size(); ++k) out.color[k] = std::max(0.0, l.color[k]);
    out.intensity = std::isfinite(l.intensity) ? std::max(0.0, l.intensity) : 1.0;
    m.lights.push_back(out);
  }
  for (size_t i = 0; i < g.nodes.size(); ++i) {
    const tg::Node& n = g.nodes[i];
    Node out;
    out.name = n.name.empty() ? "#" + std::to_string(i) : n.name;
    const std::string what = "node \"" + out.name + "\"";
    if (n.matrix.size() == 16) {
      out.hasMatrix = true;
      out.matrix = Affine::FromColumnMajor(n.matrix.data());
    }
    if (n.translation.size() == 3) out.translation = {n.translation[0], n.translation[1], n.translation[2]};
    if (n.rotation.size() == 4) out.rotation = {n.rotation[0], n.rotation[1], n.rotation[2], n.rotation[3]};
    if (n.scale.size() == 3) out.scale = {n.scale[0], n.scale[1], n.scale[2]};
    for (int ch : n.children) {
      if (ch < 0 || size_t(ch) >= g.nodes.size()) return c.fail(what + ": child " + std::to_string(ch) + " does not exist");
      out.children.push_back(ch);
    }
    auto check = [&](int v, size_t size, const char* kind, int* dst) {
      if (v >= 0 && size_t(v) >= size) return c.fail(what + ": " + kind + " " + std::to_string(v) + " does not exist");
      *dst = v;
      return true;
    };
    if (!check(n.mesh, g.meshes.size(), "mesh", &out.mesh) || !check(n.skin, g.skins.size(), "skin", &out.skin) ||
        !check(n.camera, g.cameras.size(), "camera", &out.camera))
      return false;
    auto ext = n.extensions.find("KHR_lights_punctual");
    if (ext != n.extensions.end() && ext->second.Has("light")) {
      int l = ext->second.Get("light").GetNumberAsInt();
      if (!check(l, g.lights.size(), "light", &out.light)) return false;
    }
    for (double w : n.weights) out.weights.push_back(float(w));
    m.nodes.push_back(std::move(out));
  }
  // The node graph must be a forest: every node has at most one parent and no
  // cycle, or the transform walk would never end.
  std::vector<int> parent(m.nodes.size(), -1);
  for (size_t i = 0; i < m.nodes.size(); ++i)
    for (int ch : m.nodes[i].children) {
      if (parent[size_t(ch)] >= 0 || ch == int(i)) return c.fail("node " + std::to_string(ch) + " has more than one parent");
      parent[size_t(ch)] = int(i);
    }
  for (size_t i = 0; i < m.nodes.size(); ++i) {
    size_t steps = 0;
    for (int p = parent[i]; p >= 0; p = parent[size_t(p)])
      if (++steps > m.nodes.size()) return c.fail("the node hierarchy has a cycle");
  }
  if (!g.scenes.empty()) {
    const int s = g.defaultScene >= 0 && size_t(g.defaultScene) < g.scenes.size() ? g.defaultScene : 0;
    for (int r : g.scenes[size_t(s)].nodes) {
      if (r < 0 || size_t(r) >= m.nodes.size()) return c.fail("scene node " + std::to_string(r) + " does not exist");
      if (parent[size_t(r)] < 0) m.roots.push_back(r);
    }
  } else {
    for (size_t i = 0; i < m.nodes.size(); ++i) if (parent[i] < 0) m.roots.push_back(int(i));
  }
  for (size_t i = 0; i < g.animations.size(); ++i) {
    Animation a;
    if (!LoadAnimation(c, g.animations[i], i, &a)) return false;
    m.animations.push_back(std::move(a));
  }
  // Check every skinned primitive's joints against its skin.
  for (const Node& n : m.nodes) {
    if (n.mesh < 0 || n.skin < 0) continue;
    for (const Primitive& p : m.meshes[size_t(n.mesh)].primitives)
      for (const auto& j : p.joints)
        for (uint16_t k : j)
          if (k >= m.skins[size_t(n.skin)].joints.size())
            return c.fail("node \"" + n.name + "\": joint index " + std::to_string(k) + " is beyond its skin's " +
                          std::to_string(m.skins[size_t(n.skin)].joints.size()) + " joints");
  }
  return true;
}

}  // namespace

bool DecodeImage(const uint8_t* data, size_t size, Image* image) {
  if (size == 0 || size > size_t(INT32_MAX)) return false;
  int w = 0, h = 0, n = 0;
  // Refuse absurd dimensions before stb allocates for them.
  if (!stbi_info_from_memory(data, int(size), &w, &h, &n) || w <= 0 || h <= 0 || w > 8192 || h > 8192) return false;
  unsigned char* px = stbi_load_from_memory(data, int(size), &w, &h, &n, 4);
  if (!px) return false;
  image->width = w;
  image->height = h;
  image->rgba.assign(px, px + size_t(w) * size_t(h) * 4);
  stbi_image_free(px);
  return true;
}

bool LoadGltfFromMemory(const uint8_t* data, size_t size, const std::string& nameForMessages,
                        const std::string& baseDir, Model* model, std::string* error) {
  *model = Model();
  model->file = nameForMessages;
  tg::TinyGLTF loader;
  loader.SetImageLoader(KeepImageBytes, nullptr);
  static int allowed = 1;
  loader.SetFsCallbacks({FsExists, FsExpand, FsRead, FsWrite, baseDir.empty() ? nullptr : &allowed});
  tg::Model g;
  std::string err, warn;
  bool ok;
  if (size > UINT32_MAX) {
    *error = nameForMessages + ": file too large";
    return false;
  }
  const bool binary = size >= 4 && std::memcmp(data, "glTF", 4) == 0;
  if (binary) {
    ok = loader.LoadBinaryFromMemory(&g, &err, &warn, data, unsigned(size), baseDir);
  } else {
    ok = loader.LoadASCIIFromString(&g, &err, &warn, reinterpret_cast<const char*>(data), unsigned(size), baseDir);
  }
  if (!ok) {
    while (!err.empty() && (err.back() == '\n' || err.back() == ' ')) err.pop_back();
    for (char& ch : err) if (ch == '\n') ch = ';';
    *error = nameForMessages + ": not a readable glTF 2.0 " + (binary ? "binary" : "JSON") + " file: " +
             (err.empty() ? "parse error" : err);
    return false;
  }
  if (!warn.empty()) {
    while (!warn.empty() && warn.back() == '\n') warn.pop_back();
    model->warnings.push_back(warn);
  }
  Ctx c{g, model, nameForMessages, {}};
  if (!Convert(c)) {
    *error = c.error;
    return false;
  }
  return true;
}

bool LoadGltfFile(const std::string& path, Model* model, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = path + ": read failed";
    return false;
  }
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  return LoadGltfFromMemory(bytes.data(), bytes.size(), path, dir, model, error);
}

bool LoadModelFile(const std::string& path, Model* model, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  char magic[4] = {};
  in.read(magic, 4);
  auto ends = [&](const char* ext) {
    const size_t n = std::strlen(ext);
    if (path.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
      if (std::tolower(static_cast<unsigned char>(path[path.size() - n + i])) != ext[i]) return false;
    return true;
  };
  if (std::memcmp(magic, "glTF", 4) == 0 || ends(".gltf") || ends(".glb")) return LoadGltfFile(path, model, error);
  return LoadAssimpFile(path, model, error);
}

}  // namespace vefexport
