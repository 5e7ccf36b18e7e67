# shellcheck shell=bash
# send.sh: sending one image of an install WIM to the PCs waiting in WinPE, with Debian's
# udp-sender: the steps of scripts/send-image, for any script that sends (also while it serves
# the network boot). Source msg.sh, check.sh, options.sh, cleanup.sh, wim.sh, winimage.sh,
# net.sh and udpsender.sh first. A caller, in this order:
#
#   send_options              the option rows (options.sh) udp-sender takes; then options_parse
#   send_check_options        refuses (exit 2) what no single value shows: --nokbd alone, the
#                             interface (given, or the one udp-sender would pick)
#   send_check_image WIM INDEX   refuses (exit 1) a WIM or an image the PCs could not apply: each
#                             wipes its disk before it sees the image
#   send_prepare              after cleanup_on_exit and `cleanup_also send_stop` (or a cleanup
#                             command of its own that calls send_stop): refuses (exit 1) a taken
#                             port, naming its holder; makes the run folder, removed at exit
#   send_export WIM INDEX     SEND_FILE: image INDEX alone, exported into a folder removed at exit (WIM
#                             itself when it holds one image); refuses (exit 1) a failed export,
#                             saying whether the disk is full or the image broken
#   send_start                udp-sender in the background with SEND_FILE and the options given;
#                             returns at once; each PC that joins adds a line on standard output,
#                             udp-sender's own lines pass to standard error unchanged
#   send_wait                 waits for udp-sender; status 0 when at least one PC received all of
#                             the image (said in the last line), else refuses (exit 1) or returns
#                             udp-sender's own failing status, said in one line
#   send_stop                 ends udp-sender and the reader of its output for sure (TERM, then KILL)

# The UDP ports udp-sender uses: udpcast's default, which is what the PCs' receiver listens on.
SEND_PORT=9000

# udp-sender's options: each is passed on under its own name once its value is checked.
send_options() {
    options_row min-receivers whole:1:999999 N 'start as soon as N PCs have connected.'
    options_row max-wait seconds:1:999999 SECONDS 'once at least one PC has connected, start anyway when' \
        'SECONDS have passed since the first one did.'
    options_row nokbd flag - 'do not wait for a key press: start only through' \
        '--min-receivers and/or --max-wait (one of them is' \
        'required with --nokbd, else the transfer never starts).' \
        'Without --nokbd, pressing Enter starts the transfer' \
        '(so does either of the two options above); when the' \
        'standard input is not a terminal, its end counts as' \
        'that key press.'
    options_row interface text IF 'network interface to send on, e.g. eth1. Without it' \
        'udp-sender picks one itself (eth0 or en0 first, then' \
        'eth* and en*, those with a link first); name the' \
        'interface on a machine with more than one. Either is' \
        'checked first: not the loopback, up, with a link, and an' \
        'IPv4 address (not /31 or /32) with a broadcast address' \
        '(brd), or every PC would wait silently.'
    options_row max-bitrate bitrate RATE 'limit the sending rate (raw, headers and retransmissions' \
        'included) to RATE bits per second, with an optional k or' \
        'm: 100m is 100 Mbit/s. At most 2147m: udp-sender keeps' \
        'the rate in 32 bits, and a larger one stalls the sending.' \
        'Default: no limit.'
    options_row retries-until-drop whole:1:999999 N=70 'drop a PC that has not answered N requests in a row: a' \
        'dead PC holds up the whole room until then. Default 70:' \
        'about a minute of silence (each request after the tenth' \
        'waits a second), measured to keep a healthy but slow or' \
        "loaded room whole; udp-sender's own 200 is over three minutes."
    options_row fec fec 'SxR[/N]' 'forward error correction: S stripes (1-1024), R' \
        'redundant packets (1-128) per stripe of N data packets' \
        '(1-128; default: as the slice size gives), e.g. 8x8/128.' \
        'Default: none.'
    options_row blocksize multiple:4:256:65000 BYTES 'data bytes per packet (256-65000, a multiple of 4).' \
        'Default: 1456, which fits a 1500-byte frame. Larger only' \
        'where every NIC and switch on the way carries frames that' \
        "large (jumbo frames); beyond the links' MTU every packet" \
        'travels in IP fragments, and one lost fragment loses it.'
    # The PCs' receiver runs with udpcast's defaults: with any of these the PCs would wait forever.
    local why="the PCs' receiver keeps udpcast's defaults and would never hear the sender (see --help)"
    options_withheld ttl "$why"
    options_withheld mcast-rdv-address "$why"
    options_withheld portbase "$why"
}

send_check_options() {
    if [ -n "${OPTION[nokbd]}" ] && [ -z "${OPTION[min-receivers]}" ] && [ -z "${OPTION[max-wait]}" ]; then
        msg_die 2 "--nokbd needs --min-receivers or --max-wait, or the transfer would never start"
    fi
    net_check_interface "${OPTION[interface]}"
}

send_check_image() {
    local wim=$1 index=$2 problem
    wim_open "$wim"
    wim_check_index "$wim" "$index"
    problem=$(winimage_intact_problem "$wim" && winimage_install_problem "$wim" "$index") ||
        msg_die 1 "$problem; nothing was sent: repair or recapture the image"
}

send_prepare() {
    local holder port=$SEND_PORT
    holder=$(udpsender_port_holder "$port" $((port + 1)))
    [ -z "$holder" ] || msg_die 1 "UDP port $port or $((port + 1)) is held by $holder: end it (a send-image still running?), then run again"
    SEND_RUN=$(mktemp -d "${TMPDIR:-/var/tmp}/send-image.run.XXXXXX") ||
        msg_die 1 "cannot create a temporary folder in ${TMPDIR:-/var/tmp}"
    cleanup_later "$SEND_RUN"
    mkfifo "$SEND_RUN/stderr" || msg_die 1 "cannot create a FIFO in $SEND_RUN"
}

send_export() {
    local wim=$1 index=$2 name work
    name=$(wim_image_name "$wim" "$index")
    if [ "$WIM_COUNT" = 1 ]; then
        SEND_FILE=$wim
        msg_say '%s holds image 1 ("%s") only; sending it as it is' "$wim" "$name"
        return
    fi
    work=$(mktemp -d "${TMPDIR:-/var/tmp}/send-image.XXXXXX") || msg_die 1 "cannot create a temporary folder"
    cleanup_later "$work"
    SEND_FILE=$work/image.wim
    msg_say 'exporting image %s ("%s") of %s to %s' "$index" "$name" "$wim" "$SEND_FILE"
    wimexport "$wim" "$index" "$SEND_FILE" 2>"$work/errors" && return
    # The disk is blamed only when it is full; else wimlib's reason (a corrupt resource, mostly).
    if grep -q 'No space left on device' "$work/errors" || [ "$(df -P -- "$work" | awk 'NR == 2 { print $4 }')" = 0 ]; then
        msg_die 1 "no room left for image $index in ${work%/*}: free some, or set TMPDIR to a folder on a disk with room for it; nothing was sent"
    fi
    msg_die 1 "wimexport could not export image $index of $wim: $(winimage_reason "$work/errors"); the image is broken: run wimverify $wim to see where, then repair or recapture it; nothing was sent"
}

# send_joined COUNT ADDRESS: the line for a PC that joins, with what starts the sending.
send_joined() {
    local min_receivers=${OPTION[min-receivers]} max_wait=${OPTION[max-wait]} who starts=() next i
    if [ "$1" = 1 ]; then who="1 PC has joined"; else who="$1 PCs have joined"; fi
    if [ -n "$min_receivers" ] && [ "$1" -ge "$min_receivers" ]; then
        starts=(now)
    else
        [ -n "$min_receivers" ] && starts+=("when $min_receivers have joined")
        [ -n "$max_wait" ] && starts+=("$max_wait seconds after the first joined")
        [ -n "${OPTION[nokbd]}" ] || starts+=("when you press Enter (once every PC has joined)")
    fi
    next=${starts[0]}
    for ((i = 1; i < ${#starts[@]}; i++)); do next+=" or ${starts[i]}"; done
    msg_say '%s (the latest: %s); sending starts %s' "$who" "$2" "$next"
}

# send_line LINE: a line of udp-sender's (see udpsender.sh) said in our words on standard output:
# each PC that joins (counted once, even when it connects again after a restart), the PC that
# holds up the room by not answering, and the PC dropped for it.
send_line() {
    local line=$1 address number numbers retries=${OPTION[retries-until-drop]}
    case $line in
        'New connection from '*)
            address=${line#New connection from } number=${line#*(#}
            address=${address%% *} number=${number%%)*}
            SEND_ADDRESS[$number]=$address
            if [ -z "${SEND_SEEN[$address]:-}" ]; then
                SEND_SEEN[$address]=1
                SEND_COUNT=$((SEND_COUNT + 1))
                send_joined "$SEND_COUNT" "$address"
            fi
            ;;
        'Timeout notAnswered=['*)
            numbers=${line#Timeout notAnswered=[}
            numbers=${numbers%%]*}
            for number in ${numbers//,/ }; do
                [ -z "${SEND_STALLING[$number]:-}" ] || continue
                SEND_STALLING[$number]=1
                msg_say '%s does not answer and holds up the room: udp-sender drops it after about %s s of silence (--retries-until-drop %s)' \
                    "${SEND_ADDRESS[$number]:-PC #$number}" $((retries > 10 ? retries - 10 : 1)) "$retries"
            done
            ;;
        'Dropping client #'*)
            number=${line#Dropping client #}
            number=${number%% *}
            msg_say 'dropped %s: it stopped answering; the others go on (run %s again for it)' \
                "${SEND_ADDRESS[$number]:-PC #$number}" "$MSG_NAME"
            ;;
    esac
}

# send_watch LOG: udp-sender's standard error passes through unchanged (and into LOG) as it comes;
# each line ended by a line feed or carriage return goes to send_line.
send_watch() {
    SEND_COUNT=0
    declare -gA SEND_SEEN=() SEND_ADDRESS=() SEND_STALLING=()
    udpsender_follow send_line "$1"
}

send_start() {
    options_passed
    local args=(--file "$SEND_FILE" --nopointopoint "${OPTIONS_PASSED[@]}")
    msg_say 'sending %s bytes: udp-sender %s' "$(wc -c <"$SEND_FILE" | tr -d '[:space:]')" "${args[*]}"
    # udp-sender runs in the background so that a signal reaches our trap at once: it blocks TERM
    # while it sends, and would outlive the script holding the ports.
    send_watch "$SEND_RUN/log" <"$SEND_RUN/stderr" &
    SEND_WATCHER=$!
    udp-sender "${args[@]}" 0<&0 2>"$SEND_RUN/stderr" &
    SEND_SENDER=$!
}

# send_outcome LOG: succeeds only when at least one PC received all of the image.
send_outcome() {
    local joined received missed
    read -r joined received missed <<<"$(udpsender_outcome "$1")"
    if [ "$received" = 0 ]; then
        msg_die 1 "no PC received the image ($joined joined); start the PCs in WinPE, wait until they have joined, then run $MSG_NAME again"
    fi
    if [ -n "$missed" ]; then
        msg_say 'transfer complete: %s of %s PCs received all of it; not: %s (run %s again for them)' \
            "$received" "$joined" "$missed" "$MSG_NAME"
    else
        msg_say 'transfer complete: %s of %s PCs received all of it' "$received" "$joined"
    fi
}

send_wait() {
    local status=0
    wait "$SEND_SENDER" || status=$?
    wait "$SEND_WATCHER"
    SEND_SENDER='' SEND_WATCHER=''
    if [ "$status" -eq 0 ]; then
        send_outcome "$SEND_RUN/log"
    else
        msg_say 'udp-sender exited with status %s' "$status" >&2
    fi
    return "$status"
}

# shellcheck disable=SC2317 # run by the caller's EXIT trap
send_stop() {
    [ -z "${SEND_SENDER:-}" ] || udpsender_stop "$SEND_SENDER"
    [ -z "${SEND_WATCHER:-}" ] || { kill "$SEND_WATCHER" 2>/dev/null; wait "$SEND_WATCHER" 2>/dev/null; }
    return 0
}
