# Puts udpcast's release source at OUTPUT: a copy of SOURCE, a tarball the user already has, or
# else a download of URL that must match MD5 (udpcast publishes no stronger hash; the MD5 is the
# one a Linux distribution's package recipe gives for this file).
# Usage: cmake [-DSOURCE=file] -DURL=url -DMD5=hash -DOUTPUT=file -P udpcast-fetch.cmake
get_filename_component(name "${OUTPUT}" NAME)

# Each failure is one line that ends in what to do; its leading space keeps CMake from wrapping it.
set(what_to_do "download ${name} yourself and build with UDPCAST_SOURCE=/path/to/${name}")

if(SOURCE)
    if(NOT EXISTS "${SOURCE}" OR IS_DIRECTORY "${SOURCE}")
        message(FATAL_ERROR " UDPCAST_SOURCE names no file (${SOURCE}): ${what_to_do}")
    endif()
    file(COPY_FILE "${SOURCE}" "${OUTPUT}" ONLY_IF_DIFFERENT)
    return()
endif()

set(partial "${OUTPUT}.part")
message(STATUS "Downloading ${URL}")
file(DOWNLOAD "${URL}" "${partial}" STATUS status TLS_VERIFY ON INACTIVITY_TIMEOUT 60 TIMEOUT 900)
list(GET status 0 code)
if(NOT code EQUAL 0)
    list(GET status 1 reason)
    file(REMOVE "${partial}")
    message(FATAL_ERROR " udpcast's source could not be downloaded from ${URL} (${reason}): ${what_to_do}")
endif()
file(MD5 "${partial}" actual)
if(NOT actual STREQUAL MD5)
    file(REMOVE "${partial}")
    message(FATAL_ERROR " udpcast's source from ${URL} has MD5 ${actual}, not the published ${MD5}: ${what_to_do}")
endif()
file(RENAME "${partial}" "${OUTPUT}")
