// The player's header first: it compiles on its own.
#include "ScenePlayer.h"

static_assert(ScenePlayer::kPolygonCapacity >= 3 + ScenePlayer::kPlaneCount,
              "a triangle gains at most one vertex per plane");
static_assert(ScenePlayer::kMaxClipInput * 3 / 2 <= ScenePlayer::kPolygonCapacity,
              "one clipping step never overruns a polygon buffer");
