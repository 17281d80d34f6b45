// SceneWriter.h compiles on its own.
#include "SceneWriter.h"
