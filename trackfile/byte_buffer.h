// Big-endian field primitives over an in-memory file image.
#pragma once
