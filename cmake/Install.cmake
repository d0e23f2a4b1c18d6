# Install layout and the programs' man pages. Included before the programs'
# folders, which install themselves with velmora_install_program().

include(GNUInstallDirs)
# Documentation goes under the package's name, as Debian has it, unless
# CMAKE_INSTALL_DOCDIR is given.
if("$CACHE{CMAKE_INSTALL_DOCDIR}" STREQUAL "")
    set(CMAKE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/velmora)
endif()

# Man pages come from each program's --help and --version (help2man), so they
# need programs that run here: not in a cross build, and not in a sanitizer
# build, which is for tests and would report Qt's start-up allocations.
set(VELMORA_MAN_PAGES AUTO CACHE STRING "Write man pages with help2man: ON, OFF or AUTO (when found)")
set_property(CACHE VELMORA_MAN_PAGES PROPERTY STRINGS AUTO ON OFF)
set(velmora_man_pages OFF)
if(UNIX AND NOT CMAKE_CROSSCOMPILING AND NOT VELMORA_MAN_PAGES STREQUAL "OFF")
    find_program(VELMORA_HELP2MAN help2man)
    find_program(VELMORA_GZIP gzip)
    if(VELMORA_HELP2MAN AND VELMORA_GZIP)
        if(VELMORA_MAN_PAGES STREQUAL "ON" OR NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
            set(velmora_man_pages ON)
        endif()
    elseif(VELMORA_MAN_PAGES STREQUAL "ON")
        message(FATAL_ERROR "VELMORA_MAN_PAGES is ON but help2man or gzip is missing: "
                            "install them (apt-get install help2man gzip).")
    else()
        message(STATUS "help2man not found: no man pages")
    endif()
endif()

# Installs a program into bin/ and, on Unix, its man page into man1/.
# `summary` is the one line of the page's NAME section.
function(velmora_install_program target summary)
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    if(NOT velmora_man_pages)
        return()
    endif()
    set(page ${PROJECT_BINARY_DIR}/man/${target}.1)
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${VELMORA_HELP2MAN} -DGZIP=${VELMORA_GZIP}
                -DPROGRAM=$<TARGET_FILE:${target}> -DSUMMARY=${summary} -DOUTPUT=${page}
                -DINCLUDE_DIR=${PROJECT_SOURCE_DIR}/res/linux
                -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
        DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
                ${PROJECT_SOURCE_DIR}/res/linux/${target}.h2m
        COMMENT "Writing the man page of ${target}"
        VERBATIM)
    add_custom_target(${target}-man ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
