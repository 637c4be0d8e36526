# Checks that no file in src/ includes a header of a folder above its own.
#   cmake -DSOURCE_DIR=<src> -DRULES=<folder:allowed,...;...> -P check_layers.cmake
# RULES lists, for each folder, the folders its files may include (its own
# and every layer below it); a folder of src/ without a rule is refused too.
cmake_minimum_required(VERSION 3.21)

foreach(rule ${RULES})
    string(REPLACE ":" ";" parts "${rule}")
    list(GET parts 0 folder)
    list(GET parts 1 allowed)
    string(REPLACE "," ";" allowed "${allowed}")
    set(allowed_${folder} ${allowed})
    list(APPEND known_folders ${folder})
endforeach()

file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.rc")
set(violations "")
foreach(file ${files})
    string(REGEX MATCH "^[^/]+" folder "${file}")
    if(NOT folder IN_LIST known_folders)
        list(APPEND violations "${file}: the folder ${folder}/ is no layer")
        continue()
    endif()
    file(STRINGS "${SOURCE_DIR}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${includes})
        string(REGEX MATCH "\"([^\"/]+)/" _ "${line}")
        set(target "${CMAKE_MATCH_1}")
        if(target STREQUAL "")
            continue()  # a file beside it, or a resource file
        endif()
        if(NOT target IN_LIST allowed_${folder})
            string(REPLACE ";" ", " allowed_text "${allowed_${folder}}")
            list(APPEND violations "${file}: ${line} (${folder}/ may include ${allowed_text})")
        endif()
    endforeach()
endforeach()

list(LENGTH files checked)
if(violations)
    string(REPLACE ";" "\n  " text "${violations}")
    message(FATAL_ERROR "Includes across the layers:\n  ${text}")
endif()
message(STATUS "${checked} files, every include within the layers")
