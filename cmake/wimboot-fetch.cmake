# Puts wimboot's release source, extracted, at OUTPUT (and the tarball at TARBALL): from SOURCE, a
# tarball the user already has, or else a download of URL. Either must extract to the release's git
# tree TREE (what `git write-tree` gives for the tag), whatever the archive's own bytes.
# Usage: cmake [-DSOURCE=file] -DURL=url -DTREE=id -DTARBALL=file -DOUTPUT=dir -P wimboot-fetch.cmake
get_filename_component(name "${TARBALL}" NAME)
# Each failure is one line that ends in what to do; its leading space keeps CMake from wrapping it.
set(what_to_do "download ${URL} yourself and build with WIMBOOT_SOURCE=/path/to/${name}")

get_filename_component(folder "${TARBALL}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
set(partial "${TARBALL}.part")
file(REMOVE "${partial}")
if(SOURCE)
    if(NOT EXISTS "${SOURCE}" OR IS_DIRECTORY "${SOURCE}")
        message(FATAL_ERROR " WIMBOOT_SOURCE names no file (${SOURCE}): ${what_to_do}")
    endif()
    set(origin "${SOURCE}")
    file(COPY_FILE "${SOURCE}" "${partial}")
else()
    set(origin "${URL}")
    message(STATUS "Downloading ${URL}")
    file(DOWNLOAD "${URL}" "${partial}" STATUS status TLS_VERIFY ON INACTIVITY_TIMEOUT 60 TIMEOUT 900)
    list(GET status 0 code)
    if(NOT code EQUAL 0)
        list(GET status 1 reason)
        file(REMOVE "${partial}")
        message(FATAL_ERROR " wimboot's source could not be downloaded from ${URL} (${reason}): ${what_to_do}")
    endif()
endif()

set(scratch "${OUTPUT}.scratch")
file(REMOVE_RECURSE "${scratch}" "${OUTPUT}")
file(MAKE_DIRECTORY "${scratch}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xzf "${partial}" WORKING_DIRECTORY "${scratch}"
                RESULT_VARIABLE extracted OUTPUT_QUIET ERROR_QUIET)
file(GLOB top LIST_DIRECTORIES true "${scratch}/*")
list(LENGTH top count)
set(actual "")
if(extracted EQUAL 0 AND count EQUAL 1 AND IS_DIRECTORY "${top}")
    # Git's tree id of the extracted files, untouched by any git configuration of this machine.
    execute_process(COMMAND ${CMAKE_COMMAND} -E env GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null
                            sh -c "git init -q && git -c core.autocrlf=false -c core.filemode=true add -f -A && git write-tree" WORKING_DIRECTORY "${top}"
                    OUTPUT_VARIABLE actual OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    file(REMOVE_RECURSE "${top}/.git")
endif()
if(NOT actual STREQUAL TREE)
    file(REMOVE_RECURSE "${scratch}")
    file(REMOVE "${partial}")
    if(actual STREQUAL "")
        set(actual "none: not a tarball of one folder")
    endif()
    message(FATAL_ERROR " wimboot's source from ${origin} is not release ${name} (its git tree is ${actual}, \
not ${TREE}): ${what_to_do}")
endif()
file(RENAME "${top}" "${OUTPUT}")
file(REMOVE_RECURSE "${scratch}")
file(RENAME "${partial}" "${TARBALL}")
file(TOUCH "${OUTPUT}/.checked")
