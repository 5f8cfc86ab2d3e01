// Compiled against the track file library alone: its own headers and Vec3 are found.
#include "trackfile/track_file.h"
#include "vec3/vec3.h"
