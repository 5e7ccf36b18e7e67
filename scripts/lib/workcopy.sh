# shellcheck shell=bash
# workcopy.sh: the working copies of an image (exported, converted from an ESD, copied out of an ISO:
# gigabytes), each in a folder that carries its owner: the run's pid and start time (field 22 of
# /proc/PID/stat, so that a pid used again is not taken for it). The run removes its own at exit; what a
# run killed outright (SIGKILL) left, the next start removes. Source msg.sh and cleanup.sh first.
#
#   WORKCOPY_PLACE          where they go: ${TMPDIR:-/var/tmp}, or serve-room's work folder
#   WORKCOPY_ADVICE         how the operator gives them another place, for messages ("set TMPDIR to")
#   workcopy_make NAME      WORKCOPY: a new folder WORKCOPY_PLACE/NAME.XXXXXX of this run, removed at exit;
#                           status 1 when it cannot be made
#   workcopy_sweep FOLDER   removes the working folders in FOLDER whose run has ended, one line each

WORKCOPY_PLACE=${TMPDIR:-/var/tmp}
# shellcheck disable=SC2034 # for the messages of the files that make them
WORKCOPY_ADVICE='set TMPDIR to'
WORKCOPY_NAMES=(send-image install .prepare)

# workcopy_owner PID: "PID START" while PID runs; fails when it does not.
workcopy_owner() {
    local stat fields
    [[ $1 =~ ^[1-9][0-9]*$ ]] && stat=$(cat -- "/proc/$1/stat" 2>/dev/null) || return 1
    read -ra fields <<<"${stat##*) }"
    echo "$1 ${fields[19]}"
}

workcopy_make() {
    WORKCOPY=$(mktemp -d "$WORKCOPY_PLACE/$1.XXXXXX") || return 1
    cleanup_later "$WORKCOPY"
    workcopy_owner $$ >"$WORKCOPY/owner"
}

workcopy_sweep() {
    local name folder owner
    for name in "${WORKCOPY_NAMES[@]}"; do
        for folder in "$1/$name".*; do
            # Only this user's, and only those made as here: a folder of another program is left alone.
            [ -d "$folder" ] && [ ! -L "$folder" ] && [ -O "$folder" ] && [ -f "$folder/owner" ] || continue
            owner=$(head -c 100 -- "$folder/owner")
            [ "$(workcopy_owner "${owner%% *}")" != "$owner" ] || continue
            rm -rf -- "$folder" && msg_say 'removed a working copy left by a run that was killed: %s' "$folder"
        done
    done
}
