// standin/desktop.h compiles on its own.
#include "standin/desktop.h"
