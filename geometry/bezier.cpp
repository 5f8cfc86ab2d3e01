#include "geometry/bezier.h"
