// The vertex records as the device and the batch read them. This header is
// included first, so it also shows that it stands on its own.
#include "ClipVertex.h"

#include <stddef.h>

static_assert(offsetof(TLVertex, x) == 0 && offsetof(TLVertex, y) == 4 &&
                  offsetof(TLVertex, z) == 8 && offsetof(TLVertex, rhw) == 12 &&
                  offsetof(TLVertex, diffuse) == 16 && offsetof(TLVertex, u) == 20 &&
                  offsetof(TLVertex, v) == 24,
              "TLVertex must match the XYZRHW | DIFFUSE | TEX1 vertex byte for byte");
static_assert(offsetof(ClipVertex, tl) == 0, "the batch copies the leading TLVertex");
static_assert(offsetof(ClipVertex, vx) == 28 && offsetof(ClipVertex, clipFlags) == 40,
              "ClipVertex: view-space position after the screen vertex, then the flags");
static_assert(sizeof(ClipPlane) == 16, "ClipPlane is four floats");
