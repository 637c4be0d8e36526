# The packages, made by cpack in the build folders of the linux-package and
# windows-package presets (scripts/package.sh makes both):
#   Windows: tessarbolink-<version>-windows-x64.zip, the portable program: one
#            folder of that name with the stripped Tessarbolink.exe, README.md
#            and LICENSE.txt.
#   Linux:   tessarbolink_<version>_<arch>.deb, the installed layout of
#            cmake/linux_program.cmake under /usr.
set(CPACK_PACKAGE_NAME tessarbolink)
set(CPACK_PACKAGE_VENDOR "The Tessarbolink developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Move or copy dropped files into one folder under new names")
# Lines of at most 80 characters, as the Debian control file wants them.
set(CPACK_PACKAGE_DESCRIPTION [=[
Tessarbolink files documents away by drag and drop. Drop files and folders
on its one window; after a yes/no question every dropped file, and every
file under a dropped folder, is moved or copied into one destination folder
under a new name built from a format of tokens (the file's title and
extension, the date, a random or serial number). Its window is in Japanese.]=])
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME tessarbolink-${PROJECT_VERSION}-windows-x64)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    # Installed with DESTDIR, so that the install code sees the prefix /usr.
    set(CPACK_SET_DESTDIR ON)
    set(CPACK_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    # Also named in packaging/deb/changelog and copyright.
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Tessarbolink developers <developers@tessarbolink.app>")
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    # The libraries (Qt 6 Widgets among them, whose package brings the X11
    # platform plugin) are found by dpkg-shlibdeps; the window's text needs a
    # Japanese font, the IPA gothic face first.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic | fonts-noto-cjk")
    # Qt's own texts in Japanese (the folder chooser's buttons): data alone,
    # it brings nothing else.  A native window on Wayland desktops only when
    # asked for: qt6-wayland brings the QML and Quick stacks, and without it
    # the window runs through XWayland.
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")
endif()

include(CPack)
