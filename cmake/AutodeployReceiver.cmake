# The udpcast receiver that autodeploy.exe carries and writes out before it runs it.
#
# By default the build makes it from udpcast's release source (udpcast-build.cmake): the tarball
# named by UDPCAST_SOURCE (cache or environment variable), or else downloaded and checked against
# its published MD5 (udpcast-fetch.cmake). The tarball used is kept in the build folder, beside the
# program that carries the receiver (udpcast is GPL-2 software).
#
# AUTODEPLOY_RECEIVER names a prebuilt receiver instead. It must be a Windows program for x64:
# standard 64-bit WinPE has no WoW64. -DAUTODEPLOY_ALLOW_32BIT_RECEIVER=ON accepts a 32-bit one
# for the one configure run that says so (for WinPE images that carry WoW64); it is never cached.

set(AUTODEPLOY_UDPCAST_VERSION 20250223)
set(AUTODEPLOY_UDPCAST_URL "https://www.udpcast.linux.lu/download/udpcast-${AUTODEPLOY_UDPCAST_VERSION}.tar.gz")
set(AUTODEPLOY_UDPCAST_MD5 734bc4f8dc481274301b0bbecd291e87)

set(AUTODEPLOY_RECEIVER "" CACHE FILEPATH
    "A prebuilt Windows x64 udp-receiver.exe to embed instead of the one built from udpcast's source")
set(UDPCAST_SOURCE "" CACHE FILEPATH
    "udpcast-${AUTODEPLOY_UDPCAST_VERSION}.tar.gz on this machine; empty: download it")
if(NOT UDPCAST_SOURCE AND DEFINED ENV{UDPCAST_SOURCE})
    set(UDPCAST_SOURCE "$ENV{UDPCAST_SOURCE}" CACHE FILEPATH "" FORCE)
endif()

# Read once, then dropped from the cache, so that the next configure refuses a 32-bit receiver again.
set(_allow_32bit_receiver "${AUTODEPLOY_ALLOW_32BIT_RECEIVER}")
unset(AUTODEPLOY_ALLOW_32BIT_RECEIVER CACHE)

include("${CMAKE_CURRENT_LIST_DIR}/pe-header.cmake")

# Sets AUTODEPLOY_RECEIVER_INPUT (also the global property of that name, for the tests) to the
# receiver file to embed, built or given, and AUTODEPLOY_UDPCAST_TARBALL to the source it is built
# from (empty for a given one).
function(autodeploy_choose_receiver)
    if(AUTODEPLOY_RECEIVER)
        _autodeploy_check_given_receiver("${AUTODEPLOY_RECEIVER}")
        set_property(GLOBAL PROPERTY AUTODEPLOY_RECEIVER_INPUT "${AUTODEPLOY_RECEIVER}")
        set(AUTODEPLOY_RECEIVER_INPUT "${AUTODEPLOY_RECEIVER}" PARENT_SCOPE)
        set(AUTODEPLOY_UDPCAST_TARBALL "" PARENT_SCOPE)
        return()
    endif()

    set(tarball "${CMAKE_BINARY_DIR}/udpcast-${AUTODEPLOY_UDPCAST_VERSION}.tar.gz")
    set(receiver "${CMAKE_BINARY_DIR}/udpcast/udp-receiver.exe")
    set(source_depends "")
    if(UDPCAST_SOURCE)
        get_filename_component(source "${UDPCAST_SOURCE}" ABSOLUTE)
        set(source_depends "${source}")
        message(STATUS "udpcast source: ${source}")
    else()
        set(source "")
        message(STATUS "udpcast source: downloaded at build time from ${AUTODEPLOY_UDPCAST_URL}")
    endif()
    add_custom_command(
        OUTPUT "${tarball}"
        COMMAND "${CMAKE_COMMAND}" "-DSOURCE=${source}" "-DURL=${AUTODEPLOY_UDPCAST_URL}"
                "-DMD5=${AUTODEPLOY_UDPCAST_MD5}" "-DOUTPUT=${tarball}" -P "${PROJECT_SOURCE_DIR}/cmake/udpcast-fetch.cmake"
        DEPENDS ${source_depends} "${PROJECT_SOURCE_DIR}/cmake/udpcast-fetch.cmake"
        COMMENT "Getting udpcast's source"
        VERBATIM)
    add_custom_command(
        OUTPUT "${receiver}"
        COMMAND "${CMAKE_COMMAND}" "-DTARBALL=${tarball}" "-DCC=${CMAKE_C_COMPILER}"
                "-DWORK=${CMAKE_BINARY_DIR}/udpcast/work" "-DOUTPUT=${receiver}"
                -P "${PROJECT_SOURCE_DIR}/cmake/udpcast-build.cmake"
        DEPENDS "${tarball}" "${PROJECT_SOURCE_DIR}/cmake/udpcast-build.cmake"
        COMMENT "Building udpcast's receiver for x64 Windows"
        VERBATIM)
    add_custom_target(udp_receiver DEPENDS "${receiver}")
    set_property(GLOBAL PROPERTY AUTODEPLOY_RECEIVER_INPUT "${receiver}")
    set(AUTODEPLOY_RECEIVER_INPUT "${receiver}" PARENT_SCOPE)
    set(AUTODEPLOY_UDPCAST_TARBALL "${tarball}" PARENT_SCOPE)
endfunction()

# A given receiver must be a program for this machine; anything else fails the configure run.
# Each message is one line (the leading space keeps CMake from wrapping it) ending in what to do.
function(_autodeploy_check_given_receiver file)
    set(help "leave AUTODEPLOY_RECEIVER empty to build the receiver from udpcast's source, or name an x64 \
build of udp-receiver.exe")
    if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
        message(FATAL_ERROR " No receiver at ${file}: ${help}")
    endif()
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
    autodeploy_pe_header("${file}" machine kind)
    if(machine STREQUAL "NOT-PE")
        message(FATAL_ERROR " ${file} is not a Windows executable (no PE header): ${help}")
    endif()
    if(NOT kind STREQUAL "program")
        message(FATAL_ERROR " ${file} is a Windows ${kind}, not a program that can be started: ${help}")
    endif()
    if(NOT machine STREQUAL "x64")
        set(why "The receiver ${file} is ${machine}, but standard 64-bit WinPE has no WoW64 and cannot start it")
        if(machine STREQUAL "x86" AND _allow_32bit_receiver)
            message(WARNING " ${why}. Accepted for this build only (AUTODEPLOY_ALLOW_32BIT_RECEIVER=ON): the \
program works only in a WinPE image that carries WoW64.")
        else()
            message(FATAL_ERROR " ${why}: use an x64 build, or for a WinPE image with WoW64 accept it for one \
build (make release RECEIVER=${file} ALLOW_32BIT_RECEIVER=1, or -DAUTODEPLOY_ALLOW_32BIT_RECEIVER=ON)")
        endif()
    endif()
    file(SIZE "${file}" size)
    message(STATUS "Embedded receiver: ${file} (${machine}, ${size} bytes)")
endfunction()

# Adds to `target` a generated source that embeds `input` (a file or a generator expression);
# the remaining arguments name what must be built first.
function(autodeploy_embed_receiver target input)
    set(source "${CMAKE_CURRENT_BINARY_DIR}/${target}_receiver_image.cpp")
    add_custom_command(
        OUTPUT "${source}"
        COMMAND "${CMAKE_COMMAND}" "-DINPUT=${input}" "-DOUTPUT=${source}"
                -P "${PROJECT_SOURCE_DIR}/cmake/receiver-image.cmake"
        DEPENDS ${ARGN} "${PROJECT_SOURCE_DIR}/cmake/receiver-image.cmake"
        COMMENT "Embedding the receiver into ${target}"
        VERBATIM)
    target_sources(${target} PRIVATE "${source}")
endfunction()
