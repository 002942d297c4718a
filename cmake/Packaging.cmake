# What `cmake --install` puts where, and the Debian package CPack builds from it
# (scripts/package.sh). The program goes to bin/; its menu entry, icon, AppStream metainfo,
# autostart entry, the user service for a PC without a monitor and the sample config.ini go
# to the usual places under share/ and lib/.

set(AQLED_DATA_FOLDER ${CMAKE_INSTALL_FULL_DATADIR}/aqled)
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
configure_file(${packaging}/org.aqled.aqled.metainfo.xml.in org.aqled.aqled.metainfo.xml @ONLY)
configure_file(${packaging}/aqled-autostart.in aqled-autostart @ONLY)
configure_file(${packaging}/aqled.service.in aqled.service @ONLY)

install(TARGETS aqled RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${CMAKE_CURRENT_BINARY_DIR}/aqled-autostart DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${packaging}/org.aqled.aqled.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/org.aqled.aqled.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/org.aqled.aqled.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging}/aqled-autostart.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/aqled)
# systemd looks for user units in <prefix>/lib/systemd/user, never in a multiarch folder.
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/aqled.service DESTINATION lib/systemd/user)
# The Debian machine-readable copyright file (the project's licence and those of what it ships).
install(FILES ${PROJECT_SOURCE_DIR}/docs/config.sample.ini ${PROJECT_SOURCE_DIR}/README.md
              ${PROJECT_SOURCE_DIR}/docs/monitoring.md ${packaging}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The alert rules a Prometheus server loads to watch this PC (docs/monitoring.md).
install(FILES ${packaging}/aqled.rules.yml DESTINATION ${CMAKE_INSTALL_DATADIR}/aqled)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME aqled)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "aqled maintainers <maintainers@users.noreply.c-seed-56a83c45.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "LED显示软件: keeps a networked LED screen showing live air-quality readings")
set(CPACK_PACKAGE_DESCRIPTION
    "The operator presses one button: the program fetches the pages of four air-quality monitoring\n\
stations, draws one picture per station, a text page and advertisements, publishes them over\n\
HTTP and drives the LED controller card, which connects on TCP port 8115.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_STRIP_FILES ON)
# The libraries the program links (Qt 6 Core, Gui, Widgets, Network and the rest) come from
# dpkg-shlibdeps; these it needs without linking them: Qt's platform plugins and Chinese
# translations, the share server's HTTP library, OpenSSL (loaded by Qt for the HTTPS fetch),
# and the faces standing in for the Windows fonts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-translations-l10n, libmicrohttpd12, libssl3, fonts-arphic-uming, fonts-dejavu-core")
# A PC without a monitor runs the program on a virtual display (aqled.service).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xvfb, xauth")
include(CPack)
