// The converter's stages. ExportScene fills a Plan stage by stage, each stage
// reading only what the earlier ones decided, and then writes the plan out:
//
//   frames     the animation, the frame count and each frame's model time;
//   instances  the primitives drawn, in scene order;
//   camera     automatic, --eye/--target or a model camera, and its zoom;
//   bounds     the animated bounds over all frames; which rigid nodes must be
//              baked after all, which are mirrored, which scale is fixed;
//   views      per frame the world-to-view mapping, the camera keys and the
//              uniform scale that keeps depths inside the player's range;
//   lights     the model's lights, or the default key and fill light;
//   textures   a texture slot per material, and one-colour slots for baked
//              meshes without a texture;
//   chunks     meshes split at the format's 65536 vertices per list;
//   baked      how the baked meshes are drawn: each frame's pose as a rigid
//              mesh shown only in its frame, which the player lights like any
//              other, or (beyond the player's per-frame limits) morph lists.
//
// A stage that refuses sets the outcome's error and returns false; the summary
// lines go to the outcome's result in the order the stages run.
#ifndef VEFEXPORT_EXPORTPLAN_H
#define VEFEXPORT_EXPORTPLAN_H

#include <signal.h>
#include <stdint.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Export.h"
#include "Pose.h"
#include "SceneWriter.h"

namespace vefexport {

// One drawn primitive of one node.
struct Instance {
  int node = -1, mesh = -1, prim = -1;  // indices into Model::nodes, meshes, the mesh's primitives
  bool deform = false;                  // baked per frame
  bool lit = false;                     // baked as one rigid mesh per frame, which the player lights
                                        // (else as morph lists, which it draws unlit)
  bool flip = false;                    // mirrored transform: winding reversed
  bool textured = false;                // its material has a texture record
  Vec3 ownScale{1, 1, 1};               // the node's fixed scale, moved into the vertices
};

// At most 65536 vertices of one instance, as one scene mesh.
struct Chunk {
  int instance = -1;
  std::vector<uint32_t> vertices;  // source vertex index per list entry
  std::vector<vef::Index3> faces;  // list-local indices
};

struct PlannedLight {
  Vec3 pos;     // world space at frame 0
  Vec3 color;   // linear 0..1
  double e;     // relative intensity, the strongest 1
};

enum class CameraMode { kAuto, kEye, kModel };

struct Plan {
  // frames
  const Animation* animation = nullptr;  // the model's, or `all`; null: the rest pose
  Animation all;                         // every animation at once (--animation all)
  double duration = 0;         // seconds of that animation
  std::vector<double> times;   // model time of each frame, seconds
  // instances
  std::vector<Instance> instances;
  // camera
  CameraMode cameraMode = CameraMode::kAuto;
  int cameraNode = -1;                  // node carrying the model camera
  const Camera* modelCamera = nullptr;
  double zoom = 1;                      // model camera's vertical field of view onto the player's
  bool zoomed = false;
  Affine zoomA;                         // diag(zoom, zoom, 1)
  // bounds
  Pose pose0;                           // the pose of frame 0
  std::vector<Affine> cameraGlobal;     // per frame, the camera node's global transform
  Vec3 lo{0, 0, 0}, hi{0, 0, 0};        // the animated bounding box over all frames, world space
  Vec3 centre{0, 0, 0};                 // of that box
  double radius = 1;                    // half its diagonal, metres
  // views
  std::vector<Affine> full;             // per frame, world to view without the uniform scale
  std::vector<Affine> rigidView;        // per frame, world to right-handed camera space, no zoom
  std::vector<Affine> stored, storedInv;  // per frame, what the camera key makes of view space
  std::vector<vef::MatrixBlock> cameraBlock;  // per frame, the camera key's block when moving
  Vec3 eye{0, 0, 0}, target{0, 0, 0};   // world space, frame 0 (a model camera: its position and a point ahead)
  bool moving = false;                  // the view changes between frames
  bool viewInKeys = true;               // camera keys are the identity; object keys and lists hold the view
  double scale = 1;                     // uniform scale about the eye
  // lights
  std::vector<PlannedLight> lights;
  // textures
  std::vector<int> materialTexture;     // per material, its texture slot or -1
  std::vector<int> solidSlot;           // per material and one more for the default: one-colour slot or -1
  // chunks
  std::vector<Chunk> chunks;

  uint32_t frames() const { return uint32_t(times.size()); }
  const Primitive& primitive(const Model& m, const Instance& in) const {
    return m.meshes[size_t(in.mesh)].primitives[size_t(in.prim)];
  }
  // World point to what a morph list or a light stores in frame f.
  Vec3 toStored(uint32_t f, const Vec3& p) const;
};

// Where a stage reports.
struct Outcome {
  ExportResult* result = nullptr;       // summary lines
  std::string* error = nullptr;         // why a stage refused
  ExportFailure* failure = nullptr;     // the refusal's class
  const volatile sig_atomic_t* interrupted = nullptr;

  bool refuse(const std::string& what, ExportFailure kind = ExportFailure::kFailed) const;
  bool badOption(const std::string& what) const { return refuse(what, ExportFailure::kBadOptions); }
  // True (and the outcome set) when a signal asked to stop.
  bool stopped() const;
};

// The last entry of `items` whose name is `key`, else `key` read as a decimal index;
// -1 when neither.
template <typename T>
int FindByNameOrIndex(const std::vector<T>& items, const std::string& key) {
  for (size_t i = items.size(); i-- > 0;)
    if (items[i].name == key) return int(i);
  char* end = nullptr;
  const long i = std::strtol(key.c_str(), &end, 10);
  if (!key.empty() && *end == 0 && i >= 0 && size_t(i) < items.size()) return int(i);
  return -1;
}

// The automatic camera's eye for the box [lo, hi]: from above and to the side
// (35 degrees round from the front, 25 degrees up), looking at the box's
// centre, near enough that the box fills 90 % of the frame's width or height.
Vec3 AutomaticEye(const Vec3& lo, const Vec3& hi);

// True when the box [lo, hi] lies wholly outside the view `worldToView`
// (world to the player's view space: x right, y up, z away from the viewer).
bool OutOfView(const Affine& worldToView, const Vec3& lo, const Vec3& hi);

// Each node's parent (the first node listing it as a child), -1 for roots.
std::vector<int> ParentTable(const Model& m);

bool PlanFrames(const Model& m, const ExportOptions& o, Plan* plan, const Outcome& out);
bool PlanInstances(const Model& m, Plan* plan, const Outcome& out);
bool PlanCamera(const Model& m, const ExportOptions& o, Plan* plan, const Outcome& out);
bool PlanBounds(const Model& m, Plan* plan, const Outcome& out);
void PlanViews(const ExportOptions& o, Plan* plan, const Outcome& out);
void PlanLights(const Model& m, const ExportOptions& o, Plan* plan, const Outcome& out);

// The share (0..1) of the model's surface that faces the camera at frame 0,
// by area, on which some light gives at least kLitEnough of full brightness
// (the player's diffuse term: cosine times intensity, no shadows). 1 when
// nothing faces the camera.
const double kLitEnough = 0.1;
double LitShare(const Model& m, const Plan& plan, const std::vector<PlannedLight>& lights);
void PlanTextureSlots(const Model& m, Plan* plan, const Outcome& out);
bool PlanChunks(const Model& m, Plan* plan, const Outcome& out);
void PlanBaked(Plan* plan, const Outcome& out);

// The summary lines of what the plan shows: meshes, camera, bounds, animation,
// textures, and what the loader skipped.
void Summarise(const Model& m, const ExportOptions& o, const Plan& plan, ExportResult* res);

// One shot of a scene made of several: its model, options and plan (filled
// up to the texture slots), and the scene frame its first frame becomes.
struct Shot {
  const Model* model = nullptr;
  ExportOptions options;
  Plan plan;
  uint32_t firstFrame = 0;
};

// Writes `shots` one after the other into the scene file `outPath` (their
// frames in order, without gaps), with `lights` as the scene's lights instead
// of the shots' own. Refuses a scene above `maxSize` bytes before writing.
bool WriteShots(const std::vector<Shot>& shots, const std::vector<vef::LightRecord>& lights,
                const std::string& outPath, uint64_t maxSize, uint64_t* bytes, uint64_t* lists, const Outcome& out);

// Splits a primitive's triangles into chunks of at most 65536 distinct
// vertices, in triangle order.
void SplitTriangles(const Primitive& p, bool flip, int instance, std::vector<Chunk>* out);

}  // namespace vefexport

#endif
