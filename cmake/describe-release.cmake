# Prints what a release build produced: the program, the receiver it carries, the disk 0 guard, the watch and
# the capture program.
# Usage: cmake -DPROGRAM=autodeploy.exe -DGUARD=autodeploy-guard.exe -DWATCH=autodeploy-watch.exe
#              -DCAPTURE=autodeploy-capture.exe
#              -DRECEIVER=udp-receiver.exe [-DTARBALL=udpcast source] -P describe-release.cmake
include("${CMAKE_CURRENT_LIST_DIR}/pe-header.cmake")
file(SIZE "${PROGRAM}" program_size)
file(SHA256 "${PROGRAM}" program_hash)
file(SIZE "${GUARD}" guard_size)
file(SHA256 "${GUARD}" guard_hash)
file(SIZE "${WATCH}" watch_size)
file(SHA256 "${WATCH}" watch_hash)
file(SIZE "${CAPTURE}" capture_size)
file(SHA256 "${CAPTURE}" capture_hash)
autodeploy_pe_header("${RECEIVER}" receiver_machine receiver_kind)
file(SIZE "${RECEIVER}" receiver_size)
# The receiver prints "Udp-receiver VERSION" when it starts; VERSION is its one 8-digit string.
file(STRINGS "${RECEIVER}" receiver_version REGEX "^[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]$")
if(NOT receiver_version)
    set(receiver_version "unknown")
endif()
if(TARBALL)
    file(SHA256 "${TARBALL}" tarball_hash)
    set(origin "built from ${TARBALL}
            (SHA-256 ${tarball_hash}; udpcast is GPL-2: ship this source with the program)")
else()
    set(origin "${RECEIVER} (given with AUTODEPLOY_RECEIVER)")
endif()
message("Release build: ${PROGRAM}
  size:     ${program_size} bytes
  SHA-256:  ${program_hash}
  receiver: udp-receiver ${receiver_version}, ${receiver_machine}, ${receiver_size} bytes,
            ${origin}
  guard:    ${GUARD}
            ${guard_size} bytes, SHA-256 ${guard_hash}
  watch:    ${WATCH}
            ${watch_size} bytes, SHA-256 ${watch_hash}
  capture:  ${CAPTURE}
            ${capture_size} bytes, SHA-256 ${capture_hash}")
