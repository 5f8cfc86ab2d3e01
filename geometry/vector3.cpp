#include "geometry/vector3.h"
