# Builds udpcast's receiver for 64-bit Windows from its release tarball the way udpcast's own build
# does it (configure --host x86_64-w64-mingw32, make udp-receiver.exe); none of its files changed.
# Usage: cmake -DTARBALL=file -DCC=mingw-w64-gcc -DWORK=dir -DOUTPUT=udp-receiver.exe -P udpcast-build.cmake
#
# The flags, and why each:
#   -DBB_FEATURE_UDPCAST_FEC  forward error correction, as udpcast's configure means to set it (its
#                             default CFLAGS lose to autoconf's own, so FEC is otherwise left out);
#   -O2                       what autoconf would have given, since naming CFLAGS replaces it;
#   -static -s                no MinGW runtime DLL (WinPE has none); stripped, udpcast's default;
#   --no-insert-timestamp     no build time in the PE header: two builds give the same bytes.
set(cflags "-O2 -DBB_FEATURE_UDPCAST_FEC")
set(ldflags "-static -s -Wl,--no-insert-timestamp")

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(ARCHIVE_EXTRACT INPUT "${TARBALL}" DESTINATION "${WORK}")
file(GLOB tops LIST_DIRECTORIES true "${WORK}/udpcast-*")
list(LENGTH tops count)
if(NOT count EQUAL 1 OR NOT EXISTS "${tops}/configure")
    message(FATAL_ERROR "${TARBALL} is not udpcast's release source (no udpcast-*/configure in it)")
endif()

set(log "${WORK}/build.log")
function(step)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${tops}" OUTPUT_FILE "${log}.step" ERROR_FILE "${log}.step"
                    RESULT_VARIABLE status)
    file(READ "${log}.step" output)
    file(APPEND "${log}" "$ ${ARGN}\n${output}")
    if(NOT status EQUAL 0)
        string(REGEX MATCH "[^\n]*(\n[^\n]*){0,15}$" tail "${output}")
        message(FATAL_ERROR "Building udpcast's receiver failed at: ${ARGN}\n${tail}\n(whole log: ${log})")
    endif()
endfunction()
step(sh ./configure --host x86_64-w64-mingw32 "CC=${CC}" "CFLAGS=${cflags}" "LDFLAGS=${ldflags}")
# Our own make, if any, must not hand its job server or options down.
step("${CMAKE_COMMAND}" -E env --unset=MAKEFLAGS --unset=MFLAGS --unset=MAKELEVEL make udp-receiver.exe)
file(COPY_FILE "${tops}/udp-receiver.exe" "${OUTPUT}")
