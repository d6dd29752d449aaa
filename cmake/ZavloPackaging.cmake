# Install rules for the desktop integration and the Debian package (`cpack -G DEB`, see
# scripts/package.sh). The programs install themselves with install(TARGETS) next to their
# add_executable; tests and benchmarks have no install rules and stay out of the package.
include(GNUInstallDirs)

# One id names the desktop entry, the AppStream component and the icon.
set(ZAVLO_APP_ID com.zavlo.ZavloGui)
set(ZAVLO_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# The metainfo's newest release must be the one being built.
file(READ ${ZAVLO_PACKAGING_DIR}/${ZAVLO_APP_ID}.metainfo.xml ZAVLO_METAINFO)
string(REPLACE "." "\\." ZAVLO_VERSION_PATTERN "${PROJECT_VERSION}")
if(NOT ZAVLO_METAINFO MATCHES "<releases>[ \t\r\n]*<release version=\"${ZAVLO_VERSION_PATTERN}\"")
    message(FATAL_ERROR "packaging/${ZAVLO_APP_ID}.metainfo.xml: the first <release> is not ${PROJECT_VERSION}; "
                        "add an entry for it with its date")
endif()

install(FILES ${ZAVLO_PACKAGING_DIR}/${ZAVLO_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ZAVLO_PACKAGING_DIR}/${ZAVLO_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${ZAVLO_PACKAGING_DIR}/icons/${ZAVLO_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# scripts/make-logos.sh draws packaging/icons/<size>/<id>.png for each size.
file(GLOB ZAVLO_ICON_PNGS ${ZAVLO_PACKAGING_DIR}/icons/*/${ZAVLO_APP_ID}.png)
foreach(png ${ZAVLO_ICON_PNGS})
    get_filename_component(size_dir ${png} DIRECTORY)
    get_filename_component(size ${size_dir} NAME)
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
# udev reads /usr/lib/udev/rules.d, whatever the multiarch library folder is.
install(FILES ${ZAVLO_PACKAGING_DIR}/60-zavlo-gui.rules DESTINATION lib/udev/rules.d)

set(ZAVLO_PACKAGE_MAINTAINER "Zavlo GUI maintainers <zavlo-gui@zavlo.example.com>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zavlo-gui)
set(CPACK_PACKAGE_VENDOR Zavlo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for the Zavlo wireless-charging transmitter board")
# Lines of the long description stay within 80 columns in `apt show`.
set(CPACK_PACKAGE_DESCRIPTION
    "Zavlo GUI talks to the Zavlo wireless-charging transmitter controller board
on a serial port: it flashes the board's firmware through its bootloader,
shows the board's identity and its text in a terminal, and calibrates foreign
object detection (FOD). Started with a port and an image on the command line
it flashes without a click and exits with the result code.

Also included: zavlo-fodfit (the FOD fit on a saved capture), zavlo-sim (a
simulated board on a pseudo-terminal) and zavlo-mkimage (firmware images for
the simulator).")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZAVLO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://zavlo.example.com/zavlo-gui/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
