#include "geometry/end_analysis.h"
