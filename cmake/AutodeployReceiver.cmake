# The udpcast receiver that autodeploy.exe carries and writes out before it runs it.
#
# AUTODEPLOY_RECEIVER names the file; a deployment build (AUTODEPLOY_REQUIRE_RECEIVER) refuses a
# missing one, one that is not a Windows executable, and a 32-bit one unless
# AUTODEPLOY_ALLOW_32BIT_RECEIVER is on: standard 64-bit WinPE has no WoW64 to start it.

set(AUTODEPLOY_RECEIVER "${PROJECT_SOURCE_DIR}/assets/udp-receiver.exe" CACHE FILEPATH
    "Windows build of udpcast's udp-receiver to embed (x64 for standard WinPE)")
option(AUTODEPLOY_REQUIRE_RECEIVER "Refuse to build without a usable receiver (deployment builds)" OFF)
option(AUTODEPLOY_ALLOW_32BIT_RECEIVER "Accept a 32-bit receiver, for WinPE images that carry WoW64" OFF)

set(_receiver_help "Get a Windows build of udpcast's udp-receiver for x64 (udpcast is free software; \
build it with mingw-w64 from its sources, or use a Windows build you trust) and put it at \
${PROJECT_SOURCE_DIR}/assets/udp-receiver.exe, or name it with -DAUTODEPLOY_RECEIVER=/path/to/udp-receiver.exe \
(make release RECEIVER=/path/to/udp-receiver.exe).")

include("${CMAKE_CURRENT_LIST_DIR}/pe-machine.cmake")

# Sets AUTODEPLOY_RECEIVER_INPUT to the file to embed, or empty for an empty placeholder.
function(autodeploy_choose_receiver)
    set(file "${AUTODEPLOY_RECEIVER}")
    set(AUTODEPLOY_RECEIVER_INPUT "" PARENT_SCOPE)
    if(NOT EXISTS "${file}")
        if(AUTODEPLOY_REQUIRE_RECEIVER)
            message(FATAL_ERROR "No udpcast receiver at ${file}.\n${_receiver_help}")
        endif()
        message(WARNING "No udpcast receiver at ${file}: this autodeploy.exe carries an empty one and "
                        "will stop at the receive stage. Fine for development, not for deployment.\n${_receiver_help}")
        return()
    endif()
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
    autodeploy_pe_machine("${file}" machine)
    file(SIZE "${file}" size)
    if(machine STREQUAL "NOT-PE")
        message(FATAL_ERROR "${file} is not a Windows executable (no PE header).\n${_receiver_help}")
    endif()
    message(STATUS "Embedded receiver: ${file} (${machine}, ${size} bytes)")
    if(NOT machine STREQUAL "x64")
        set(why "The receiver ${file} is ${machine}, but autodeploy.exe is x64: standard 64-bit WinPE has no WoW64 and cannot start it.")
        if(machine STREQUAL "x86" AND AUTODEPLOY_ALLOW_32BIT_RECEIVER)
            message(STATUS "${why} Accepted because AUTODEPLOY_ALLOW_32BIT_RECEIVER is on.")
        elseif(AUTODEPLOY_REQUIRE_RECEIVER)
            message(FATAL_ERROR "${why}\nUse an x64 build, or configure with -DAUTODEPLOY_ALLOW_32BIT_RECEIVER=ON "
                                "for a WinPE image that carries WoW64.\n${_receiver_help}")
        else()
            message(WARNING "${why}")
        endif()
    endif()
    set(AUTODEPLOY_RECEIVER_INPUT "${file}" PARENT_SCOPE)
    set(AUTODEPLOY_RECEIVER_MACHINE "${machine}" PARENT_SCOPE)
    set(AUTODEPLOY_RECEIVER_SIZE "${size}" PARENT_SCOPE)
endfunction()

# Adds to `target` a generated source that embeds `input` (a file, a generator expression, or
# empty); `depends` names what must be built first.
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
