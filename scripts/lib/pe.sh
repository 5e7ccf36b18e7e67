# shellcheck shell=bash
# pe.sh: what a Windows PE file is. Source it from bash.
#
#   pe_machine FILE    prints x64, x86, arm64, other or NOT-PE (no MZ header or no PE signature)

pe_machine() {
    local lfanew signature machine
    [ "$(head -c 2 -- "$1" 2>/dev/null | tr -d '\0')" = MZ ] || { echo NOT-PE; return; }
    lfanew=$(od -An -t u4 -j 60 -N 4 -- "$1" 2>/dev/null | tr -d ' ')
    [ -n "$lfanew" ] || { echo NOT-PE; return; }
    signature=$(od -An -t x1 -j "$lfanew" -N 4 -- "$1" 2>/dev/null | tr -d ' ')
    [ "$signature" = 50450000 ] || { echo NOT-PE; return; }
    machine=$(od -An -t x2 -j $((lfanew + 4)) -N 2 -- "$1" | tr -d ' ')
    case $machine in 8664) echo x64 ;; 014c) echo x86 ;; aa64) echo arm64 ;; *) echo other ;; esac
}
