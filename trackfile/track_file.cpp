#include "trackfile/track_file.h"
