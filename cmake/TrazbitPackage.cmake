# The Debian package (scripts/package runs cpack in the build folder): name
# trazbit, the project's version, the dependencies computed from the shared
# libraries of the programs and the plug-in, no maintainer scripts (the desktop
# database, icon cache and MIME database follow by their own triggers).
set(TRAZBIT_PACKAGE_MAINTAINER "Trazbit maintainers <maintainers@users.noreply.c-seed-524a4a12.example>"
    CACHE STRING "Maintainer of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trazbit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Kestrow)
set(CPACK_PACKAGE_CONTACT ${TRAZBIT_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn scanned paper drawings into CAD data")
set(CPACK_PACKAGE_DESCRIPTION
"Trazbit traces the lines of a scanned paper drawing into straight segments
and saves them as coordinate text, DXF R12 or a JW_CAD file, or copies them
to the clipboard. The window program (trazbit, in Japanese) and the command
line (trazbit-cli, for batches of scans) read BMP, the picture formats of Qt
and Susie plug-ins; a plug-in for CALS raster type 1 comes with them.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TRAZBIT_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no shared library names them: the platform plug-ins
# (windows, offscreen) and the readers of TIFF, WebP and other formats.
# libtesseract5 is loaded by name when text is read, so shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-image-formats-plugins, libtesseract5")
# The Japanese font the menus are drawn with, and Qt's own Japanese texts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
