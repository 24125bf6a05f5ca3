# Every dependency is a Debian package installed by scripts/setup.sh. The library's own come
# first; what only the suites, benchmarks and tools need is looked for only when they are built,
# so a project that builds just the library (or adds it with add_subdirectory) needs none of it.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(CURL REQUIRED)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
find_package(EXPAT REQUIRED)
pkg_check_modules(LIBAV REQUIRED IMPORTED_TARGET libavformat libavcodec libswscale libavutil)
# libyuv converts the screen frames (BGRA to YUV 4:2:0). Debian's libyuv-dev ships neither a
# pkg-config nor a CMake file: find the header and the library themselves.
find_path(LIBYUV_INCLUDE_DIR libyuv.h)
find_library(LIBYUV_LIBRARY NAMES yuv)
if(NOT LIBYUV_INCLUDE_DIR OR NOT LIBYUV_LIBRARY)
    message(FATAL_ERROR "libyuv not found (libyuv.h: ${LIBYUV_INCLUDE_DIR}, library: "
                        "${LIBYUV_LIBRARY}). Install the Debian package libyuv-dev "
                        "(scripts/setup.sh does).")
endif()
if(NOT TARGET Rivlo::libyuv)
    add_library(Rivlo::libyuv UNKNOWN IMPORTED)
    set_target_properties(Rivlo::libyuv PROPERTIES
        IMPORTED_LOCATION "${LIBYUV_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${LIBYUV_INCLUDE_DIR}")
endif()
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
find_package(GIF REQUIRED)
# The HTTP client adds a trusted certificate bundle to libcurl's OpenSSL contexts.
find_package(OpenSSL REQUIRED)

# The headless device draws with Cairo.
if(RIVLO_WITH_HEADLESS)
    pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
endif()

# The collector (tools) keeps its index in SQLite and serves with cpp-httplib; the suites'
# loopback server is cpp-httplib too.
if(RIVLO_BUILD_TOOLS OR RIVLO_BUILD_TESTS)
    find_package(SQLite3 REQUIRED)
    find_path(HTTPLIB_INCLUDE_DIR httplib.h REQUIRED)
endif()
if(RIVLO_BUILD_TESTS)
    find_package(GTest REQUIRED)
endif()
if(RIVLO_BUILD_BENCH)
    find_package(benchmark REQUIRED)
endif()
