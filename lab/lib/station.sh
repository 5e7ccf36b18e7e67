# shellcheck shell=bash
# station.sh: a simulated PC's WinPE tools: autodeploy.exe beside stand-ins (tests/standin) for
# the tools it runs, each recording in STANDIN_JOURNAL what it was asked, and the firmware the
# program reads from the registry.
#
#   station_make DIR PROGRAM STANDIN TOOL...   DIR anew: PROGRAM as autodeploy.exe, STANDIN as TOOL.exe
#   station_set_firmware uefi|bios WINE...     PEFirmwareType in the registry, through WINE (a command
#                                              that runs a Windows program in the PC's prefix)
#   station_show_journal JOURNAL DRIVE_C       what each tool was asked, the partitioning script, the
#                                              boot files

# shellcheck disable=SC2034 # for the scripts that source this file
STATION_TOOLS=(wpeutil diskpart dism bcdboot)

station_make() {
    local dir=$1 program=$2 standin=$3 tool
    shift 3
    rm -rf -- "$dir" && mkdir -p -- "$dir" && cp -- "$program" "$dir/autodeploy.exe" || return 1
    for tool in "$@"; do cp -- "$standin" "$dir/$tool.exe" || return 1; done
}

station_set_firmware() {
    local value
    case $1 in uefi) value=2 ;; bios) value=0 ;; *) echo "station: firmware is uefi or bios" >&2; return 2 ;; esac
    shift
    "$@" reg add 'HKLM\SYSTEM\CurrentControlSet\Control' /v PEFirmwareType /t REG_DWORD /d "$value" /f \
        >/dev/null 2>&1 </dev/null
}

station_show_journal() {
    local journal=$1 drive_c=$2 role arguments script_path boot
    [ -f "$journal" ] || return 0
    echo "What each tool was asked to do:"
    tr -d '\r' <"$journal" | while IFS=$'\t' read -r role arguments; do
        printf '  %-13s %s\n' "$role" "$(printf '%s' "$arguments" | tr '\t' ' ')"
    done
    script_path=$(awk -F'\t' '$1 == "diskpart" { print $3 }' "$journal")
    if [ -n "$script_path" ]; then
        echo
        echo "The partitioning script diskpart was given ($script_path):"
        local unix_path=${script_path#[Cc]:\\}
        tr -d '\r' <"$drive_c/${unix_path//\\//}" | sed 's/^/    /'
    fi
    boot=$(awk -F'\t' '$1 == "bcdboot" {
        print "boot files from " $2 " to the system partition " $4 " for " $6 " firmware" }' "$journal")
    [ -z "$boot" ] || { echo; echo "bcdboot wrote $boot."; }
}
