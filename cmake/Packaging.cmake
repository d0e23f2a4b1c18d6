# What is installed beside the programs:
#
#   cmake --install <build> [--prefix DIR]    the programs and the files below
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
