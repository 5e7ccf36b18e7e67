# shellcheck shell=bash
# sender_log.sh: what scripts/send-image and udp-sender print, stamped with the time each line
# arrived (udp-sender prints no times itself), read back as figures.
#
#   sender_log_stamp             standard input to output, each line led by its moment in seconds
#   sender_log_figures LOG       "BYTES START END RETRANSMITTED": bytes sent, the moments of
#                                "Starting transfer" and "Transfer complete" (0 when missing), and
#                                the retransmitted share udp-sender reports last ("0.0%")
#   sender_log_transfer LOG      one line: bytes, seconds, Mbit/s, retransmitted share; fails with
#                                "no complete transfer"

sender_log_stamp() {
    local line
    while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done
}

sender_log_figures() {
    awk '/ send-image: sending [0-9]+ bytes/ { for (i = 1; i <= NF; i++) if ($i == "sending") bytes = $(i + 1) }
         / Starting transfer/ { start = $1 }
         / Transfer complete/ { end = $1 }
         /re-xmits=/ { r = $0; sub(/.*re-xmits=[0-9]* *\( */, "", r); sub(/\).*/, "", r) }
         END { printf "%d %s %s %s\n", bytes, start ? start : 0, end ? end : 0, r }' "$1"
}

sender_log_transfer() {
    local bytes start end retransmitted
    read -r bytes start end retransmitted < <(sender_log_figures "$1")
    awk -v bytes="$bytes" -v start="$start" -v end="$end" -v r="$retransmitted" 'BEGIN {
        s = end - start; if (!start || !end) { print "no complete transfer"; exit 1 }
        printf "%d bytes in %.2f s, %.1f Mbit/s, %s retransmitted\n", bytes, s, bytes * 8 / s / 1e6, r }'
}
