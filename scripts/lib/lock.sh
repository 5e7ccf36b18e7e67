# shellcheck shell=bash
# lock.sh: one run at a time on a file, and a second run told who holds it. The lock is flock(2)
# on the file itself, so no lock file is left behind, and it ends with the process that holds it.
# Source it from bash.
#
#   lock_file PATH   takes the lock on PATH for the rest of the calling shell; status 0, or one line
#                    (who holds it, what to do) and status 1 when another process holds it, or
#                    PATH was replaced (by a run that held it) between the open and the lock

# lock_holder PATH: "pid N: COMMAND" of the other run that has PATH open: of the processes that
# have it open, one whose parent has not (the run, not one of its subshells; pids wrap, so the
# lowest is not always the oldest). The pid that /proc/locks gives is the flock command's, which has
# ended by then.
lock_holder() {
    local fd pid parent
    local -A holders=()
    for fd in /proc/[0-9]*/fd/*; do
        pid=${fd#/proc/} pid=${pid%%/*}
        if [ "$pid" != $$ ] && [ "$pid" != "$BASHPID" ] && [ "$fd" -ef "$1" ] 2>/dev/null; then
            holders[$pid]=1
        fi
    done
    for pid in "${!holders[@]}"; do
        parent=$(awk '/^PPid:/ { print $2 }' "/proc/$pid/status" 2>/dev/null)
        [ -z "${holders[${parent:-0}]:-}" ] || continue
        printf 'pid %s: %s' "$pid" "$(tr '\0' ' ' </proc/"$pid"/cmdline 2>/dev/null | sed 's/ $//')"
        return 0
    done
    return 1
}

lock_file() {
    local path=$1 fd holder
    exec {fd}<"$path" || { echo "cannot open $path to lock it"; return 1; }
    if flock -n -x "$fd"; then
        [ "/proc/$BASHPID/fd/$fd" -ef "$path" ] && return 0
        exec {fd}<&-
        echo "$path was replaced by another run just now; run again"
        return 1
    fi
    holder=$(lock_holder "$path")
    exec {fd}<&-
    echo "$path is being changed by another run (${holder:-its process is not known}); wait until it has ended," \
        "then run again"
    return 1
}
