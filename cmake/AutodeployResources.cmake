# Windows resources of autodeploy.exe: the application icon (rendered from an SVG at build time)
# and the VERSIONINFO block. Needs enable_language(RC) in the including project when WIN32.
#
#   include(AutodeployResources)
#   autodeploy_add_resources(autodeploy)
#
# Everything is generated under ${CMAKE_CURRENT_BINARY_DIR}/<target>-resources of the directory
# that calls the function, which must be the one that creates the target: custom command outputs
# are only attached to targets of their own directory.

# Remembered here, at include time: inside the function CMAKE_CURRENT_LIST_DIR is the caller's.
get_filename_component(_autodeploy_resources_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set_property(GLOBAL PROPERTY AUTODEPLOY_RESOURCES_ROOT "${_autodeploy_resources_root}")
unset(_autodeploy_resources_root)

function(autodeploy_add_resources target)
    if(NOT WIN32)
        return()
    endif()
    if(NOT CMAKE_RC_COMPILER)
        message(FATAL_ERROR "autodeploy_add_resources(${target}): enable_language(RC) first")
    endif()

    get_property(root GLOBAL PROPERTY AUTODEPLOY_RESOURCES_ROOT)
    set(AUTODEPLOY_ICON_SVG "${root}/assets/icon/autodeploy.svg" CACHE FILEPATH
        "SVG source of the application icon")
    set(rc_template "${root}/src/main/autodeploy.rc.in")

    find_program(AUTODEPLOY_RSVG_CONVERT rsvg-convert)
    find_program(AUTODEPLOY_ICOTOOL icotool)
    if(NOT AUTODEPLOY_RSVG_CONVERT)
        message(FATAL_ERROR "rsvg-convert not found: it renders the application icon "
                            "(Debian package librsvg2-bin, installed by `make deps`)")
    endif()
    if(NOT AUTODEPLOY_ICOTOOL)
        message(FATAL_ERROR "icotool not found: it packs the application icon "
                            "(Debian package icoutils, installed by `make deps`)")
    endif()

    set(out_dir "${CMAKE_CURRENT_BINARY_DIR}/${target}-resources")
    set(ico "${out_dir}/autodeploy.ico")
    set(rc "${out_dir}/autodeploy.rc")

    # One PNG per size, straight from the SVG: downscaling one big bitmap would blur the small ones.
    set(render_commands)
    set(pngs)
    foreach(size 16 24 32 48 64 72 96 128 256)
        set(png "${out_dir}/autodeploy-${size}.png")
        list(APPEND pngs "${png}")
        list(APPEND render_commands COMMAND "${AUTODEPLOY_RSVG_CONVERT}" --width=${size} --height=${size}
                                            --format=png --output=${png} "${AUTODEPLOY_ICON_SVG}")
    endforeach()
    # Up to 48 px as 32-bit BMPs with alpha, which every loader reads; 64 px and up stored as PNG
    # ("--raw"), which Windows has read at any size since Vista and which keeps the program
    # about 140 KB smaller than BMPs would.
    set(bmp_pngs "${pngs}")
    list(FILTER bmp_pngs INCLUDE REGEX "-(16|24|32|48)\\.png$")
    set(raw_pngs "${pngs}")
    list(FILTER raw_pngs EXCLUDE REGEX "-(16|24|32|48)\\.png$")
    list(TRANSFORM raw_pngs PREPEND "--raw=")
    add_custom_command(
        OUTPUT "${ico}"
        BYPRODUCTS ${pngs}
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${out_dir}"
        ${render_commands}
        COMMAND "${AUTODEPLOY_ICOTOOL}" --create --bit-depth=32 --output=${ico} ${bmp_pngs} ${raw_pngs}
        DEPENDS "${AUTODEPLOY_ICON_SVG}"
        COMMENT "Rendering the application icon"
        VERBATIM)

    # Version numbers from project(); FILEVERSION wants four comma-separated fields.
    set(AUTODEPLOY_RC_VERSION "${PROJECT_VERSION}")
    set(fields)
    foreach(part MAJOR MINOR PATCH TWEAK)
        if("${PROJECT_VERSION_${part}}" STREQUAL "")
            list(APPEND fields 0)
        else()
            list(APPEND fields "${PROJECT_VERSION_${part}}")
        endif()
    endforeach()
    list(JOIN fields "," AUTODEPLOY_RC_VERSION_COMMAS)
    configure_file("${rc_template}" "${rc}" @ONLY)

    # windres looks for the icon in its include path; OBJECT_DEPENDS recompiles the .rc whenever
    # the icon is redrawn, which its own #include scanning cannot see.
    set_source_files_properties("${rc}" PROPERTIES
        INCLUDE_DIRECTORIES "${out_dir}"
        OBJECT_DEPENDS "${ico}")
    target_sources(${target} PRIVATE "${rc}" "${ico}")
endfunction()
