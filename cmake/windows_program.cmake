# The Windows program: a Win32 dialog over the toolkit-neutral core.
# The executable lands in the build folder's root (build/windows/Tessarbolink.exe).
file(GLOB win32_ui_sources CONFIGURE_DEPENDS src/win32/*.cpp)
list(FILTER win32_ui_sources EXCLUDE REGEX "main_win32\\.cpp$")
set(win32_resources ${PROJECT_SOURCE_DIR}/src/res/tessarbolink.rc)
if(win32_ui_sources AND EXISTS ${win32_resources})
    enable_language(RC)
    # windres writes no dependency file: name the files the script pulls in.
    set_source_files_properties(${win32_resources} PROPERTIES OBJECT_DEPENDS
        "${PROJECT_SOURCE_DIR}/src/res/tessarbolink.ico;${PROJECT_SOURCE_DIR}/src/res/tessarbolink.manifest")
    add_library(tessarbolink_win32ui STATIC ${win32_ui_sources})
    tessarbolink_defaults(tessarbolink_win32ui)
    target_link_libraries(tessarbolink_win32ui PUBLIC tessarbolink_core
        shell32 comctl32 ole32 uuid gdi32 user32)
    add_executable(Tessarbolink WIN32 src/win32/main_win32.cpp ${win32_resources})
    tessarbolink_defaults(Tessarbolink)
    target_link_options(Tessarbolink PRIVATE -municode)
    target_link_libraries(Tessarbolink PRIVATE tessarbolink_win32ui)
endif()
