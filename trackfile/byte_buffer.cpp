#include "trackfile/track_record.h"
