# Finds Qwt for Qt 5 as Debian installs it (libqwt-qt5-dev: headers in include/qwt, library
# qwt-qt5), which ships no CMake configuration. Defines the imported target Qwt::Qwt.
find_path(Qwt_INCLUDE_DIR qwt_plot.h PATH_SUFFIXES qwt qwt-qt5)
find_library(Qwt_LIBRARY NAMES qwt-qt5 qwt)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Qwt REQUIRED_VARS Qwt_LIBRARY Qwt_INCLUDE_DIR)

if(Qwt_FOUND AND NOT TARGET Qwt::Qwt)
    add_library(Qwt::Qwt UNKNOWN IMPORTED)
    set_target_properties(Qwt::Qwt PROPERTIES
        IMPORTED_LOCATION "${Qwt_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${Qwt_INCLUDE_DIR}"
        INTERFACE_LINK_LIBRARIES "Qt5::Widgets;Qt5::Svg")
endif()
mark_as_advanced(Qwt_INCLUDE_DIR Qwt_LIBRARY)
