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

# Each header-only library gets a folder of its own holding only a link to
# its headers' folder.
function(velmora_stage_host_headers target folder link)
    if(NOT TARGET ${target} AND IS_DIRECTORY "${folder}")
        set(staged "${CMAKE_BINARY_DIR}/host-include/${link}")
        file(MAKE_DIRECTORY "${staged}")
        file(CREATE_LINK "${folder}" "${staged}/${link}" SYMBOLIC)
        add_library(${target} INTERFACE IMPORTED)
        set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${staged}")
    endif()
endfunction()
velmora_stage_host_headers(CLI11::CLI11 "${VELMORA_HOST_CLI11_DIR}" CLI)
velmora_stage_host_headers(nlohmann_json::nlohmann_json "${VELMORA_HOST_JSON_DIR}" nlohmann)

if(VELMORA_BUILD_TESTS AND NOT TARGET GTest::gtest_main
   AND EXISTS "${VELMORA_GTEST_SOURCE_DIR}/CMakeLists.txt")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory("${VELMORA_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
endif()
