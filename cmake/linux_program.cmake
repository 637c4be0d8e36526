# The Linux program: a Qt 6 dialog over the toolkit-neutral core.
#
# Installed layout, under the prefix:
#   lib/tessarbolink/tessarbolink     the program, in a folder of its own
#   bin/tessarbolink                  a relative link to it
#   share/applications/tessarbolink.desktop, share/icons/hicolor/<N>x<N>/apps
#   and hicolor/scalable/apps (cmake/icons.cmake),
#   share/metainfo/app.tessarbolink.tessarbolink.metainfo.xml,
#   share/doc/tessarbolink/           README.md (the guide F1 opens), LICENSE;
#                                     under /usr also copyright, changelog.gz
#   share/man/man1/tessarbolink.1.gz  the manual page
# The program keeps its settings, logs and MovedFiles beside itself where it
# can write (a per-user install: the default prefix is ~/.local), otherwise in
# the user's data folder (a system install under /usr).
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT AND DEFINED ENV{HOME})
    set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/.local" CACHE PATH "Install prefix" FORCE)
endif()
include(GNUInstallDirs)

# Qt D-Bus: the launcher entry's progress (qt/launcher_entry_qt.cpp).
find_package(Qt6 COMPONENTS Widgets DBus QUIET)
find_package(Qt6 COMPONENTS Test QUIET)
tessarbolink_layer_rule(qt ui)
if(NOT Qt6_FOUND)
    message(STATUS "Qt 6 Widgets and D-Bus not found: the Linux program is not built")
    return()
endif()

set(CMAKE_AUTOMOC ON)
file(GLOB qt_sources CONFIGURE_DEPENDS src/qt/*.cpp src/qt/*.h)
list(FILTER qt_sources EXCLUDE REGEX "main_qt\\.cpp$")
tessarbolink_layer(qt BELOW ui SOURCES ${qt_sources})
target_link_libraries(tessarbolink_qt PUBLIC Qt6::Widgets Qt6::DBus)

# The application icon, compiled into the program.
include(${PROJECT_SOURCE_DIR}/cmake/icons.cmake)
set(app_icons ${TESSARBOLINK_ICON_DIR}/tessarbolink-32.png ${TESSARBOLINK_ICON_DIR}/tessarbolink-64.png)
qt_add_resources(tessarbolink_qt tessarbolink_icons PREFIX /icons BASE ${TESSARBOLINK_ICON_DIR} FILES ${app_icons})

add_executable(tessarbolink src/qt/main_qt.cpp)
tessarbolink_defaults(tessarbolink)
target_link_libraries(tessarbolink PRIVATE tessarbolink_qt)

set(program_folder lib/tessarbolink)
install(TARGETS tessarbolink RUNTIME DESTINATION ${program_folder})
# The link in bin/ is made in the build folder and installed as a link, so
# that the install manifest lists it like every other file.
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/bin-link)
file(CREATE_LINK ../${program_folder}/tessarbolink ${CMAKE_CURRENT_BINARY_DIR}/bin-link/tessarbolink SYMBOLIC)
install(PROGRAMS ${CMAKE_CURRENT_BINARY_DIR}/bin-link/tessarbolink DESTINATION bin)
foreach(size ${TESSARBOLINK_ICON_SIZES})
    install(FILES ${TESSARBOLINK_ICON_DIR}/tessarbolink-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tessarbolink.png)
endforeach()
install(FILES src/res/tessarbolink.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES src/res/tessarbolink.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        RENAME app.tessarbolink.tessarbolink.metainfo.xml)
# The user guide that F1 opens, and the licence.
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessarbolink)
# The manual page, and for a system install under /usr (the .deb) Debian's
# copyright file and changelog; compressed as man and Debian expect, without
# a time stamp, so that every build gives the same bytes.
find_program(TESSARBOLINK_GZIP gzip REQUIRED)
set(compressed)
foreach(pair "src/res/tessarbolink.1|man/tessarbolink.1" "packaging/deb/changelog|deb/changelog")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 source)
    list(GET pair 1 copy)
    add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${copy}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man ${CMAKE_CURRENT_BINARY_DIR}/deb
        COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/${source} ${CMAKE_CURRENT_BINARY_DIR}/${copy}
        COMMAND ${TESSARBOLINK_GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/${copy}
        DEPENDS ${PROJECT_SOURCE_DIR}/${source}
        VERBATIM)
    list(APPEND compressed ${CMAKE_CURRENT_BINARY_DIR}/${copy}.gz)
endforeach()
add_custom_target(tessarbolink_compressed_docs ALL DEPENDS ${compressed})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/tessarbolink.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
        file(INSTALL \"${PROJECT_SOURCE_DIR}/packaging/deb/copyright\" \"${CMAKE_CURRENT_BINARY_DIR}/deb/changelog.gz\"
             DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/doc/tessarbolink\")
    endif()
")
# Outside /usr the desktop entry names the program by its full path:
# ~/.local/bin is not always on the desktop session's PATH.  Written at
# install time, so that `cmake --install --prefix` is honoured too, then
# installed like the other files so that the manifest lists it.
install(CODE "
    file(READ \"${PROJECT_SOURCE_DIR}/src/res/tessarbolink.desktop\" entry)
    if(NOT CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
        string(REPLACE \"Exec=tessarbolink\" \"Exec=\\\"\${CMAKE_INSTALL_PREFIX}/bin/tessarbolink\\\"\" entry \"\${entry}\")
    endif()
    file(WRITE \"${CMAKE_CURRENT_BINARY_DIR}/desktop-entry/tessarbolink.desktop\" \"\${entry}\")
")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/desktop-entry/tessarbolink.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# The GUI tests drive the widgets with Qt Test and start the program itself
# (without a display), so they need it built.  Deferred: the tests are added
# after this file is read.
cmake_language(DEFER CALL tessarbolink_link_qt_tests)
function(tessarbolink_link_qt_tests)
    if(TARGET gui_qt_tests)
        target_link_libraries(gui_qt_tests PRIVATE Qt6::Test)
        add_dependencies(gui_qt_tests tessarbolink)
        target_compile_definitions(gui_qt_tests PRIVATE TESSARBOLINK_PROGRAM="$<TARGET_FILE:tessarbolink>")
    endif()
endfunction()
