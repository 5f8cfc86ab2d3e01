# Flags shared by every target of the project.

# Results must not depend on whether the compiler fuses a*b+c into one rounding.
add_compile_options(-ffp-contract=off)

# cvqrn_exact_rounding: for the sources whose single roundings GCC has been
# seen to drop. GCC 12's SLP vectoriser (on at -O3, and at -O2 with its
# cheapest cost model) packs the three components of lsf_DeCasteljau's
# levels into vectors once it is inlined into lsf_NewtonRaphson with a known
# degree, and feeds one lane of a level to the next still in double instead
# of rounded to single: the Newton step, and so the fitted curves, change.
# Clang keeps every rounding at every level and needs nothing. The option
# costs the heartline run about 15 % when given to the whole core, and
# nothing when given to the fitter alone; the differential test (the core
# against an unoptimised copy of itself) checks the rest of the core in
# every configuration.
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
