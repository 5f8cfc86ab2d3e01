// Compiled against the track file library alone: the include below must not be found.
#include "heartline/generator.h"
