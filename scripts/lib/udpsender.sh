# shellcheck shell=bash
# udpsender.sh: running Debian's udp-sender (udpcast 20120424) and reading what it says. Source it
# from bash.
#
#   udpsender_port_holder PORT...  "udp-sender (pid 123)" for the first process holding one of the
#                                  UDP PORTs, from ss; nothing when they are free
#   udpsender_stop PID             ends the process for sure: TERM, at most 2 s, then KILL; waits
#   udpsender_follow HANDLER LOG   copies standard input to standard error as it comes (udp-sender's
#                                  progress line ends in carriage returns) and to LOG, and calls
#                                  HANDLER LINE for each line ended by a line feed or carriage return
#   udpsender_outcome LOG          "JOINED RECEIVED ADDRESS..." from a whole log: how many PCs joined,
#                                  how many received everything, the addresses of the rest in order
#
# What the log holds, as udp-sender prints it: "New connection from ADDRESS  (#N) ..." for each PC
# that joins; "No participants... exiting" when the sending started without one (exit status 0);
# "Timeout notAnswered=[N,...] ..." while PC #N holds the room up; "Dropping client #N because of
# timeout" when it gives up on one; "Transfer complete." and then "Disconnecting #N (ADDRESS)" for
# each PC that was still taking part, that is each PC that received everything.

udpsender_port_holder() {
    local port filter=
    for port in "$@"; do filter+="${filter:+ or }sport = :$port"; done
    ss -Hulpn "$filter" 2>/dev/null | sed -n 's/.*users:(("\([^"]*\)",pid=\([0-9]*\),.*/\1 (pid \2)/p' | head -n 1
}

udpsender_stop() {
    local pid=$1 i
    kill -TERM "$pid" 2>/dev/null || return 0
    # udp-sender blocks SIGTERM while it transfers (and then for as long as a PC holds it up).
    for ((i = 0; i < 20; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 0
}

udpsender_follow() {
    local handler=$1 log=$2 char line=
    while IFS= read -r -d '' -N 1 char; do
        printf '%s' "$char" >&2
        printf '%s' "$char" >>"$log"
        if [ "$char" = $'\n' ] || [ "$char" = $'\r' ]; then
            "$handler" "$line"
            line=
        else
            line+=$char
        fi
    done
    [ -z "$line" ] || "$handler" "$line"
}

udpsender_outcome() {
    tr '\r' '\n' <"$1" | awk '
        /^New connection from / { if (!($4 in seen)) { seen[$4] = 1; order[++joined] = $4 } }
        /^Transfer complete\./ { complete = 1 }
        /^Disconnecting #/ && complete { a = $3; gsub(/[()]/, "", a); if (!(a in done)) { done[a] = 1; received++ } }
        END {
            printf "%d %d", joined, received
            for (i = 1; i <= joined; i++) if (!(order[i] in done)) printf " %s", order[i]
            print ""
        }'
}
