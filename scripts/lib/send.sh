# shellcheck shell=bash
# send.sh: sending one image of an install WIM to the PCs waiting in WinPE, with Debian's udp-sender:
# what send-image and serve-room check and prepare before the room server runs udp-sender. Source
# msg.sh, check.sh, options.sh, cleanup.sh, workcopy.sh, wim.sh, winimage.sh, imagecopy.sh and net.sh first. A
# caller, in this order:
#
#   send_options              the option rows (options.sh) udp-sender takes; then options_parse
#   send_check_options        refuses (exit 2) what no single value shows: --nokbd alone, the
#                             interface (given, or the one udp-sender would pick)
#   send_check_image WIM INDEX   refuses (exit 1) a WIM or an image the PCs could not apply: each
#                             wipes its disk before it sees the image
#   send_prepare              refuses (exit 1) a taken port, naming its holder
#   send_export WIM INDEX     SEND_FILE: image INDEX alone, exported into a working folder in
#                             WORKCOPY_PLACE (workcopy.sh; WIM itself when it holds one image), with the
#                             operator's drivers and files when given (imagecopy.sh: then kept for the next
#                             run); refuses (exit 1) a failed export, saying whether the disk is full or the
#                             image broken
#   send_udpsender_args       SEND_ARGS: udp-sender's whole command line: the file, --nopointopoint and
#                             every option of send_options given or with a default, but those in
#                             SEND_DECIDED (the caller's own) and those it dropped

# The UDP ports udp-sender uses: udpcast's default, which is what the PCs' receiver listens on.
SEND_PORT=9000
SEND_DECIDED=()
# udp-sender's options: each is passed on under its own name once its value is checked.
send_options() {
    SEND_ROWS=(min-receivers max-wait nokbd interface max-bitrate retries-until-drop fec blocksize)
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
    holder=$(ss -Hulpn "sport = :$port or sport = :$((port + 1))" 2>/dev/null |
        sed -n 's/.*users:(("\([^"]*\)",pid=\([0-9]*\),.*/\1 (pid \2)/p' | head -n 1)
    [ -z "$holder" ] || msg_die 1 "UDP port $port or $((port + 1)) is held by $holder: end it (a send-image still \
running?), then run again"
}

send_export() {
    local wim=$1 index=$2 name work compress=() how=
    name=$(wim_image_name "$wim" "$index")
    # An ESD keeps its images in solid LZMS resources; LZX, as in Microsoft's own install.wim, is what every
    # dism applies.
    if [ "$(wim_field Compression)" = LZMS ]; then
        compress=(--compress=LZX)
        how=' (from solid LZMS to LZX, which every dism applies; this takes a while)'
    elif [ "$WIM_COUNT" = 1 ] && ! imagecopy_wanted; then
        SEND_FILE=$wim
        msg_say '%s holds image 1 ("%s") only; sending it as it is' "$wim" "$name"
        return
    fi
    workcopy_make send-image || msg_die 1 "cannot create a temporary folder"
    work=$WORKCOPY SEND_FILE=$WORKCOPY/image.wim
    ! imagecopy_wanted || ! imagecopy_kept "$wim" "$index" || return
    msg_say 'exporting image %s ("%s") of %s to %s%s' "$index" "$name" "$wim" "$SEND_FILE" "$how"
    if ! cleanup_wait wimexport "$wim" "$index" "$SEND_FILE" "${compress[@]}" 2>"$work/errors"; then
        send_no_room "$index"
        msg_die 1 "wimexport could not export image $index of $wim: $(winimage_reason "$work/errors"); the image \
is broken: run wimverify $wim to see where, then repair or recapture it; nothing was sent"
    fi
    ! imagecopy_wanted || imagecopy_add "$index"
}

# send_no_room INDEX: refuses (exit 1) when the disk of the working folder is full: the disk is blamed only then,
# else wimlib's reason (a corrupt resource, mostly).
send_no_room() {
    if grep -q 'No space left on device' "$WORKCOPY/errors" || [ "$(df -P -- "$WORKCOPY" |
        awk 'NR == 2 { print $4 }')" = 0 ]; then
        msg_die 1 "no room left for image $1 in ${WORKCOPY%/*}: free some, or $WORKCOPY_ADVICE a folder on a \
disk with room for it; nothing was sent"
    fi
}

send_udpsender_args() {
    local name decided passed=()
    for name in "${SEND_ROWS[@]}"; do
        for decided in "${SEND_DECIDED[@]}"; do [ "$name" != "$decided" ] || continue 2; done
        passed+=("$name")
    done
    options_passed "${passed[@]}"
    # shellcheck disable=SC2034 # for the caller
    SEND_ARGS=(udp-sender --file "$SEND_FILE" --nopointopoint "${OPTIONS_PASSED[@]}")
}
