# shellcheck shell=bash
# cleanup.sh: nothing a script made outlives it, however it ends. HUP, INT and TERM end the
# script with 129, 130 and 143 (as a shell killed by them would), which runs its EXIT trap.
#
#   cleanup_on_exit          sets the traps: at exit, cleanup_run
#   cleanup_also COMMAND...  cleanup_run first runs COMMAND (then removes the paths)
#   cleanup_later PATH       PATH (file or folder) is removed at exit
#   cleanup_keep PATH        ... unless it is kept after all (e.g. renamed into place)

CLEANUP_PATHS=()
CLEANUP_COMMAND=()

cleanup_on_exit() {
    trap cleanup_run EXIT
    trap 'exit 129' HUP
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

cleanup_also() { CLEANUP_COMMAND=("$@"); }

cleanup_later() { CLEANUP_PATHS+=("$1"); }

cleanup_keep() {
    local i
    for i in "${!CLEANUP_PATHS[@]}"; do [ "${CLEANUP_PATHS[i]}" != "$1" ] || unset 'CLEANUP_PATHS[i]'; done
}

# The EXIT trap itself (run by cleanup_on_exit).
cleanup_run() {
    [ ${#CLEANUP_COMMAND[@]} = 0 ] || "${CLEANUP_COMMAND[@]}"
    [ ${#CLEANUP_PATHS[@]} = 0 ] || rm -rf -- "${CLEANUP_PATHS[@]}"
}
