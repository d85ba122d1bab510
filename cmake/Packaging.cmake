# Installation rules and the Debian package: `cpack -G DEB` in the build folder makes
# strelvane_<version>_<arch>.deb. The desktop program and its files join the package
# when the build has the `strelvane` target.
include(GNUInstallDirs)

set(STRELVANE_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(STRELVANE_GENERATED ${PROJECT_BINARY_DIR}/packaging)

# Man pages and the changelog go into the package compressed, as Debian wants them.
function(strelvane_gzip source target)
  add_custom_command(OUTPUT ${target}
    COMMAND gzip -9nc ${source} > ${target}
    DEPENDS ${source} VERBATIM)
endfunction()

configure_file(${STRELVANE_PACKAGING}/man/strelvane-cli.1 ${STRELVANE_GENERATED}/strelvane-cli.1 @ONLY)
configure_file(${STRELVANE_PACKAGING}/man/strelvane.1 ${STRELVANE_GENERATED}/strelvane.1 @ONLY)
strelvane_gzip(${STRELVANE_GENERATED}/strelvane-cli.1 ${STRELVANE_GENERATED}/strelvane-cli.1.gz)
strelvane_gzip(${STRELVANE_GENERATED}/strelvane.1 ${STRELVANE_GENERATED}/strelvane.1.gz)
strelvane_gzip(${STRELVANE_PACKAGING}/changelog ${STRELVANE_GENERATED}/changelog.gz)
add_custom_target(strelvane_package_files ALL DEPENDS
  ${STRELVANE_GENERATED}/strelvane-cli.1.gz
  ${STRELVANE_GENERATED}/strelvane.1.gz
  ${STRELVANE_GENERATED}/changelog.gz)

install(TARGETS strelvane-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${STRELVANE_GENERATED}/strelvane-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${STRELVANE_PACKAGING}/strelvane-cli.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME strelvane-cli)
install(FILES ${STRELVANE_GENERATED}/changelog.gz ${STRELVANE_PACKAGING}/copyright
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/strelvane)

# The desktop program installs itself and its layout files (src/app/gui).
if(TARGET strelvane)
  install(FILES ${STRELVANE_GENERATED}/strelvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${STRELVANE_PACKAGING}/org.strelvane.Strelvane.desktop
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  configure_file(${STRELVANE_PACKAGING}/org.strelvane.Strelvane.metainfo.xml
    ${STRELVANE_GENERATED}/org.strelvane.Strelvane.metainfo.xml @ONLY)
  install(FILES ${STRELVANE_GENERATED}/org.strelvane.Strelvane.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
  install(FILES ${STRELVANE_PACKAGING}/icons/strelvane.svg
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${STRELVANE_PACKAGING}/icons/strelvane-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
      RENAME strelvane.png)
  endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME strelvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Strelvane")
set(CPACK_PACKAGE_CONTACT "Strelvane developers <developers@strelvane.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware maintenance for IP cameras and NVRs")
set(CPACK_PACKAGE_DESCRIPTION
  "Finds the network video devices on a local network, checks their log-ins,
upgrades the firmware of many devices at once with live progress, waits for
each device to come back after its reboot, schedules upgrades, keeps a
verified local firmware store, and prints a handover report of every upgrade.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies come from the programs themselves; the fonts the layouts name
# are not linked, so they are listed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, fonts-noto-core, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
