#include "fitting/bezier_fit.h"
