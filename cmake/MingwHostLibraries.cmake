# A MinGW cross build takes three libraries from the build machine's Debian
# packages, as sources or headers, never as Linux binaries:
#   - CLI11 (libcli11-dev) and nlohmann-json (nlohmann-json3-dev) are
#     header-only: only their CLI/ and nlohmann/ folders are put on the
#     include path, so that no Linux system header shadows a MinGW one;
#   - GoogleTest (googletest) is compiled from /usr/src/googletest with the
#     cross compiler.
set(VELMORA_HOST_CLI11_DIR "/usr/include/CLI" CACHE PATH "CLI11 headers for a cross build")
set(VELMORA_HOST_JSON_DIR "/usr/include/nlohmann" CACHE PATH "nlohmann-json headers for a cross build")
set(VELMORA_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources for a cross build")

if(NOT TARGET CLI11::CLI11 AND EXISTS "${VELMORA_HOST_CLI11_DIR}/CLI.hpp")
    set(staged "${CMAKE_BINARY_DIR}/host-headers")
    file(MAKE_DIRECTORY "${staged}")
    file(CREATE_LINK "${VELMORA_HOST_CLI11_DIR}" "${staged}/CLI" SYMBOLIC)
    add_library(CLI11::CLI11 INTERFACE IMPORTED)
    set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${staged}")
endif()

if(NOT TARGET nlohmann_json::nlohmann_json AND EXISTS "${VELMORA_HOST_JSON_DIR}/json.hpp")
    set(staged "${CMAKE_BINARY_DIR}/host-headers")
    file(MAKE_DIRECTORY "${staged}")
    file(CREATE_LINK "${VELMORA_HOST_JSON_DIR}" "${staged}/nlohmann" SYMBOLIC)
    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
    set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${staged}")
endif()

if(VELMORA_BUILD_TESTS AND NOT TARGET GTest::gtest_main
   AND EXISTS "${VELMORA_GTEST_SOURCE_DIR}/CMakeLists.txt")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory("${VELMORA_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
endif()
