# CLI11 and nlohmann-json for a cross-build. Both are header-only and Debian
# installs them for the build machine only; their headers are plain C++, so
# the target compiler can use them. Only their own folders are put on the
# include path: the rest of /usr/include belongs to the build machine's C
# library and would hide the target's.
find_path(KFU_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(KFU_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)

set(KFU_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${KFU_HOST_HEADERS})
file(CREATE_LINK ${KFU_CLI11_INCLUDE}/CLI ${KFU_HOST_HEADERS}/CLI SYMBOLIC)
file(CREATE_LINK ${KFU_JSON_INCLUDE}/nlohmann ${KFU_HOST_HEADERS}/nlohmann SYMBOLIC)

add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${KFU_HOST_HEADERS})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${KFU_HOST_HEADERS})
