# The Linux program: a Qt 6 dialog over the toolkit-neutral core.
#
# The settings file and the logs live beside the program, so it must be
# installed where the user can write: the default prefix is ~/.local
# (bin/tessarbolink, share/applications, share/icons/hicolor).
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT AND DEFINED ENV{HOME})
    set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/.local" CACHE PATH "Install prefix" FORCE)
endif()
include(GNUInstallDirs)

find_package(Qt6 COMPONENTS Widgets QUIET)
find_package(Qt6 COMPONENTS Test QUIET)
tessarbolink_layer_rule(qt ui)
if(NOT Qt6_FOUND)
    message(STATUS "Qt 6 Widgets not found: the Linux program is not built")
    return()
endif()

set(CMAKE_AUTOMOC ON)
file(GLOB qt_sources CONFIGURE_DEPENDS src/qt/*.cpp src/qt/*.h)
list(FILTER qt_sources EXCLUDE REGEX "main_qt\\.cpp$")
tessarbolink_layer(qt BELOW ui SOURCES ${qt_sources})
target_link_libraries(tessarbolink_qt PUBLIC Qt6::Widgets)

# The application icon, compiled into the program.
set(app_icons src/res/tessarbolink-32.png src/res/tessarbolink-64.png)
qt_add_resources(tessarbolink_qt tessarbolink_icons PREFIX /icons BASE src/res FILES ${app_icons})

add_executable(tessarbolink src/qt/main_qt.cpp)
tessarbolink_defaults(tessarbolink)
target_link_libraries(tessarbolink PRIVATE tessarbolink_qt)

install(TARGETS tessarbolink RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES src/res/tessarbolink-32.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps
        RENAME tessarbolink.png)
install(FILES src/res/tessarbolink-64.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps
        RENAME tessarbolink.png)
# The user guide that F1 opens.
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessarbolink)
# The desktop entry names the program by its full path: ~/.local/bin is not
# always on the desktop session's PATH.  Written at install time, so that
# `cmake --install --prefix` is honoured too.
install(CODE "
    file(READ \"${PROJECT_SOURCE_DIR}/src/res/tessarbolink.desktop\" entry)
    string(REPLACE \"Exec=tessarbolink\" \"Exec=\\\"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tessarbolink\\\"\" entry \"\${entry}\")
    set(applications \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\")
    message(STATUS \"Installing: \${applications}/tessarbolink.desktop\")
    file(MAKE_DIRECTORY \"\${applications}\")
    file(WRITE \"\${applications}/tessarbolink.desktop\" \"\${entry}\")
")

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
