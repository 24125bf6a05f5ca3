# Every dependency is a Debian package installed by scripts/setup.sh.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(CURL REQUIRED)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
find_package(EXPAT REQUIRED)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
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
find_package(SQLite3 REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(GTest REQUIRED)
find_package(benchmark REQUIRED)
find_path(HTTPLIB_INCLUDE_DIR httplib.h REQUIRED)
