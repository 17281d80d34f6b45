// The default scene: a hall of stone columns around a glowing, morphing orb,
// with orbiting cubes, a tumbling golden ring and hopping crystals, filmed by
// a camera that cuts on the bars of the soundtrack.
//
// World space: right-handed, y up, metres; the floor is the plane y = 0.
// Triangles turn counter-clockwise seen from outside, which is what the demo
// draws as front faces.
#ifndef DEMOGEN_SCENEGEN_H
#define DEMOGEN_SCENEGEN_H

#include <cstdint>

#include "SceneWriter.h"
#include "Timeline.h"

namespace demogen {

// Adds every record of the scene for `timeline` to `writer`: textures,
// materials, geometry, four lights, then per frame the camera key and the
// object keys of the objects in view (and of those just entering or leaving
// it). The frame count is timeline.FrameCount().
void BuildScene(const Timeline& timeline, vef::SceneWriter* writer);

}  // namespace demogen

#endif
