// SceneFormat.h compiles on its own.
#include "SceneFormat.h"
