# Writes OUTPUT, a C++ source holding every file of PAGES_DIR (the console's pages) by name, so
# the collector serves them from its own binary wherever it is installed. Run by the build when
# a page changes.
file(GLOB pages RELATIVE ${PAGES_DIR} ${PAGES_DIR}/*)
list(SORT pages)
set(entries "")
foreach(name IN LISTS pages)
    file(READ ${PAGES_DIR}/${name} hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR bytes "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
    string(APPEND entries "    {\"${name}\", std::string_view(\"${escaped}\", ${bytes})},\n")
endforeach()
file(WRITE ${OUTPUT}.new
"// Generated from tools/collector/console/pages by EmbedPages.cmake; do not edit.\n"
"#include \"ConsolePages.h\"\n\n"
"namespace rivlo::collector {\n\n"
"const ConsolePages::Asset ConsolePages::kAssets[] = {\n${entries}};\n"
"const size_t ConsolePages::kAssetCount = sizeof(kAssets) / sizeof(kAssets[0]);\n\n"
"}  // namespace rivlo::collector\n")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
