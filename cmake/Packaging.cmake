# What is installed beside the programs, and the Debian package (CPack):
#
#   cmake --install <build> [--prefix DIR]    the programs and the files below
#   cpack --config <build>/CPackConfig.cmake  velmora_<version>-1_<arch>.deb
#
# scripts/package.sh does both for a release.
if(NOT UNIX)
    return()
endif()
set(linux_res ${PROJECT_SOURCE_DIR}/res/linux)

if(TARGET velmora)
    install(FILES ${linux_res}/velmora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    foreach(size IN ITEMS 16 32)
        install(FILES ${PROJECT_SOURCE_DIR}/res/icon${size}.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                RENAME velmora.png)
    endforeach()
endif()
if(TARGET velmora-cli)
    install(FILES ${linux_res}/velmora-cli.bash
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
            RENAME velmora-cli)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# udev reads its rules from /usr/lib, /lib and /etc only: under another prefix
# the rule is left out unless a folder is named.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(udev_rules_default "lib/udev/rules.d")
else()
    set(udev_rules_default "")
endif()
set(VELMORA_UDEV_RULES_DIR "${udev_rules_default}" CACHE PATH
    "Where the udev rule for USB serial adapters goes (empty: not installed)")
if(VELMORA_UDEV_RULES_DIR)
    install(FILES ${linux_res}/70-velmora-serial-adapters.rules
            DESTINATION ${VELMORA_UDEV_RULES_DIR})
else()
    message(STATUS "The udev rule is not installed under ${CMAKE_INSTALL_PREFIX}; "
                   "set VELMORA_UDEV_RULES_DIR=/etc/udev/rules.d to install it")
endif()

# The Debian package. Its copyright, changelog and lintian overrides are the
# component "debian", left out of a plain install and added by CPack.
set(VELMORA_PACKAGE_CONTACT "Velmora <support@velmora.invalid>" CACHE STRING
    "Maintainer of the Debian package: name <address>")
set(VELMORA_DEB_VERSION ${PROJECT_VERSION}-1)
string(TIMESTAMP VELMORA_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${linux_res}/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
    COMMAND gzip -9nfk changelog.Debian
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/debian
    VERBATIM)
add_custom_target(velmora-debian-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
install(FILES ${linux_res}/copyright ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${linux_res}/velmora.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME velmora
        COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR Velmora)
set(CPACK_PACKAGE_CONTACT "${VELMORA_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "satellite receiver upgrade over a serial line")
set(CPACK_PACKAGE_DESCRIPTION
    "Velmora sends a program image, or a SATCODX channel list (.sdx) converted
into the receiver's channel database image, to a DVB-S receiver's boot loader
over a serial line, in acknowledged and paced blocks.

The package holds the dialog (velmora, in the desktop menu), the command line
(velmora-cli) and an emulated receiver (velmora-emulator) to try the job
without one. Opening a serial port needs membership of the dialout group. A
udev rule keeps ModemManager away from common USB serial adapters.")
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/"
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};debian;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The dependencies are those of the linked libraries (dpkg-shlibdeps); only
# Qt's platform plugins, which the dialog loads at run time, are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET velmora)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
endif()
# The shop record reaches a database through an ODBC driver that the shop
# chooses; PostgreSQL's is the one the tests use.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS odbc-postgresql)

include(CPack)
