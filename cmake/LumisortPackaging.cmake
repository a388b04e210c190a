# The Debian package (`cpack` in a build folder, or scripts/package for the whole check).
# Its dependencies are read from the shared libraries the programs use (dpkg-shlibdeps);
# the Qt plugins loaded at run time are not among those and are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumisort)
set(CPACK_PACKAGE_VENDOR "Lumisort")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sorts camera cards into barcode groups and files them")
# Debian shows the description in 80 columns: its lines stay shorter.
set(CPACK_PACKAGE_DESCRIPTION
    "Lumisort imports the photos of a camera card into a working folder, groups
them by the barcode photographed before each sitting, renames them with that
barcode and files them into a dated destination tree. It never overwrites a
photo, and whatever it clears goes to the trash.
The lumisort-cli command runs the same work without a window.")
set(CPACK_PACKAGE_CONTACT "Lumisort developers <developers@lumisort.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://lumisort.org/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs a platform plugin (X11's comes with libqt6gui6); sounds need a multimedia
# backend (in libqt6multimedia6, found by shlibdeps); SVG icons and Wayland are welcome.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6svg6, qt6-wayland, qt6-image-formats-plugins")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# Directories owned by the base system keep their usual modes in the package.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
