# The Linux defaults' suite (included from this folder's CMakeLists.txt).
rivlo_test(test_linux
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/linux_system_facts_tests.cpp
            ${CMAKE_CURRENT_LIST_DIR}/linux_network_tests.cpp
            ${CMAKE_CURRENT_LIST_DIR}/linux_platform_tests.cpp
    LIBS rivlo_linux)
