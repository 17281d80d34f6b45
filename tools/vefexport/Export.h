// Baking a model into a scene file: frames, keys, meshes, materials, textures
// and lights, as the scene importer and the player expect them.
//
// View space of the player: x right, y up, z away from the viewer; its
// projection is fixed (horizontal field of view pi/4 on 800 x 600, near 0.1,
// far 1000). A camera key's matrix block has its z components negated on
// reading, and every object key is composed with its frame's camera after
// loading, morph lists included (in place, once per key).
//
// How the converter uses that:
//   - static camera: every camera key is the identity (so the importer's camera
//     is diag(1, 1, -1)), object keys carry the whole world-to-view mapping, and
//     morph keys carry diag(1, 1, -1), so their lists are stored in final view
//     space and come through the composition bit for bit: a list can then be
//     shared by the keys of consecutive frames whose shape is unchanged;
//   - moving camera: camera keys carry the camera's rigid view transform and
//     morph lists are written per key (the composition would otherwise apply
//     twice to a shared list).
// Skinned and morphing meshes are baked per frame. The player lights only
// rigid keys, so each frame's pose becomes a rigid mesh of its own with an
// identity key, its vertices in the camera key's space (z not flipped back, so
// that the normals the importer computes point outward); no other frame's key
// shows that mesh, so the player holds it for its frame and relights it. Only
// when that lighting would pass the player's per-frame limit are they written
// as morph lists, which it draws unlit.
// A key's 3x3 part must be rows that are pairwise orthogonal (rotation angles
// and a scale per row); a node whose transform is not (shear from a
// non-uniform parent scale, or a model camera's zoom) is baked per frame like a
// skinned mesh instead.
#ifndef VEFEXPORT_EXPORT_H
#define VEFEXPORT_EXPORT_H

#include <signal.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "Model.h"

namespace vefexport {

struct ExportOptions {
  double fps = 25;                     // frames per second of model time, > 0
  std::optional<double> seconds;       // span; default the animation's duration
  std::optional<double> musicSeconds;  // span from --music (its length); frames spread over it exactly
  std::string animation;               // name or index, "all" every one at once; empty = the first
  bool loop = false;                   // repeat the animation over the span
  std::string camera;                  // model camera by name or index; empty = none
  std::optional<Vec3> eye, target;     // fixed camera, model coordinates
  std::optional<Vec3> eyeTo, targetTo; // with eye and target: the camera moves to these (eased)
  bool viewInKeys = false;             // camera keys stay the identity even when the camera moves
  bool defaultLights = true;           // key and fill light when the model has none
  bool addLights = false;              // key and fill light also when the model has lights
  int textureSize = 256;               // largest texture side: 256, 128, 64 or 32
  bool palette = false;                // paletted textures instead of RGB565
  uint64_t maxSize = 512ull << 20;     // bytes; a larger scene is refused before writing
};

struct ExportResult {
  uint32_t frames = 0;
  uint64_t bytes = 0;                  // size of the scene file
  std::vector<std::string> converted;  // summary lines
  std::vector<std::string> approximated;
  std::vector<std::string> dropped;
  std::vector<std::string> notes;      // choices the user may want to change
  std::vector<std::string> warnings;   // what will probably not look as meant
  double seconds = 0;                  // model time the scene spans
};

// Exit-code classes of a failed export.
enum class ExportFailure { kNone, kBadOptions, kFailed, kInterrupted };

// Converts `model` into the scene file `outPath` (written through a temporary
// file and a rename; nothing is left behind on failure). `interrupted` is
// polled between frames. On failure returns false with `error` and `failure`.
bool ExportScene(const Model& model, const ExportOptions& options, const std::string& outPath,
                 const volatile sig_atomic_t* interrupted, ExportResult* result, std::string* error,
                 ExportFailure* failure);

// The text of --list: animations with durations, cameras, lights, meshes and
// the format limits they hit, the animated bounds and the automatic camera
// (for the animation `options` choose).
std::string ListModel(const Model& model, const ExportOptions& options = ExportOptions());

// Euler angles (ax, ay, az) whose SceneFormat::RotationRows, as the importer
// rebuilds them, equal the rotation `r` (orthonormal rows, determinant +1).
Vec3 EulerFromRows(const std::array<Vec3, 3>& r);

// Splits `m`'s 3x3 part into per-row scales and a rotation (rows = scale[i] *
// rotation row i). False when the rows are not pairwise orthogonal (relative
// 1e-4) or one is zero.
bool SplitScaleRotation(const Affine& m, Vec3* scale, std::array<Vec3, 3>* rotation);

}  // namespace vefexport

#endif
