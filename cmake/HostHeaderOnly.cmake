# A cross build takes the header-only libraries from the build machine's Debian packages
# (libcli11-dev, nlohmann-json3-dev): their headers alone, not the rest of its /usr/include.
set(HOST_HEADER_DIR ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${HOST_HEADER_DIR})
foreach(header_dir CLI nlohmann)
  if(NOT EXISTS /usr/include/${header_dir})
    message(FATAL_ERROR "/usr/include/${header_dir} is missing (libcli11-dev, nlohmann-json3-dev)")
  endif()
  file(CREATE_LINK /usr/include/${header_dir} ${HOST_HEADER_DIR}/${header_dir} SYMBOLIC)
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${HOST_HEADER_DIR})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${HOST_HEADER_DIR})
