# Prints what a release build produced: path, size, SHA-256, and the receiver it carries.
# Usage: cmake -DPROGRAM=autodeploy.exe -DRECEIVER=udp-receiver.exe -P describe-release.cmake
include("${CMAKE_CURRENT_LIST_DIR}/pe-machine.cmake")
file(SIZE "${PROGRAM}" program_size)
file(SHA256 "${PROGRAM}" program_hash)
autodeploy_pe_machine("${RECEIVER}" receiver_machine)
file(SIZE "${RECEIVER}" receiver_size)
message("Release build: ${PROGRAM}
  size:     ${program_size} bytes
  SHA-256:  ${program_hash}
  receiver: ${RECEIVER} (${receiver_machine}, ${receiver_size} bytes)")
