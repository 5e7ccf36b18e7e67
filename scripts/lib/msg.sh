# shellcheck shell=bash
# msg.sh: what an operator script says, each line led by its name (MSG_NAME, set by the script), the
# commands in it named as its user calls them (layout.sh).
#
#   msg_die STATUS MESSAGE   MESSAGE on standard error as one line, then exit with STATUS
#   msg_say FORMAT ARGS...   one line on standard output
#   msg_count N THING        "1 THING" or "N THINGs"

. "$(dirname "${BASH_SOURCE[0]}")/layout.sh"
MSG_NAME=${MSG_NAME:-${0##*/}}
[ -z "$LAYOUT_INSTALLED" ] || MSG_NAME=autodeploy-$MSG_NAME

msg_die() {
    printf '%s: %s\n' "$MSG_NAME" "$2" | layout_spoken "$MSG_NAME" >&2
    exit "$1"
}

msg_say() {
    local format=$1
    shift
    # shellcheck disable=SC2059 # the format is the caller's, as with printf itself
    printf "%s: $format\n" "$MSG_NAME" "$@" | layout_spoken "$MSG_NAME"
}

msg_count() {
    if [ "$1" = 1 ]; then echo "1 $2"; else echo "$1 $2s"; fi
}
