#include "heartline/generator.h"
