# What an installation holds beside the programs (the program, the help text
# and the pictures are installed where they are built): the desktop entry
# and the icon; and the Debian package made of it all with CPack
# (scripts/package).
install(FILES assets/skydome.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES assets/skydome.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME skydome)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "KV3")
set(CPACK_PACKAGE_CONTACT "KV3 Skydome Creator developers <skydome@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interactive sky-dome creator on a real-time 3D engine")
set(CPACK_PACKAGE_DESCRIPTION
    "Computes the clear daytime sky with an analytic daylight model, shows it on a dome from outside or from its centre, and saves the dome, glTF models and panoramas. Comes with kvdump (chunk files) and kvimage (pictures).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The libraries the programs link are found by dpkg-shlibdeps; OpenGL itself
# comes through SDL at run time: Mesa's drivers, on screen or off it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgl1-mesa-dri, libegl1, libegl-mesa0")
set(CPACK_STRIP_FILES ON)
include(CPack)
