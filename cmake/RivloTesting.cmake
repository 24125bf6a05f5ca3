# rivlo_test(NAME SOURCES... LIBS ...): a GoogleTest executable registered with CTest.
function(rivlo_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock
                                          rivlo_internals rivlo_build_flags)
    # Fontconfig's font caches (Cairo text) live for the process: not leaks of ours.
    if(TARGET rivlo_fontconfig_suppressions)
        target_link_libraries(${name} PRIVATE rivlo_fontconfig_suppressions)
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
        PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "RIVLO_TEST=1")
endfunction()

# rivlo_bench(NAME SOURCES... LIBS ...): a Google Benchmark program (not run by ctest).
function(rivlo_bench name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/bench)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark rivlo_internals
                                          rivlo_build_flags)
endfunction()
