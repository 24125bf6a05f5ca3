# The seam value types and the toolkit object model (no platform implementation needed).
rivlo_test(test_platform_seams
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/GeometryTests.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ImageTests.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/RuntimeTests.cpp
    LIBS rivlo_platform JPEG::JPEG)
