# The application icon in every size, rendered in the build from its one
# source, src/res/tessarbolink.svg, by rsvg-convert (librsvg2-bin) and, for
# Windows, packed by icotool (icoutils).  Into ${CMAKE_BINARY_DIR}/icons:
#   tessarbolink-<N>.png   N = 16, 22, 24, 32, 48, 64, 128, 256 (for Windows only
#                          the four sizes of the .ico)
#   tessarbolink.ico       (Windows only) 32 x 32 and 16 x 16 images of 16
#                          colours, which the dialogs load, then 48 x 48
#                          (32-bit) and 256 x 256 (PNG) for Explorer's views
# Up to 32 x 32 the picture is drawn without smoothing, with outlines of one
# pixel (and without the arrow's at 16 x 16), in the SVG's colours alone: a
# style sheet per size says so.  The target tessarbolink_icon_files makes them
# in every build.
find_program(TESSARBOLINK_RSVG_CONVERT rsvg-convert REQUIRED)
set(icon_source ${PROJECT_SOURCE_DIR}/src/res/tessarbolink.svg)
set(TESSARBOLINK_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
file(MAKE_DIRECTORY ${TESSARBOLINK_ICON_DIR})
set(TESSARBOLINK_ICON_SIZES 16 22 24 32 48 64 128 256)
if(WIN32)
    set(TESSARBOLINK_ICON_SIZES 16 32 48 256)  # those the .ico holds
endif()

set(icon_files)
foreach(size ${TESSARBOLINK_ICON_SIZES})
    set(png ${TESSARBOLINK_ICON_DIR}/tessarbolink-${size}.png)
    set(style)
    if(size LESS_EQUAL 32)
        set(style ${TESSARBOLINK_ICON_DIR}/pixels-${size}.css)
        # One pixel is 32 / size units.
        math(EXPR outline_milli "32000 / ${size}")
        math(EXPR outline_whole "${outline_milli} / 1000")
        math(EXPR outline_fraction "${outline_milli} % 1000 + 1000")
        string(SUBSTRING ${outline_fraction} 1 3 outline_fraction)
        set(css "* { shape-rendering: crispEdges; }\n.outline { stroke-width: ${outline_whole}.${outline_fraction}px; }\n")
        if(size LESS 20)
            string(APPEND css ".arrow { stroke: none; }\n")
        endif()
        file(CONFIGURE OUTPUT ${style} CONTENT "${css}")
        set(style_option --stylesheet ${style})
    else()
        set(style_option)
    endif()
    add_custom_command(OUTPUT ${png}
        COMMAND ${TESSARBOLINK_RSVG_CONVERT} ${style_option} --width ${size} --height ${size} --output ${png} ${icon_source}
        DEPENDS ${icon_source} ${style}
        COMMENT "Rendering the ${size} x ${size} icon"
        VERBATIM)
    list(APPEND icon_files ${png})
endforeach()

if(WIN32)
    find_program(TESSARBOLINK_ICOTOOL icotool REQUIRED)
    set(ico ${TESSARBOLINK_ICON_DIR}/tessarbolink.ico)
    set(icon_png_dir ${TESSARBOLINK_ICON_DIR})
    add_custom_command(OUTPUT ${ico}
        COMMAND ${TESSARBOLINK_ICOTOOL} --create --output ${ico}
                --bit-depth 4 ${icon_png_dir}/tessarbolink-32.png ${icon_png_dir}/tessarbolink-16.png
                --bit-depth 32 ${icon_png_dir}/tessarbolink-48.png --raw ${icon_png_dir}/tessarbolink-256.png
        DEPENDS ${icon_png_dir}/tessarbolink-16.png ${icon_png_dir}/tessarbolink-32.png
                ${icon_png_dir}/tessarbolink-48.png ${icon_png_dir}/tessarbolink-256.png
        COMMENT "Packing the Windows icon"
        VERBATIM)
    list(APPEND icon_files ${ico})
endif()
add_custom_target(tessarbolink_icon_files ALL DEPENDS ${icon_files})
