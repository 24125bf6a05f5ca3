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
elseif(RIVLO_SANITIZE STREQUAL "fuzzer")
    # Coverage for libFuzzer in every object; only the fuzz executables link libFuzzer's main.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(RIVLO_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

# The library's internal headers (src/, and the repository root for platform/<name>/): a private
# include path of every component, and of the tests, tools and benchmarks that reach inside.
# Only include/ (and the generated include/rivlo/Version.h) is public.
add_library(rivlo_internals INTERFACE)
target_include_directories(rivlo_internals INTERFACE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})

# rivlo_component(NAME SOURCES... DEPS ...): a static library of one subsystem. Its symbols
# stay inside the shared object: src/all/rivlo.map exports only the public API.
function(rivlo_component name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
    if(NOT ARG_SOURCES)
        # A component with headers only (so far) still links as a library.
        set(ARG_SOURCES ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
        file(WRITE ${ARG_SOURCES} "// no sources yet\n")
    endif()
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/include
                                              ${PROJECT_BINARY_DIR}/include)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS}
                          PRIVATE rivlo_internals rivlo_build_flags ${ARG_PRIVATE_DEPS})
endfunction()

# rivlo_require(TARGET... FOR what): stops the configuration with a clear message when a
# component something needs is not part of this build (instead of leaving a recorder out).
function(rivlo_require)
    cmake_parse_arguments(ARG "" "FOR" "" ${ARGN})
    foreach(needed IN LISTS ARG_UNPARSED_ARGUMENTS)
        if(NOT TARGET ${needed})
            message(FATAL_ERROR "${ARG_FOR} needs the component ${needed}, which is not part of this "
                                "build (RIVLO_ONLY=\"${RIVLO_ONLY}\"): add its folder or leave out "
                                "what needs it.")
        endif()
    endforeach()
endfunction()
