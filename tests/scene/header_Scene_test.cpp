// Scene.h compiles on its own.
#include "Scene.h"
