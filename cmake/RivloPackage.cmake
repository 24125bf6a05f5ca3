# The installed package (cmake --install): each component is a shared library with its
# headers, an export file (Rivlo::<name>), a pkg-config file (rivlo-<name>.pc; rivlo.pc for the
# core) and the dependencies its users must find. RivloConfig.cmake is written once every folder
# was added, with the components this build installs:
#
#   rivlo     librivlo.so.1           the core and the Linux defaults        (always)
#   headless  librivlo-headless.so.1  the headless device                    platform/headless
#   qt        librivlo-qt.so.1        the Qt Widgets bridge (+ its web view   platform/qt
#                                     module rivlo-qt-webengine.so)
#   quick     librivlo-quick.so.1     the Qt Quick bridge, on top of qt       platform/quick
#
# A component's folder calls rivlo_package_component; nothing else needs to change for a new
# one. Inside this build, and for projects that add this one with add_subdirectory, the same
# targets exist as Rivlo::rivlo, Rivlo::headless, Rivlo::qt, Rivlo::quick.
include(CMakePackageConfigHelpers)
set(RIVLO_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Rivlo)

# rivlo_package_component(NAME TARGET target [HEADERS h...] [HEADER_DESTINATION dir]
#     [DESCRIPTION text] [COMPONENTS other...] [FIND_DEPENDENCIES "Pkg ARGS" ...]
#     [PKG_CONFIG_REQUIRES module...] [MODULES module-target...])
#   COMPONENTS          package components this one builds on (loaded first by users)
#   FIND_DEPENDENCIES   find_dependency() arguments its users need, one string each
#   PKG_CONFIG_REQUIRES pkg-config modules its .pc file requires besides rivlo
#   MODULES             MODULE libraries installed next to it (loaded at run time)
function(rivlo_package_component name)
    cmake_parse_arguments(ARG "" "TARGET;HEADER_DESTINATION;DESCRIPTION"
                          "HEADERS;COMPONENTS;FIND_DEPENDENCIES;PKG_CONFIG_REQUIRES;MODULES"
                          ${ARGN})
    string(SUBSTRING ${name} 0 1 first)
    string(SUBSTRING ${name} 1 -1 rest)
    string(TOUPPER ${first} first)
    set(exportFile Rivlo${first}${rest}Targets.cmake)
    if(name STREQUAL "rivlo")
        set(exportFile RivloTargets.cmake)
    endif()

    install(TARGETS ${ARG_TARGET} EXPORT Rivlo_${name}_targets
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development)
    if(ARG_MODULES)
        install(TARGETS ${ARG_MODULES} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
    endif()
    if(ARG_HEADERS)
        install(FILES ${ARG_HEADERS}
                DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${ARG_HEADER_DESTINATION})
    endif()
    install(EXPORT Rivlo_${name}_targets NAMESPACE Rivlo:: FILE ${exportFile}
            DESTINATION ${RIVLO_CMAKE_INSTALL_DIR})

    # What users of the component must find before its targets load.
    set(dependencies "include(CMakeFindDependencyMacro)\n")
    foreach(component IN LISTS ARG_COMPONENTS)
        string(APPEND dependencies "_rivlo_load_component(${component})\n")
    endforeach()
    foreach(dependency IN LISTS ARG_FIND_DEPENDENCIES)
        string(APPEND dependencies "find_dependency(${dependency})\n")
    endforeach()
    file(WRITE ${PROJECT_BINARY_DIR}/package/Rivlo_${name}_dependencies.cmake "${dependencies}")
    install(FILES ${PROJECT_BINARY_DIR}/package/Rivlo_${name}_dependencies.cmake
            DESTINATION ${RIVLO_CMAKE_INSTALL_DIR})

    # pkg-config: the prefix is found from the file's own place, so the installed tree can move.
    file(RELATIVE_PATH up /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
    get_target_property(outputName ${ARG_TARGET} OUTPUT_NAME)
    if(NOT outputName)
        set(outputName ${ARG_TARGET})
    endif()
    set(pcName rivlo-${name})
    set(requires "rivlo")
    if(name STREQUAL "rivlo")
        set(pcName rivlo)
        set(requires "")
    endif()
    foreach(component IN LISTS ARG_COMPONENTS)
        string(APPEND requires " rivlo-${component}")
    endforeach()
    foreach(module IN LISTS ARG_PKG_CONFIG_REQUIRES)
        string(APPEND requires " ${module}")
    endforeach()
    string(STRIP "${requires}" requires)
    set(pc "prefix=\${pcfiledir}/${up}\n"
           "libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}\n"
           "includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}\n\n"
           "Name: ${pcName}\n"
           "Description: ${ARG_DESCRIPTION}\n"
           "Version: ${PROJECT_VERSION}\n")
    if(requires)
        list(APPEND pc "Requires: ${requires}\n")
    endif()
    list(APPEND pc "Libs: -L\${libdir} -l${outputName}\n" "Cflags: -I\${includedir}\n")
    string(JOIN "" pc ${pc})
    file(WRITE ${PROJECT_BINARY_DIR}/package/${pcName}.pc "${pc}")
    install(FILES ${PROJECT_BINARY_DIR}/package/${pcName}.pc
            DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

    set_property(GLOBAL APPEND PROPERTY RIVLO_PACKAGE_COMPONENTS ${name})
    set_property(GLOBAL PROPERTY RIVLO_PACKAGE_${name}_EXPORT_FILE ${exportFile})
endfunction()

# Writes RivloConfig.cmake and its version file with the components installed (called once
# every folder was added).
function(rivlo_package_finish)
    get_property(components GLOBAL PROPERTY RIVLO_PACKAGE_COMPONENTS)
    set(RIVLO_PACKAGE_EXPORT_FILES "")
    foreach(component IN LISTS components)
        get_property(file GLOBAL PROPERTY RIVLO_PACKAGE_${component}_EXPORT_FILE)
        string(APPEND RIVLO_PACKAGE_EXPORT_FILES "set(_rivlo_export_file_${component} ${file})\n")
    endforeach()
    set(RIVLO_PACKAGE_INSTALLED_COMPONENTS "${components}")
    configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/RivloConfig.cmake.in
        ${PROJECT_BINARY_DIR}/package/RivloConfig.cmake
        INSTALL_DESTINATION ${RIVLO_CMAKE_INSTALL_DIR})
    write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/RivloConfigVersion.cmake
        VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
    install(FILES ${PROJECT_BINARY_DIR}/package/RivloConfig.cmake
                  ${PROJECT_BINARY_DIR}/package/RivloConfigVersion.cmake
            DESTINATION ${RIVLO_CMAKE_INSTALL_DIR})
endfunction()
