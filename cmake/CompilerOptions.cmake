# Flags shared by every target of the project.

# Results must not depend on whether the compiler fuses a*b+c into one rounding.
add_compile_options(-ffp-contract=off)

# cvqrn_warnings: the warning set every project target builds with.
add_library(cvqrn_warnings INTERFACE)
target_compile_options(cvqrn_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
  -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
if(CVQRN_WERROR)
  target_compile_options(cvqrn_warnings INTERFACE -Werror)
endif()

if(CVQRN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
