# The two diskpart scripts (assets/*.txt, or the files the cache variables name), turned into the
# generated header partition_scripts.hpp that the scrambled text store compiles in.
get_filename_component(_autodeploy_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(AUTODEPLOY_MBR_SCRIPT "${_autodeploy_root}/assets/mbr-disk.txt" CACHE FILEPATH
    "diskpart script that lays out disk 0 for legacy BIOS (MBR)")
set(AUTODEPLOY_GPT_SCRIPT "${_autodeploy_root}/assets/gpt-disk.txt" CACHE FILEPATH
    "diskpart script that lays out disk 0 for UEFI (GPT)")
set(_autodeploy_scripts_generator "${CMAKE_CURRENT_LIST_DIR}/partition-scripts.cmake")

# Adds the command that writes `header`; list the header among a target's sources to run it.
function(autodeploy_generate_partition_scripts header)
    add_custom_command(
        OUTPUT "${header}"
        COMMAND "${CMAKE_COMMAND}" -DMBR_SCRIPT=${AUTODEPLOY_MBR_SCRIPT} -DGPT_SCRIPT=${AUTODEPLOY_GPT_SCRIPT}
                -DOUTPUT=${header} -P "${_autodeploy_scripts_generator}"
        DEPENDS "${AUTODEPLOY_MBR_SCRIPT}" "${AUTODEPLOY_GPT_SCRIPT}" "${_autodeploy_scripts_generator}"
        COMMENT "Embedding the partitioning scripts")
endfunction()
