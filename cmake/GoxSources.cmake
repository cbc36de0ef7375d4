# Collects the .cpp files below the given folders (relative to the top of the tree) into OUT. New files
# join the build on the next configure; CONFIGURE_DEPENDS makes the build notice added files by itself.
function(gox_glob_sources OUT)
  set(result "")
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND result ${found})
  endforeach()
  list(SORT result)
  set(${OUT} ${result} PARENT_SCOPE)
endfunction()
