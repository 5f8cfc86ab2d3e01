# Include roots that expose one folder each.
#
# Every library is included as "<folder>/name.h". Its include root is a folder
# in the build tree that holds nothing but a link named <folder> to the source
# folder, so a target sees the headers of the folders it links and no others:
# an include of a folder the target does not depend on fails to compile, and
# the link graph CMake knows is the whole dependency graph. A library may keep
# headers to itself: those only its own sources (and its tests, through
# <target>_internals) see. tests/layering probes every edge the graph forbids.

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

# cvqrn_own_headers(<target> <folder> [PRIVATE <header>...]): <target> and
# everything linking it see the headers of <folder>, except the PRIVATE ones:
# those only <target>'s own sources see, and whatever links the interface
# library <target>_internals (the tests of its stages).
function(cvqrn_own_headers target folder)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "PRIVATE")
  cvqrn_include_root(whole ${folder})
  if(NOT arg_PRIVATE)
    target_include_directories(${target} PUBLIC ${whole})
    return()
  endif()
  # The others' root: a real folder of links, one per header that is not private.
  set(public ${CVQRN_INCLUDE_ROOTS}/public/${folder})
  file(MAKE_DIRECTORY ${public}/${folder})
  file(GLOB links LIST_DIRECTORIES false ${public}/${folder}/*)
  foreach(link ${links})
    file(REMOVE ${link})
  endforeach()
  file(GLOB headers CONFIGURE_DEPENDS LIST_DIRECTORIES false
       RELATIVE ${PROJECT_SOURCE_DIR}/${folder} ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  list(REMOVE_ITEM headers ${arg_PRIVATE})
  foreach(header ${headers})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder}/${header} ${public}/${folder}/${header}
         SYMBOLIC)
  endforeach()
  target_include_directories(${target} BEFORE PRIVATE ${whole})
  target_include_directories(${target} INTERFACE ${public})
  add_library(${target}_internals INTERFACE)
  target_include_directories(${target}_internals INTERFACE ${whole})
  target_link_libraries(${target}_internals INTERFACE ${target})
endfunction()
