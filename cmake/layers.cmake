# mbeeg_sees(target folder...): the target includes "folder/File.h" only for
# the folders named. Its include root is a directory of links to just those
# folders, so an include of any other folder fails to compile.
function(mbeeg_sees target)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${target})
  file(MAKE_DIRECTORY ${root})
  file(GLOB old LIST_DIRECTORIES true ${root}/*)
  foreach(entry ${old})
    if(IS_SYMLINK ${entry})
      file(REMOVE ${entry})  # the link only, never what it points at
    endif()
  endforeach()
  list(REMOVE_DUPLICATES ARGN)
  foreach(dir ${ARGN})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${dir} ${root}/${dir} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PRIVATE ${root})
endfunction()

# mbeeg_layer(target STATIC|OBJECT DIRS folder... SEES folder...): a library
# of the sources in DIRS that sees the folders in SEES.
function(mbeeg_layer target kind)
  cmake_parse_arguments(L "" "" "DIRS;SEES" ${ARGN})
  set(sources)
  foreach(dir ${L_DIRS})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  add_library(${target} ${kind} ${sources} ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
  mbeeg_sees(${target} ${L_SEES})
endfunction()
