# The Debian package: `cpack -G DEB` in a build configured with CMAKE_INSTALL_PREFIX=/usr.
set(CPACK_PACKAGE_NAME pelnora)
set(CPACK_PACKAGE_VENDOR Velmarin)
set(CPACK_PACKAGE_CONTACT "Velmarin <packages@pelnora.example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service the aircraft navigation computer over a serial line")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://pelnora.example.org/")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_PACKAGE_NAME pelnora)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own dialogs in Russian.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The extended description below the summary line (an empty line becomes " .").
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Pelnora services a small navigation computer carried in an aircraft and
attached by a serial line: the UTC offset and track interval, tracks
downloaded with checksums into KML, GPX or IGC files, marks, route upload,
airspeed sensor calibration and a hexadecimal terminal of every byte.

The package holds the desktop program (Russian interface), the command-line
tool pelnora-cli and the device simulator pelnora-sim.")

include(CPack)
