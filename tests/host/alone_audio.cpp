// standin/audio.h compiles on its own.
#include "standin/audio.h"
