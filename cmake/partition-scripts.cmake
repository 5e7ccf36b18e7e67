# Turns the two plain diskpart scripts into a header of byte strings that the program scrambles
# while it is compiled. Line ends become CRLF, as Windows tools expect them.
# Usage: cmake -DMBR_SCRIPT=file -DGPT_SCRIPT=file -DOUTPUT=header -P partition-scripts.cmake
function(script_literal file out_var)
    if(NOT EXISTS "${file}")
        message(FATAL_ERROR "partition script not found: ${file}")
    endif()
    file(READ "${file}" text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    string(HEX "${text}" hex)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
    set(${out_var} "\"${escaped}\"" PARENT_SCOPE)
endfunction()

script_literal("${MBR_SCRIPT}" mbr)
script_literal("${GPT_SCRIPT}" gpt)

set(content "// Generated from ${MBR_SCRIPT} and ${GPT_SCRIPT}; do not edit.
// Plain texts for compile-time scrambling only: nothing may use them at run time.
#pragma once
namespace autodeploy::generated {
inline constexpr char kMbrScript[] = ${mbr};
inline constexpr char kGptScript[] = ${gpt};
}  // namespace autodeploy::generated
")
file(WRITE "${OUTPUT}" "${content}")
