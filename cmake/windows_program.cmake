# The Windows program: a Win32 dialog over the toolkit-neutral core.
# The executable lands in the build folder's root (build/<preset>/Tessarbolink.exe).
file(GLOB win32_sources CONFIGURE_DEPENDS src/win32/*.cpp)
list(FILTER win32_sources EXCLUDE REGEX "main_win32\\.cpp$")
set(win32_resources ${PROJECT_SOURCE_DIR}/src/res/tessarbolink.rc)
enable_language(RC)
# windres writes no dependency file: name the files the script pulls in.
set_source_files_properties(${win32_resources} PROPERTIES OBJECT_DEPENDS
    "${PROJECT_SOURCE_DIR}/src/res/tessarbolink.ico;${PROJECT_SOURCE_DIR}/src/res/tessarbolink.manifest;${PROJECT_SOURCE_DIR}/src/ui/control_ids.h")
tessarbolink_layer(win32 BELOW ui SOURCES ${win32_sources})
target_link_libraries(tessarbolink_win32 PUBLIC shell32 comctl32 ole32 uuid gdi32 user32 advapi32)
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
    endif()
endfunction()
