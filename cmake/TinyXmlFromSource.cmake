# TinyXML built from its source tree (the Debian source package, patches applied), for builds
# that have no system library: -DPELNORA_TINYXML_SOURCE=<folder with tinyxml.cpp>.
set(TINYXML_SOURCES tinyxml.cpp tinystr.cpp tinyxmlerror.cpp tinyxmlparser.cpp)
list(TRANSFORM TINYXML_SOURCES PREPEND ${PELNORA_TINYXML_SOURCE}/)
add_library(tinyxml_bundled STATIC ${TINYXML_SOURCES})
target_compile_definitions(tinyxml_bundled PUBLIC TIXML_USE_STL)
target_compile_options(tinyxml_bundled PRIVATE -w)
set(TINYXML_INCLUDE_DIR ${PELNORA_TINYXML_SOURCE})
set(TINYXML_LIBRARY tinyxml_bundled)
