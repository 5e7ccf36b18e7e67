# The two diskpart scripts (assets/*.txt, or the files the cache variables name) and the banner's
# web address, turned into the generated header partition_scripts.hpp that the scrambled text
# store compiles in.
get_filename_component(_autodeploy_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(AUTODEPLOY_MBR_SCRIPT "${_autodeploy_root}/assets/mbr-disk.txt" CACHE FILEPATH
    "diskpart script that lays out disk 0 for legacy BIOS (MBR)")
set(AUTODEPLOY_GPT_SCRIPT "${_autodeploy_root}/assets/gpt-disk.txt" CACHE FILEPATH
    "diskpart script that lays out disk 0 for UEFI (GPT)")
set(AUTODEPLOY_WEB_ADDRESS "https://autodeploy.example" CACHE STRING
    "Web address shown on every banner (characters up to U+00FF)")
set(_autodeploy_scripts_generator "${CMAKE_CURRENT_LIST_DIR}/partition-scripts.cmake")

# The scrambling works on 8-bit characters, so the address must be UTF-8 of ASCII bytes and
# two-byte sequences for U+0080..U+00FF (lead byte C2 or C3). It reaches the generator in
# hexadecimal, safe from command-line quoting and list splitting.
string(HEX "${AUTODEPLOY_WEB_ADDRESS}" _autodeploy_web_address_hex)
if(NOT _autodeploy_web_address_hex MATCHES "^([0-7][0-9a-f]|c[23][89ab][0-9a-f])*$")
    message(FATAL_ERROR "AUTODEPLOY_WEB_ADDRESS must be UTF-8 text of characters up to U+00FF "
                        "(the banner scrambling is 8-bit): ${AUTODEPLOY_WEB_ADDRESS}")
endif()

# Adds the command that writes `header`; list the header among a target's sources to run it.
function(autodeploy_generate_partition_scripts header)
    add_custom_command(
        OUTPUT "${header}"
        COMMAND "${CMAKE_COMMAND}" -DMBR_SCRIPT=${AUTODEPLOY_MBR_SCRIPT} -DGPT_SCRIPT=${AUTODEPLOY_GPT_SCRIPT}
                -DWEB_ADDRESS_HEX=${_autodeploy_web_address_hex} -DOUTPUT=${header}
                -P "${_autodeploy_scripts_generator}"
        DEPENDS "${AUTODEPLOY_MBR_SCRIPT}" "${AUTODEPLOY_GPT_SCRIPT}" "${_autodeploy_scripts_generator}"
        COMMENT "Embedding the partitioning scripts and the web address")
endfunction()
