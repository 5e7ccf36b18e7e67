# shellcheck shell=bash
# drivers.sh: an operator's driver folder, checked by driver_packages.py before anything is made, and wimupdate's
# commands that put it into an image. Source it after msg.sh.
#
#   drivers_check OPTION DIR            refuses DIR (each refusal a line of its own, led by OPTION, exit 2) unless
#                                       it is a folder of x64 driver packages; sets DRIVERS_FOUND to
#                                       "PACKAGES INF-FILES BYTES"
#   drivers_commands OPTION DIR TARGET  wimupdate's commands: what an earlier run put at TARGET goes, then DIR's
#                                       packages are added there (TARGET/all/..., TARGET/by-model); DIR empty: only
#                                       the removal. Refuses as drivers_check does.
#   drivers_digest DIR                  the SHA-256 of DIR's names and contents (a boot image made from it is kept
#                                       by it)
#   drivers_said OPTION                 one line: what DRIVERS_FOUND adds to the boot image

DRIVERS_PACKAGES=$(dirname "${BASH_SOURCE[0]}")/driver_packages.py
DRIVERS_FOUND=

# drivers_run OPTION DIR MODE ARGS...: driver_packages.py's answer on standard output, or its refusals said and exit 2.
drivers_run() {
    local option=$1 dir=$2 answer status
    answer=$(python3 "$DRIVERS_PACKAGES" "${@:3}")
    status=$?
    case $status in
        0) printf '%s\n' "$answer" ;;
        1) printf '%s\n' "$answer" | sed "s|^|$MSG_NAME: $option |" | layout_spoken "$MSG_NAME" >&2
           exit 2 ;;
        *) msg_die 1 "cannot check the drivers of $option $dir (python3 failed)" ;;
    esac
}

drivers_check() {
    DRIVERS_FOUND=$(drivers_run "$1" "$2" check "$2") || exit
}

drivers_commands() {
    echo "delete --force --recursive $3"
    [ -z "$2" ] || drivers_run "$1" "$2" commands "$2" "$3"
}

drivers_digest() { python3 "$DRIVERS_PACKAGES" digest "$1" || msg_die 1 "cannot read the drivers in $1"; }

drivers_said() {
    local packages infs bytes
    read -r packages infs bytes <<<"$DRIVERS_FOUND"
    msg_say '%s: %s (%s) add %s MB to the boot image before compression: every PC downloads it with WinPE' "$1" \
        "$(msg_count "$packages" 'driver package')" "$(msg_count "$infs" '.inf file')" \
        "$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }')"
}
