# Finds libyaml through pkg-config and gives the imported target LibYaml::LibYaml. Used by this tree and
# shipped with the SDK's package, whose config file finds it with find_dependency(LibYaml).
include(FindPackageHandleStandardArgs)
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(PC_LIBYAML QUIET yaml-0.1)
endif()
find_path(LibYaml_INCLUDE_DIR yaml.h HINTS ${PC_LIBYAML_INCLUDE_DIRS})
find_library(LibYaml_LIBRARY NAMES yaml HINTS ${PC_LIBYAML_LIBRARY_DIRS})
set(LibYaml_VERSION ${PC_LIBYAML_VERSION})
find_package_handle_standard_args(LibYaml REQUIRED_VARS LibYaml_LIBRARY LibYaml_INCLUDE_DIR
                                  VERSION_VAR LibYaml_VERSION)
if(LibYaml_FOUND AND NOT TARGET LibYaml::LibYaml)
  add_library(LibYaml::LibYaml UNKNOWN IMPORTED)
  set_target_properties(LibYaml::LibYaml PROPERTIES IMPORTED_LOCATION "${LibYaml_LIBRARY}"
                                                    INTERFACE_INCLUDE_DIRECTORIES "${LibYaml_INCLUDE_DIR}")
endif()
mark_as_advanced(LibYaml_INCLUDE_DIR LibYaml_LIBRARY)
