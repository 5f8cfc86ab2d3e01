# Flags shared by every target of the project.

# Results must not depend on whether the compiler fuses a*b+c into one rounding.
add_compile_options(-ffp-contract=off)

# cvqrn_exact_rounding: linked by every library that computes in double and
# stores singles (vec3, model, trackfile, geometry, fitting, heartline,
# profile), so that where a function lives does not decide whether its
# roundings survive. GCC 12's SLP vectoriser (on at -O3, and at -O2 with its
# cheapest cost model) packs the three components of a Vec3 computation into
# vectors and can feed one lane on still in double instead of rounded to
# single: it did so in lsf_DeCasteljau's levels once inlined into
# lsf_NewtonRaphson, and would do so wherever the same shape meets the same
# inlining. Clang keeps every rounding and needs nothing. The differential
# test checks the core against an unoptimised copy of itself at the everyday
# -O2 and at the release's -O3 (docs/exact-bytes.md).
add_library(cvqrn_exact_rounding INTERFACE)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(cvqrn_exact_rounding INTERFACE -fno-tree-slp-vectorize)
endif()

# cvqrn_warnings: the warning set every project target builds with.
add_library(cvqrn_warnings INTERFACE)
target_compile_options(cvqrn_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
  -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
if(CVQRN_WERROR)
  target_compile_options(cvqrn_warnings INTERFACE -Werror)
endif()

if(CVQRN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
