# Include roots that expose one folder each.
#
# Every library is included as "<folder>/name.h". Its include root is a folder
# in the build tree that holds nothing but a link named <folder> to the source
# folder, so a target sees the headers of the folders it links and no others:
# an include of a folder the target does not depend on fails to compile, and
# the link graph CMake knows is the whole dependency graph.

set(CVQRN_INCLUDE_ROOTS ${PROJECT_BINARY_DIR}/include_roots)

# cvqrn_include_root(<var> <folder>): sets <var> to the include root of <folder>
# (a path relative to the source root, e.g. "trackfile" or "tests/support").
function(cvqrn_include_root var folder)
  set(root ${CVQRN_INCLUDE_ROOTS}/${folder})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  set(${var} ${root} PARENT_SCOPE)
endfunction()

# cvqrn_own_headers(<target> <folder>): <target> and everything linking it see
# the headers of <folder>.
function(cvqrn_own_headers target folder)
  cvqrn_include_root(root ${folder})
  target_include_directories(${target} PUBLIC ${root})
endfunction()
