# gox_add_plugin_module: builds a plugin module, the shared library a host core loads.
#
#   gox_add_plugin_module(my_plugin ENTRY load_my_plugin
#                         SOURCES src/entry.cpp src/my_plugin.cpp
#                         LIBRARIES my_plugin_code)
#
# The module exports ENTRY and nothing else (a version script hides every other symbol, and the code is
# compiled with hidden visibility), links GoxPluginSdk::sdk and the LIBRARIES given, and carries the
# module heap hooks that route its heap through the counters of GetMemoryStats. The host finds the entry
# by the library's file name: a module whose file is libgox_inventory.so exports load_gox_inventory.
# Outside sanitizer builds the module must resolve every symbol by itself (-Wl,--no-undefined).

set_property(GLOBAL PROPERTY GOX_PLUGIN_MODULE_SUPPORT_DIR "${CMAKE_CURRENT_LIST_DIR}")

function(gox_add_plugin_module target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "ENTRY" "SOURCES;LIBRARIES")
  if(NOT ARG_ENTRY)
    message(FATAL_ERROR "gox_add_plugin_module(${target}): ENTRY names the module's exported entry")
  endif()
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "gox_add_plugin_module(${target}): SOURCES is empty")
  endif()
  get_property(supportSources GLOBAL PROPERTY GOX_PLUGIN_MODULE_SOURCES)
  if(NOT supportSources)
    get_property(supportDir GLOBAL PROPERTY GOX_PLUGIN_MODULE_SUPPORT_DIR)
    set(supportSources ${supportDir}/module/module_heap_hooks.cpp ${supportDir}/module/module_lifetime.cpp)
  endif()
  add_library(${target} SHARED ${ARG_SOURCES} ${supportSources})
  target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES} GoxPluginSdk::sdk)
  set_target_properties(${target} PROPERTIES PREFIX "lib" CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

  set(exports ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports)
  file(CONFIGURE OUTPUT ${exports} CONTENT "{\n  global:\n    ${ARG_ENTRY};\n  local:\n    *;\n};\n" @ONLY)
  target_link_options(${target} PRIVATE -Wl,--version-script=${exports})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${exports})
  # Sanitizer runtimes are linked into the executable that loads the module, so only plain builds can
  # insist that the module resolves every symbol by itself.
  if(NOT GOX_SANITIZERS AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
