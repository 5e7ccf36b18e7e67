# What a Windows executable is, read from its PE header: the machine it runs on and whether it
# is a program at all (a DLL or a driver has a PE header too, but cannot be started).

# Little-endian bytes in HEX -> number.
function(_pe_number hex out_var)
    string(LENGTH "${hex}" digits)
    set(big_endian "")
    foreach(at RANGE 0 ${digits} 2)
        string(SUBSTRING "${hex}" ${at} 2 byte)
        string(PREPEND big_endian "${byte}")
    endforeach()
    math(EXPR value "0x${big_endian}")
    set(${out_var} ${value} PARENT_SCOPE)
endfunction()

# Sets `machine_var` to x64, x86, ARM64, "machine 0x...." or NOT-PE, and `kind_var` to
# program, DLL or "subsystem N" (N: the header's subsystem number; a program is 2 or 3).
function(autodeploy_pe_header file machine_var kind_var)
    set(machine NOT-PE)
    set(kind "")
    file(SIZE "${file}" size)
    if(size GREATER 64)
        file(READ "${file}" dos LIMIT 64 HEX)
        string(SUBSTRING "${dos}" 0 4 magic)
        # e_lfanew at 0x3C: where the "PE\0\0" signature starts.
        string(SUBSTRING "${dos}" 120 8 lfanew_hex)
        _pe_number("${lfanew_hex}" lfanew)
        # Signature (4), file header (20), optional header up to Subsystem (68 + 2).
        math(EXPR header_end "${lfanew} + 94")
        if(magic STREQUAL "4d5a" AND header_end LESS_EQUAL size)
            file(READ "${file}" header OFFSET ${lfanew} LIMIT 94 HEX)
            string(SUBSTRING "${header}" 0 8 signature)
            if(signature STREQUAL "50450000")
                string(SUBSTRING "${header}" 8 4 machine_hex)
                _pe_number("${machine_hex}" machine_number)
                if(machine_number EQUAL 0x8664)
                    set(machine x64)
                elseif(machine_number EQUAL 0x14c)
                    set(machine x86)
                elseif(machine_number EQUAL 0xaa64)
                    set(machine ARM64)
                else()
                    set(machine "machine 0x${machine_hex}")
                endif()
                string(SUBSTRING "${header}" 44 4 characteristics_hex)  # file header + 18
                string(SUBSTRING "${header}" 184 4 subsystem_hex)       # optional header + 68
                _pe_number("${characteristics_hex}" characteristics)
                _pe_number("${subsystem_hex}" subsystem)
                math(EXPR is_dll "${characteristics} & 0x2000")  # IMAGE_FILE_DLL
                if(is_dll)
                    set(kind DLL)
                elseif(subsystem EQUAL 2 OR subsystem EQUAL 3)  # Windows GUI, Windows console
                    set(kind program)
                else()
                    set(kind "subsystem ${subsystem}")
                endif()
            endif()
        endif()
    endif()
    set(${machine_var} "${machine}" PARENT_SCOPE)
    set(${kind_var} "${kind}" PARENT_SCOPE)
endfunction()
