// vefexport's intermediate model: what the converter keeps of a glTF 2.0 or
// Assimp scene, loaders that fill it, and the pose evaluation on top of it.
//
// Conventions (glTF's, kept for every source format):
//   - metres, +Y up, right-handed; a camera looks down its local -Z;
//   - matrices are `Affine` in the scene file's row-vector form:
//     p' = p.x*r[0] + p.y*r[1] + p.z*r[2] + t, and A.then(B) applies A first.
//     A glTF column-major 4x4 m[16] has r[i] = (m[4i], m[4i+1], m[4i+2]) and
//     t = (m[12], m[13], m[14]);
//   - quaternions are (x, y, z, w) as glTF stores them;
//   - animation times are seconds of model time.
#ifndef VEFEXPORT_MODEL_H
#define VEFEXPORT_MODEL_H

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <string>
#include <vector>

namespace vefexport {

using Vec2 = std::array<float, 2>;
using Vec3 = std::array<double, 3>;
using Quat = std::array<double, 4>;  // x, y, z, w

struct Affine {
  std::array<Vec3, 3> r{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};  // rows: images of the x, y, z axes
  Vec3 t{0, 0, 0};                                             // translation

  static Affine FromTRS(const Vec3& t, const Quat& q, const Vec3& s);
  static Affine FromColumnMajor(const double m[16]);
  Vec3 apply(const Vec3& p) const;         // p.r + t
  Vec3 applyLinear(const Vec3& p) const;   // p.r, no translation
  Affine then(const Affine& b) const;      // this first, then b
  Affine inverse() const;                  // general 3x3 inverse; a singular matrix gives zeros
  double det() const;
};

struct Primitive {
  std::vector<std::array<float, 3>> positions;      // object space, metres
  std::vector<Vec2> uvs;                            // TEXCOORD_0 (u right, v down), empty when absent
  std::vector<std::array<uint16_t, 4>> joints;      // JOINTS_0: indices into the skin's joints
  std::vector<std::array<float, 4>> weights;        // WEIGHTS_0, as stored (normalised ints widened)
  std::vector<std::vector<std::array<float, 3>>> targets;  // morph target POSITION deltas
  std::vector<std::array<uint32_t, 3>> triangles;   // counter-clockwise in glTF's sense
  int material = -1;                                // index into Model::materials, -1 none
};

struct Mesh {
  std::string name;
  std::vector<Primitive> primitives;
  std::vector<float> weights;  // default morph weights (may be shorter than the target count)
};

struct Node {
  std::string name;
  Vec3 translation{0, 0, 0};
  Quat rotation{0, 0, 0, 1};
  Vec3 scale{1, 1, 1};
  bool hasMatrix = false;    // a fixed matrix replaces T, R, S (such nodes are not animated)
  Affine matrix;
  std::vector<int> children;
  int mesh = -1, skin = -1, camera = -1, light = -1;
  std::vector<float> weights;  // the node's own default morph weights, empty when none
};

struct Skin {
  std::vector<int> joints;             // node indices
  std::vector<Affine> inverseBind;     // one per joint (identity when the file has none)
};

enum class Path { kTranslation, kRotation, kScale, kWeights };
enum class Interpolation { kStep, kLinear, kCubicSpline };

struct Channel {
  int node = -1;
  Path path = Path::kTranslation;
  Interpolation interpolation = Interpolation::kLinear;
  std::vector<float> times;    // seconds, ascending
  std::vector<float> values;   // per key `width` values (x3 for cubic: in-tangent, value, out-tangent)
  int width = 3;               // values per element: 3, 4 or the morph target count
};

struct Animation {
  std::string name;
  std::vector<Channel> channels;
  double duration = 0;  // seconds: the latest key time of any channel
};

struct Camera {
  std::string name;
  bool perspective = true;
  double yfov = 0.8;        // radians, vertical (perspective)
  double aspect = 0;        // width / height; 0 when the file gives none
  double xmag = 1, ymag = 1;  // half-width and half-height in metres (orthographic)
};

struct Light {
  enum Type { kPoint, kSpot, kDirectional };
  std::string name;
  Type type = kPoint;
  Vec3 color{1, 1, 1};      // linear 0..1
  double intensity = 1;     // candela (point, spot) or lux (directional)
};

struct Image {
  std::string name;
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;  // 4 bytes per texel, rows top to bottom; empty when missing
};

struct Material {
  std::string name;
  std::array<double, 4> baseColor{1, 1, 1, 1};  // linear factor, 0..1
  int image = -1;                                // base colour image, -1 none
};

struct Model {
  std::string file;           // for messages
  std::vector<Node> nodes;
  std::vector<int> roots;     // nodes of the shown scene
  std::vector<Mesh> meshes;
  std::vector<Skin> skins;
  std::vector<Animation> animations;
  std::vector<Camera> cameras;
  std::vector<Light> lights;
  std::vector<Material> materials;
  std::vector<Image> images;
  std::vector<std::string> warnings;  // things skipped or approximated while loading
};

// Loads a .gltf (JSON) or .glb (binary) file held in memory. External buffers
// and images are looked up in `baseDir` ("" = none may be external). On failure
// returns false and sets `error` to a message that begins with
// `nameForMessages`. Never reads outside `data`: every accessor, view and
// buffer range is checked. This is the entry point for fuzzing.
bool LoadGltfFromMemory(const uint8_t* data, size_t size, const std::string& nameForMessages,
                        const std::string& baseDir, Model* model, std::string* error);
// Same, for a file name (.gltf or .glb, told apart by the "glTF" magic).
bool LoadGltfFile(const std::string& path, Model* model, std::string* error);
// Any other format Assimp reads (FBX, Collada, OBJ, 3DS, ...).
bool LoadAssimpFile(const std::string& path, Model* model, std::string* error);
// Picks the loader by the file's content and extension.
bool LoadModelFile(const std::string& path, Model* model, std::string* error);

// Decodes PNG or JPEG bytes into `image` (RGBA). False when undecodable.
bool DecodeImage(const uint8_t* data, size_t size, Image* image);

}  // namespace vefexport

#endif
