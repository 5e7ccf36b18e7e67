# Builds wimboot.i386 and wimboot.x86_64.efi in the checked source TREE and copies them to OUTPUT.
# Usage: cmake -DTREE=dir -DOUTPUT=dir -P wimboot-build.cmake
# The release tarball carries prebuilt loaders; they go first, so that make cannot take them as up to
# date. The BIOS loader's build compares two pesign hashes of it; without a working pesign both are
# empty and the comparison passes vacuously, so the loader must give pesign a hash here too.
file(REMOVE "${TREE}/wimboot" "${TREE}/src/wimboot" "${TREE}/src/wimboot.i386" "${TREE}/src/wimboot.x86_64"
     "${TREE}/src/wimboot.arm64")
find_program(pesign pesign)
if(NOT pesign)
    message(FATAL_ERROR " pesign not found, which wimboot's build uses to check its BIOS loader: install Debian's \
pesign package (make deps)")
endif()
execute_process(COMMAND make -C src wimboot.i386 wimboot.x86_64.efi WORKING_DIRECTORY "${TREE}"
                RESULT_VARIABLE built OUTPUT_VARIABLE log ERROR_VARIABLE log)
execute_process(COMMAND "${pesign}" -h -i "${TREE}/src/wimboot.i386.efi" OUTPUT_VARIABLE hash ERROR_QUIET)
if(NOT built EQUAL 0 OR NOT hash MATCHES "[0-9a-f][0-9a-f][0-9a-f][0-9a-f]")
    string(REGEX MATCH "[^\n]*\n?[^\n]*\n?[^\n]*\n?$" tail "${log}")
    string(REGEX REPLACE "\n" " | " tail "${tail}")
    message(FATAL_ERROR " wimboot did not build (${tail}): install gcc, binutils and pesign (make deps)")
endif()
foreach(loader wimboot.i386 wimboot.x86_64.efi)
    file(COPY_FILE "${TREE}/src/${loader}" "${OUTPUT}/${loader}")
endforeach()
