# shellcheck shell=bash
# cleanup.sh: nothing a script made outlives it, however it ends. HUP, INT and TERM end the
# script with 129, 130 and 143 (as a shell killed by them would), which runs its EXIT trap.
#
#   cleanup_on_exit          sets the traps: at exit, cleanup_run
#   cleanup_also COMMAND...  cleanup_run first runs COMMAND (then removes the paths)
#   cleanup_later PATH       PATH (file or folder) is removed at exit
#   cleanup_keep PATH        ... unless it is kept after all (e.g. renamed into place)
#   cleanup_wait COMMAND...  runs COMMAND (a long one: an export, a copy) and returns its status; a signal
#                            meanwhile ends the script at once and COMMAND with it, not when COMMAND is done

CLEANUP_PATHS=()
CLEANUP_COMMAND=()
CLEANUP_CHILD=

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

# bash runs a trap only between commands, but at once during a wait: so COMMAND runs in the background.
cleanup_wait() {
    local status
    "$@" &
    CLEANUP_CHILD=$!
    wait "$CLEANUP_CHILD"
    status=$? CLEANUP_CHILD=
    return "$status"
}

# The EXIT trap itself (run by cleanup_on_exit). A child of cleanup_wait ends first (its own children too: a
# function's subshell runs its tools), so that nothing writes into the paths once they are gone.
cleanup_run() {
    if [ -n "$CLEANUP_CHILD" ]; then
        # shellcheck disable=SC2046 # one pid a word
        kill -TERM $(cat /proc/"$CLEANUP_CHILD"/task/*/children 2>/dev/null) "$CLEANUP_CHILD" 2>/dev/null
        wait "$CLEANUP_CHILD"
    fi
    [ ${#CLEANUP_COMMAND[@]} = 0 ] || "${CLEANUP_COMMAND[@]}"
    [ ${#CLEANUP_PATHS[@]} = 0 ] || rm -rf -- "${CLEANUP_PATHS[@]}"
}
