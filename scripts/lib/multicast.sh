# shellcheck shell=bash
# multicast.sh: the transfers of a room, one udp-sender after another on the same ports, each
# started when the room decides (room_service.py conduct): udp-sender waits for a key press on
# its standard input, a FIFO that this side writes a line into. Its output becomes the room's
# events (room_service.py sender). Source msg.sh and udpsender.sh first.
#
#   multicast_listen N EVENTS DIR FILE IF ARGS...
#                        transfer N of FILE on IF: udp-sender (with ARGS) waits for PCs; its
#                        output goes to DIR/sender.log and, as events, to EVENTS; a transfer
#                        before it ends first (at most 10 s, then for sure)
#   multicast_start      the waiting transfer sends now
#   multicast_stop       ends udp-sender and the reader of its output for sure

MULTICAST_SENDER='' MULTICAST_READER='' MULTICAST_GO=''
multicast_service=$(dirname "${BASH_SOURCE[0]}")/room_service.py

multicast_listen() {
    local number=$1 events=$2 dir=$3 file=$4 interface=$5 i
    shift 5
    for ((i = 0; i < 100; i++)); do
        [ -n "$MULTICAST_SENDER" ] && kill -0 "$MULTICAST_SENDER" 2>/dev/null || break
        sleep 0.1
    done
    multicast_stop
    MULTICAST_GO=$dir/go.$number
    mkfifo "$MULTICAST_GO" "$dir/stderr.$number" || msg_die 1 "cannot create a FIFO in $dir"
    python3 "$multicast_service" sender "$events" "$number" "$(stat -c %s -- "$file")" "$interface" \
        "$dir/sender.log" <"$dir/stderr.$number" &
    MULTICAST_READER=$!
    # Read and write: udp-sender holds the FIFO open itself, so it never sees its end.
    udp-sender --file "$file" --interface "$interface" --nopointopoint "$@" \
        0<>"$MULTICAST_GO" 2>"$dir/stderr.$number" >>"$dir/sender.log" &
    MULTICAST_SENDER=$!
}

multicast_start() { [ -z "$MULTICAST_GO" ] || printf '\n' 1<>"$MULTICAST_GO"; }

multicast_stop() {
    [ -z "$MULTICAST_SENDER" ] || udpsender_stop "$MULTICAST_SENDER"
    [ -z "$MULTICAST_READER" ] || wait "$MULTICAST_READER" 2>/dev/null
    MULTICAST_SENDER='' MULTICAST_READER=''
}
