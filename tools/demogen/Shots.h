// The generator's shots: nine camera moves that cut every four bars, the
// view each frame sees, its camera key, and what that view may show.
//
// Camera space: x right, y up, z away from the viewer. The demo's projection
// is fixed: 45 degrees across 800 x 600, near 0.1, far 1000.
#ifndef DEMOGEN_SHOTS_H
#define DEMOGEN_SHOTS_H

#include "SceneMath.h"
#include "SceneWriter.h"

namespace demogen {

struct Camera {
  V3 eye, target;  // world space
};

constexpr int kBeatsPerShot = 16;  // a camera shot lasts four bars

// The camera of shot `shot` (cycling through nine moves) at `u` in 0..1 of it.
Camera ShotCamera(int shot, float u);

// A look-at view with +y up.
struct View {
  V3 right, up, forward, eye;
  V3 ToCamera(V3 p) const {
    V3 d = p - eye;
    return {Dot(d, right), Dot(d, up), Dot(d, forward)};
  }
};

View MakeView(const Camera& c);

// The camera key's matrix block. The file holds the view transform of a
// right-handed camera looking down -z; the importer negates z to get the
// demo's z-forward camera space.
vef::MatrixBlock CameraBlock(const View& v);

// True when a sphere may show in the demo's view volume.
bool InView(const View& view, V3 centre, float radius);

}  // namespace demogen

#endif
