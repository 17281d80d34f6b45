// Import-only state of a Scene: what the record stream has promised (record
// indices of references, kept beside the records until they are resolved into
// pointers) and where the reader stands in the file.
#ifndef SCENEIMPORT_H
#define SCENEIMPORT_H

#include <stdint.h>

#include <vector>

#include "Scene.h"

struct Scene::ImportState {
  // refuse() targets that are not a record index.
  static const int32_t kHeader = INT32_MIN;
  static const int32_t kNoRecord = INT32_MIN + 1;

  struct MaterialRun {
    uint32_t length;   // faces covered, continuing from the previous run
    int32_t material;  // ref, 0 = default material
  };
  // Parallel to `meshes`.
  struct MeshRefs {
    int32_t self = 0;        // the mesh's own record index
    int32_t vertexList = 0;  // ref, 0 = none
    int32_t material = 0;    // ref when the mesh has no runs, 0 = default material
    int32_t uvList = 0;      // ref, 0 = none
    std::vector<MaterialRun> runs;
    int32_t neededVertices = 0;  // largest vertex index used by a face + 1
  };
  // Parallel to `keys`.
  struct KeyRefs {
    int32_t self = 0;   // the key's own record index
    int32_t mesh = 0;   // ref
    int32_t morph = 0;  // ref (kind 2)
    int32_t meshSlot = 0;  // position of the mesh in `meshes`, set by validate
  };
  // The keys sorted by (mesh, frame, position), for linkNextKey.
  struct KeyOrder {
    uintptr_t mesh;  // the mesh's position in `meshes`
    int64_t frame;
    int32_t position;

    bool operator<(const KeyOrder& b) const {
      if (mesh != b.mesh) return mesh < b.mesh;
      if (frame != b.frame) return frame < b.frame;
      return position < b.position;
    }
  };

  std::vector<MeshRefs> meshRefs;
  std::vector<KeyRefs> keyRefs;
  // Parallel to `materials`.
  struct MaterialRefs {
    int32_t self;     // the material's own record index
    int32_t texture;  // ref, 0 = none
  };
  std::vector<MaterialRefs> materialRefs;
  std::vector<KeyOrder> keyOrder;
  std::vector<int32_t> nextPosition;      // parallel to `keys`: position of each key's next

  uint64_t fileSize = 0;
  uint64_t position = 0;        // bytes read so far
  int32_t recordTableSize = 0;
  bool failed = false;          // a read came up short: the stream is at its end
  bool readError = false;       // a read failed before the end of the file
  bool refused = false;
};

#endif
