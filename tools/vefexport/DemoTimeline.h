// A demo as a timeline: shots cut to the music, each with its models, their
// placement and animation, and a camera; converted into one scene file.
//
// The file is JSON:
//   {
//     "tempo": 120, "beatsPerBar": 4,   // for starts in bars and beats (default 120 and 4)
//     "fps": 25,                        // frames per second of the scene (default 25)
//     "shots": [
//       { "start": 0,                   // seconds, or {"bar": 2, "beat": 1} (both from 1)
//         "camera": "auto",             // or {"eye": [x,y,z], "target": [x,y,z]},
//                                       // or {"from": {eye, target}, "to": {eye, target}},
//                                       // or {"model": 0, "name": "Camera"} (a camera of model 0)
//         "models": [ { "file": "CesiumMan.gltf",   // relative to the timeline file
//                       "position": [0, 0, 0],      // metres, +Y up (default the origin)
//                       "turn": 90,                 // degrees about +Y (default 0)
//                       "scale": 1,                 // (default 1)
//                       "animation": "all",         // name, index or "all" (default the first)
//                       "loop": true } ] },         // repeat it over the shot (default false)
//       ... ] }
// The first shot starts at 0; starts grow. A shot lasts to the next one's
// start, the last to the end of the music, which the player spreads the
// scene over. Each shot begins its models' animations at their time 0.
//
// Cuts: the scene's frames are spread evenly over the music, so a shot begins
// on the frame nearest its start (at most half a frame away: 20 ms at 25 fps),
// and no key of one shot links to a key of another: the player never blends
// across a cut. The scene is lit by a key and a fill light that keep their
// place relative to every shot's camera; the models' own lights are not used.
#ifndef VEFEXPORT_DEMOTIMELINE_H
#define VEFEXPORT_DEMOTIMELINE_H

#include <signal.h>

#include <string>
#include <vector>

#include "Export.h"

namespace vefexport {

struct TimelineModel {
  std::string file;              // as resolved: the timeline file's folder prepended
  Vec3 position{0, 0, 0};        // metres
  double turn = 0;               // degrees about +Y
  double scale = 1;              // uniform, > 0
  std::string animation;         // name, index or "all"; empty: the first
  bool loop = false;
};

struct TimelineCamera {
  enum Kind { kAuto, kEye, kMove, kModel } kind = kAuto;
  Vec3 eye{0, 0, 0}, target{0, 0, 0};      // kEye, and the start of kMove
  Vec3 eyeTo{0, 0, 0}, targetTo{0, 0, 0};  // the end of kMove
  int model = 0;                            // kModel: the shot's model holding the camera
  std::string name;                         // kModel: its camera, name or index
};

struct TimelineShot {
  double start = 0;  // seconds of music
  std::vector<TimelineModel> models;
  TimelineCamera camera;
};

struct Timeline {
  double fps = 25;
  std::vector<TimelineShot> shots;
};

// Reads a timeline from JSON `text`; model files are taken relative to
// `baseDir`. False with a message that begins with `name` and names the shot
// and field.
bool ParseTimeline(const std::string& text, const std::string& name, const std::string& baseDir, Timeline* timeline,
                   std::string* error);

// The scene frame on which a shot starting at `start` seconds begins, in a
// scene of `frames` frames spread over `musicSeconds`: the nearest one,
// round(start / musicSeconds * (frames - 1)).
uint32_t ShotFrame(double start, double musicSeconds, uint32_t frames);

// Converts the timeline into one scene file spread over `musicSeconds` of
// music, as ExportScene does for one model (same failure classes; summary
// lines per shot).
bool ExportTimeline(const Timeline& timeline, double musicSeconds, const std::string& outPath, uint64_t maxSize,
                    const volatile sig_atomic_t* interrupted, ExportResult* result, std::string* error,
                    ExportFailure* failure);

}  // namespace vefexport

#endif
