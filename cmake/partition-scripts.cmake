# Turns the two plain diskpart scripts and the banner's web address into a header of byte strings
# that the program scrambles while it is compiled. Script line ends become CRLF, as Windows tools
# expect them.
# Usage: cmake -DMBR_SCRIPT=file -DGPT_SCRIPT=file -DWEB_ADDRESS_HEX=hex -DOUTPUT=header
#              -P partition-scripts.cmake

# A C++ string literal of the bytes given in hexadecimal, every byte escaped.
function(bytes_literal hex out_var)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
    set(${out_var} "\"${escaped}\"" PARENT_SCOPE)
endfunction()

function(script_literal file out_var)
    if(NOT EXISTS "${file}")
        message(FATAL_ERROR "partition script not found: ${file}")
    endif()
    file(READ "${file}" text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    string(HEX "${text}" hex)
    bytes_literal("${hex}" literal)
    set(${out_var} "${literal}" PARENT_SCOPE)
endfunction()

if(NOT DEFINED WEB_ADDRESS_HEX)
    message(FATAL_ERROR "WEB_ADDRESS_HEX is not given")
endif()
script_literal("${MBR_SCRIPT}" mbr)
script_literal("${GPT_SCRIPT}" gpt)
bytes_literal("${WEB_ADDRESS_HEX}" web_address)

set(content "// Generated from ${MBR_SCRIPT}, ${GPT_SCRIPT} and AUTODEPLOY_WEB_ADDRESS; do not edit.
// Plain texts for compile-time scrambling only: nothing may use them at run time.
#pragma once
namespace autodeploy::generated {
inline constexpr char kMbrScript[] = ${mbr};
inline constexpr char kGptScript[] = ${gpt};
inline constexpr char kWebAddress[] = ${web_address};
}  // namespace autodeploy::generated
")
file(WRITE "${OUTPUT}" "${content}")
