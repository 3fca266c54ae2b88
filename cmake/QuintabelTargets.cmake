# The build options of every target and the layers of the source tree.
#
#   qb_options
#       An interface library with the compile and link options of the
#       project: warnings, the sanitizers (QB_SANITIZE), the Windows
#       definitions and the static linking of Windows programs.
#   qb_layer(<library> <folder>)
#       <library> is built from <folder>: it and whatever links it see the
#       headers of <folder> (as "<folder>/name.h") and of the layers it links,
#       nothing else. So zip/ cannot include launcher/ by accident: its
#       library does not link the launcher's.
#   qb_program(<target> [SOURCE_ROOT])
#       An executable or library outside the layers gets the project's
#       options; with SOURCE_ROOT it also sees the whole tree (tests, probes).

include_guard(GLOBAL)

add_library(qb_options INTERFACE)
target_compile_options(qb_options INTERFACE -Wall -Wextra)
if(QB_SANITIZE)
  target_compile_options(qb_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(qb_options INTERFACE -fsanitize=address,undefined)
endif()
if(QB_SANITIZE_THREADS)
  target_compile_options(qb_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(qb_options INTERFACE -fsanitize=thread)
endif()
if(WIN32)
  target_compile_definitions(qb_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # One self-contained executable: the C++ runtime, libgcc and zlib are all
  # linked in.
  target_link_options(qb_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

# The folder whose only entry is a link named <folder> to the sources of
# <folder>: the include folder of that layer.
function(qb_layer_root out folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  if(NOT EXISTS ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

function(qb_layer target folder)
  qb_layer_root(root ${folder})
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PRIVATE qb_options)
endfunction()

function(qb_program target)
  cmake_parse_arguments(ARG "SOURCE_ROOT" "" "" ${ARGN})
  target_link_libraries(${target} PRIVATE qb_options)
  if(ARG_SOURCE_ROOT)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
  endif()
endfunction()
