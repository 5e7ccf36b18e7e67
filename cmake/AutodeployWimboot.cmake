# wimboot, the boot loader that starts WinPE's boot.wim from iPXE over HTTP (scripts/serve-pxe), built
# from its release source into ${CMAKE_BINARY_DIR}/wimboot: wimboot.i386 (BIOS) and wimboot.x86_64.efi
# (64-bit UEFI).
#
# The source is the tarball named by WIMBOOT_SOURCE (cache or environment variable), or else the tag's
# archive downloaded at build time; either is accepted only when its extracted tree is the tag's own
# git tree (wimboot-fetch.cmake), so any honest copy of the release passes and any changed one fails.
# Upstream's prebuilt loaders in the tarball are never used. The tarball is kept beside the loaders
# (wimboot is GPL-2 software).

set(AUTODEPLOY_WIMBOOT_VERSION 2.9.0)
set(AUTODEPLOY_WIMBOOT_URL "https://github.com/ipxe/wimboot/archive/refs/tags/v${AUTODEPLOY_WIMBOOT_VERSION}.tar.gz")
set(AUTODEPLOY_WIMBOOT_TREE 0292c54795f6ffe90aa4bfa76f90b51fd49a1ea9)

set(WIMBOOT_SOURCE "" CACHE FILEPATH "wimboot-${AUTODEPLOY_WIMBOOT_VERSION}.tar.gz on this machine; empty: download it")
if(NOT WIMBOOT_SOURCE AND DEFINED ENV{WIMBOOT_SOURCE})
    set(WIMBOOT_SOURCE "$ENV{WIMBOOT_SOURCE}" CACHE FILEPATH "" FORCE)
endif()

function(autodeploy_wimboot)
    set(dir "${CMAKE_BINARY_DIR}/wimboot")
    set(tree "${dir}/source")
    set(depends "")
    if(WIMBOOT_SOURCE)
        get_filename_component(source "${WIMBOOT_SOURCE}" ABSOLUTE)
        set(depends "${source}")
        message(STATUS "wimboot source: ${source}")
    else()
        set(source "")
        message(STATUS "wimboot source: downloaded at build time from ${AUTODEPLOY_WIMBOOT_URL}")
    endif()
    add_custom_command(
        OUTPUT "${tree}/.checked"
        COMMAND "${CMAKE_COMMAND}" "-DSOURCE=${source}" "-DURL=${AUTODEPLOY_WIMBOOT_URL}"
                "-DTREE=${AUTODEPLOY_WIMBOOT_TREE}" "-DTARBALL=${dir}/wimboot-${AUTODEPLOY_WIMBOOT_VERSION}.tar.gz"
                "-DOUTPUT=${tree}" -P "${PROJECT_SOURCE_DIR}/cmake/wimboot-fetch.cmake"
        DEPENDS ${depends} "${PROJECT_SOURCE_DIR}/cmake/wimboot-fetch.cmake"
        COMMENT "Getting wimboot's source"
        VERBATIM)
    add_custom_command(
        OUTPUT "${dir}/wimboot.i386" "${dir}/wimboot.x86_64.efi"
        COMMAND "${CMAKE_COMMAND}" "-DTREE=${tree}" "-DOUTPUT=${dir}" -P "${PROJECT_SOURCE_DIR}/cmake/wimboot-build.cmake"
        DEPENDS "${tree}/.checked" "${PROJECT_SOURCE_DIR}/cmake/wimboot-build.cmake"
        COMMENT "Building wimboot for BIOS and 64-bit UEFI"
        VERBATIM)
    add_custom_target(wimboot ALL DEPENDS "${dir}/wimboot.i386" "${dir}/wimboot.x86_64.efi")
endfunction()
