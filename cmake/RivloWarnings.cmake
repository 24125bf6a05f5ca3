# Warning and sanitizer flags for the project's own targets.
add_library(rivlo_build_flags INTERFACE)
target_compile_options(rivlo_build_flags INTERFACE
    -Wall -Wextra -Wpedantic -Wno-unused-parameter -Wno-missing-field-initializers)
if(RIVLO_WERROR)
    target_compile_options(rivlo_build_flags INTERFACE -Werror)
endif()

if(RIVLO_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(RIVLO_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

# rivlo_component(NAME SOURCES... DEPS ...): a static library of one subsystem.
function(rivlo_component name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
    if(NOT ARG_SOURCES)
        # A component with headers only (so far) still links as a library.
        set(ARG_SOURCES ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
        file(WRITE ${ARG_SOURCES} "// no sources yet\n")
    endif()
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include
                                              ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE rivlo_build_flags ${ARG_PRIVATE_DEPS})
endfunction()
