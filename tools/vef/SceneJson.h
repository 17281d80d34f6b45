// vef::SceneJson - a prepared Scene as JSON, for tools and tests.
#ifndef VEF_SCENEJSON_H
#define VEF_SCENEJSON_H

#include <string>

#include "Scene.h"
#include "SceneReader.h"

namespace vef {

// The scene after import and preparation, one JSON object:
//   header            the ten header values of the file (from `listing`)
//   maxVertexCount, frameDuration, frameSpans ([firstKey, keyCount] per frame)
//   cameras           per camera: next (position in cameras), matrix
//   keys              per object key: frame, kind, mesh (position in meshes),
//                     meshRecord (its record index), next (position in keys),
//                     morphVertexList (kind 2), matrix {r0, r1, r2, t}
//   meshes            per mesh: record, faceCount, vertexList, uvList, materials
//                     (-1 = default material or none), matrix, faces (vertex,
//                     uv, material, normal, planeD, cornerColor), vertexNormals
//   vertexLists, uvLists (counts), materials (colours, textureHandle, texture),
//   textures          width, height, handle, pixelsFnv1a64 (FNV-1a 64 of the
//                     RGB bytes, 16 hex digits)
//   lights            mode, enabled, color, intensity, position
// Floats are printed with 9 significant digits; NaN and infinities as null.
// `listing` must come from the same file: it gives the header and the mesh
// record indices.
std::string SceneJson(const Scene& scene, const FileListing& listing);

}  // namespace vef

#endif
