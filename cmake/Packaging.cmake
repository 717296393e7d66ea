# Install rules and the Debian package.
#
# Layout under the prefix (/usr for the package, /usr/local for a plain `cmake --install`):
#   lib/kelmar/zarn            the launcher; a player's game folder gets its own copy of it
#   lib/kelmar/zarn.packaged   marks that copy as the package's: installing a game folder from it
#                              never deletes it
#   bin/zarn                   starts the player's installed launcher, else the one above
#   share/applications/kelmar.desktop, share/icons/hicolor/64x64/apps/kelmar.png
#   share/doc/kelmar/          the operator documentation and an example skin
include(GNUInstallDirs)
set(ZARN_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/kelmar)

set(ZARN_INSTALL_APPDIR "lib/kelmar" CACHE STRING "folder of the packaged launcher, relative to the prefix")

# The start command finds the packaged launcher relative to itself, so the tree can be installed
# under any prefix.
file(RELATIVE_PATH ZARN_WRAPPER_TO_APPDIR /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${ZARN_INSTALL_APPDIR})
configure_file(${PROJECT_SOURCE_DIR}/packaging/zarn.sh.in ${PROJECT_BINARY_DIR}/packaging/zarn @ONLY)
set(ZARN_START_SCRIPT ${PROJECT_BINARY_DIR}/packaging/zarn)

if(ZARN_BUILD_UI)
  install(TARGETS zarn RUNTIME DESTINATION ${ZARN_INSTALL_APPDIR} COMPONENT launcher)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/zarn.packaged DESTINATION ${ZARN_INSTALL_APPDIR}
          COMPONENT launcher)
  install(PROGRAMS ${ZARN_START_SCRIPT} DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT launcher)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kelmar.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT launcher)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icon/128.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps
          RENAME kelmar.png COMPONENT launcher)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${ZARN_INSTALL_DOCDIR} COMPONENT launcher)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${ZARN_INSTALL_DOCDIR} COMPONENT launcher
        OPTIONAL)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/skins/example/ DESTINATION ${ZARN_INSTALL_DOCDIR}/example-skin
        COMPONENT launcher OPTIONAL)

set(CPACK_PACKAGE_NAME "kelmar")
set(CPACK_PACKAGE_VENDOR "Kelmar")
set(CPACK_PACKAGE_CONTACT "Kelmar launcher maintainers <launcher@kelmar-game.com>" CACHE STRING "package maintainer")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Kelmar game launcher: installs, updates and starts the game")
set(CPACK_PACKAGE_DESCRIPTION
    "The Kelmar launcher installs the game into a folder of the player's choice, keeps the game client current from the content network, lists the game servers, registers accounts and starts the game.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY "kelmar")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "games")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ZARN_LAYOUT_WEBURL}")
# Shared libraries come from dpkg-shlibdeps; what the launcher loads at run time without linking
# it is named here: the web engine's helper process and data, the X11 platform plug-in and a font
# with Chinese glyphs. The desktop and icon caches are refreshed by the triggers of their packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6webenginecore6-bin, libqt6webengine6-data, qt6-qpa-plugins, fonts-wqy-zenhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine")

include(CPack)
