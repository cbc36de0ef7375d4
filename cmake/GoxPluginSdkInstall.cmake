# Installs the plugin SDK as a CMake package: `cmake --install build/default --prefix DIR` puts under DIR
#   include/gox-plugin-sdk/   the public SDK headers, plugin/plugin_abi.h, the test host core's headers
#                             and gox_plugin_sdk_version.h
#   lib/                      libgox_sdk.a (position independent) and libgox_host.a (the test host core)
#   lib/cmake/GoxPluginSdk/   the package config, its version file, the imported targets,
#                             gox_add_plugin_module and the module heap hooks it compiles into a module
# A consumer writes find_package(GoxPluginSdk 1.0 CONFIG REQUIRED) and links GoxPluginSdk::sdk.

include(CMakePackageConfigHelpers)
include(GNUInstallDirs)

set(GOX_SDK_INCLUDE_DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/gox-plugin-sdk)
set(GOX_SDK_PACKAGE_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/GoxPluginSdk)

# What a plugin includes, and the headers those include. Everything else under sdk/ (storage, the wire
# side of endpoint calls, the JSON library's internals) stays private to the build. A header added here
# that includes one not listed fails the template's build in scripts/test.
set(GOX_SDK_PUBLIC_HEADERS
    async/await.h
    binding/base64.h
    binding/binding_property.h
    binding/conversion_result.h
    binding/failure.h
    binding/field_converter.h
    binding/help_types.h
    binding/maybe_type.h
    binding/module_heap.h
    binding/native_converters.h
    binding/native_kind.h
    binding/struct_conversion.h
    binding/type_identifier.h
    binding/type_registry.h
    binding/value_readers.h
    binding/value_visitor.h
    diagnostics/api_version.h
    diagnostics/assertion_report.h
    diagnostics/console_log_targets.h
    diagnostics/log_categories.h
    diagnostics/log_record.h
    diagnostics/log_target.h
    diagnostics/logger.h
    diagnostics/message_format.h
    diagnostics/platform_services.h
    diagnostics/trace_providers.h
    endpoints/api_description.h
    endpoints/call_dispatch.h
    endpoints/endpoint_builder.h
    endpoints/endpoint_handler.h
    endpoints/route.h
    host/app_module.h
    host/bridge_types.h
    host/host_requests.h
    host/plugin_base.h
    host/plugin_identity.h
    host/plugin_log_target.h
    host/resource_listener_registry.h
    host/resource_paths.h
    host/service_proxy_requests.h
    host/service_proxy_tables.h
    host/trace_hook.h
    serialization/json_decoder.h
    serialization/json_encoder.h
    serialization/msgpack_decoder.h
    serialization/yaml_decoder.h)
foreach(header IN LISTS GOX_SDK_PUBLIC_HEADERS)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES sdk/${header} DESTINATION ${GOX_SDK_INCLUDE_DESTINATION}/sdk/${folder})
endforeach()
install(FILES plugin/plugin_abi.h DESTINATION ${GOX_SDK_INCLUDE_DESTINATION}/plugin)
file(GLOB GOX_HOST_HEADERS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/host/*.h)
install(FILES ${GOX_HOST_HEADERS} DESTINATION ${GOX_SDK_INCLUDE_DESTINATION}/host)

# The SDK's own version, for code that wants to know what it was built against.
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/include/gox_plugin_sdk_version.h
     CONTENT "// The version of the gox plugin SDK these headers belong to (not the plugin-API version).\n#pragma once\n\n#define GOX_PLUGIN_SDK_VERSION \"@GOX_PLUGIN_SDK_VERSION@\"\n"
     @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/include/gox_plugin_sdk_version.h DESTINATION ${GOX_SDK_INCLUDE_DESTINATION})

install(TARGETS gox_sdk gox_host EXPORT GoxPluginSdkTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT GoxPluginSdkTargets NAMESPACE GoxPluginSdk:: DESTINATION ${GOX_SDK_PACKAGE_DESTINATION})

configure_package_config_file(cmake/GoxPluginSdkConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/GoxPluginSdkConfig.cmake
                              INSTALL_DESTINATION ${GOX_SDK_PACKAGE_DESTINATION})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/GoxPluginSdkConfigVersion.cmake
                                 VERSION ${GOX_PLUGIN_SDK_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/GoxPluginSdkConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/GoxPluginSdkConfigVersion.cmake cmake/GoxPluginModule.cmake
              cmake/FindLibYaml.cmake
        DESTINATION ${GOX_SDK_PACKAGE_DESTINATION})
install(FILES plugin/module_heap_hooks.cpp plugin/module_lifetime.cpp DESTINATION ${GOX_SDK_PACKAGE_DESTINATION}/module)
