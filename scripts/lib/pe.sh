# shellcheck shell=bash
# pe.sh: is a file a program that WinPE x64 can run as autodeploy.exe? Read from its PE header
# with od alone (as cmake/pe-header.cmake does for the receiver). Source it from bash.
#
#   pe_machine FILE x64, x86, arm64, other or NOT-PE
#   pe_check FILE   nothing and status 0 for a 64-bit Windows console program; else one line
#                   (what FILE is and what to give instead) and status 1

# pe_number FILE OFFSET SIZE: the little-endian unsigned number of SIZE bytes at OFFSET, or nothing
# when the file is shorter. Read through a redirection, so no file name is ever taken as an option.
pe_number() {
    od -A n -t "u$3" --endian=little -j "$2" -N "$3" <"$1" 2>/dev/null | tr -d ' \n'
}

pe_check() {
    local file=$1 size offset machine characteristics subsystem
    local instead="give the 64-bit console build (make release: build/release/src/autodeploy.exe)"
    [ -z "${LAYOUT_INSTALLED:-}" ] || instead="give the 64-bit console build ($LAYOUT_WINDOWS/autodeploy.exe)"
    if [ ! -f "$file" ] || [ ! -r "$file" ]; then echo "cannot read the program $file"; return 1; fi
    size=$(stat -L -c %s -- "$file") || { echo "cannot read the program $file"; return 1; }
    offset=$(pe_number "$file" 60 4)
    # The DOS header's "MZ", then e_lfanew (at 0x3C) pointing at "PE\0\0", the file header (20
    # bytes) and the optional header up to its Subsystem field (offset 68, 2 bytes).
    if [ "$(head -c 2 <"$file" | tr -d '\0')" != MZ ] || [ -z "$offset" ] || [ $((offset + 94)) -gt "$size" ] ||
        [ "$(pe_number "$file" "$offset" 4)" != 17744 ]; then
        echo "not a Windows program (no PE header): $file; $instead"
        return 1
    fi
    machine=$(pe_number "$file" $((offset + 4)) 2)
    characteristics=$(pe_number "$file" $((offset + 22)) 2)
    subsystem=$(pe_number "$file" $((offset + 92)) 2)
    case $machine in
        34404) ;; # 0x8664, x64
        332) echo "$file is a 32-bit (x86) program, which 64-bit WinPE cannot start; $instead"; return 1 ;;
        *) printf '%s is a Windows program for another machine (0x%04x), not x64; %s\n' "$file" "$machine" "$instead"
           return 1 ;;
    esac
    if [ $((characteristics & 0x2000)) != 0 ]; then # IMAGE_FILE_DLL
        echo "$file is a DLL, not a program; $instead"
        return 1
    fi
    case $subsystem in
        3) return 0 ;;
        2) echo "$file is a windowed (GUI) program: it would show nothing on WinPE's console; $instead" ;;
        *) echo "$file is not a console program (PE subsystem $subsystem); $instead" ;;
    esac
    return 1
}

# pe_machine FILE: x64, x86, arm64, other, or NOT-PE (no MZ header or no PE signature).
pe_machine() {
    local offset
    [ "$(head -c 2 <"$1" 2>/dev/null | tr -d '\0')" = MZ ] || { echo NOT-PE; return; }
    offset=$(pe_number "$1" 60 4)
    { [ -n "$offset" ] && [ "$(pe_number "$1" "$offset" 4)" = 17744 ]; } || { echo NOT-PE; return; }
    case $(pe_number "$1" $((offset + 4)) 2) in
        34404) echo x64 ;;
        332) echo x86 ;;
        43620) echo arm64 ;;
        *) echo other ;;
    esac
}
