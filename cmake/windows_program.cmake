# The Windows program: a Win32 dialog over the toolkit-neutral core.
# The executable lands in the build folder's root (build/<preset>/Tessarbolink.exe).
file(GLOB win32_sources CONFIGURE_DEPENDS src/win32/*.cpp)
list(FILTER win32_sources EXCLUDE REGEX "main_win32\\.cpp$")
set(win32_resources ${PROJECT_SOURCE_DIR}/src/res/tessarbolink.rc)
enable_language(RC)
# The icon is rendered in the build; windres finds it on the include path.
include(${PROJECT_SOURCE_DIR}/cmake/icons.cmake)
# windres writes no dependency file: name the files the script pulls in.
set(win32_resource_inputs "${TESSARBOLINK_ICON_DIR}/tessarbolink.ico;${PROJECT_SOURCE_DIR}/src/res/tessarbolink.manifest;${PROJECT_SOURCE_DIR}/src/ui/control_ids.h")
set_source_files_properties(${win32_resources} PROPERTIES OBJECT_DEPENDS "${win32_resource_inputs}")
tessarbolink_layer(win32 BELOW ui SOURCES ${win32_sources})
target_include_directories(tessarbolink_win32 PUBLIC $<$<COMPILE_LANGUAGE:RC>:${TESSARBOLINK_ICON_DIR}>)
add_dependencies(tessarbolink_win32 tessarbolink_icon_files)
target_link_libraries(tessarbolink_win32 PUBLIC shell32 comctl32 ole32 uuid gdi32 user32 advapi32)
# The file layer asks the shell for the Documents folder.
target_link_libraries(tessarbolink_fs PUBLIC shell32 ole32 uuid)
add_executable(Tessarbolink WIN32 src/win32/main_win32.cpp ${win32_resources})
tessarbolink_defaults(Tessarbolink)
target_link_options(Tessarbolink PRIVATE -municode)
target_link_libraries(Tessarbolink PRIVATE tessarbolink_win32)

# The portable package (cmake/packaging.cmake): the program, its guide and the
# licence, side by side.
install(TARGETS Tessarbolink RUNTIME DESTINATION .)
install(FILES README.md DESTINATION .)
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)

# The GUI tests also start the program itself.  Deferred: the tests are added
# after this file is read.
cmake_language(DEFER CALL tessarbolink_link_win32_tests)
function(tessarbolink_link_win32_tests)
    if(TARGET gui_win32_tests)
        add_dependencies(gui_win32_tests Tessarbolink)
        set_source_files_properties(${win32_resources} TARGET_DIRECTORY gui_win32_tests
                                    PROPERTIES OBJECT_DEPENDS "${win32_resource_inputs}")
    endif()
endfunction()
