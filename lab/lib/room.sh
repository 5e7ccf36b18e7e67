# shellcheck shell=bash
# room.sh: simulated WinPE machines on a private network, for the demo, the benchmark and the
# tests. Source it from bash; it needs root, iproute2, Wine and the Windows build.
#
# Each machine is a Wine prefix of its own (its C: drive) whose wineserver runs in a network
# namespace of its own, so the udpcast receiver inside autodeploy.exe uses that namespace's
# network. The machines and the sender hang on one bridge, which lives in a namespace of its own
# (the switch). Every veth pair is created with both ends inside namespaces, and addresses exist
# only there: nothing touches the host's interfaces. room_close removes all of it; room_open
# makes the caller's EXIT trap run it, also on Ctrl-C.
#
#   room_unavailable          why this machine cannot hold a room, in one line; nothing when it can
#   room_open ID DIR          namespaces ID-sw (bridge) and ID-snd (sender, 10.77.0.1); files in DIR
#   room_sample_image BYTES [NAME]   DIR/image.wim: a Windows tree with BYTES random bytes, uncompressed;
#                             its SHA-256 in ROOM_IMAGE_SHA
#   room_add_machine NAME uefi|bios [MAC]   a machine: namespace, prefix, program, stand-in tools;
#                             with MAC, its cable has that MAC and stays unplugged until room_connect
#   room_connect NAME ADDRESS plugs that machine in, with ADDRESS
#   room_boot NAME            starts autodeploy.exe there (through its watch, with ROOM_WATCH); console
#                             in DIR/NAME/console.txt; when
#                             it ends, its exit status in DIR/NAME/status; times in started, ended
#   room_send ARGS...         scripts/send-image in the sender's namespace (caller redirects),
#                             killed after ROOM_SEND_LIMIT seconds if that is set
#   room_stage NAME [BYTES]   how far the machine has got (see there)
#   room_watch SECONDS BYTES NAME...   one live line per machine until each has ended; runs
#                             "${ROOM_EACH[@]}" NAME... first each time, when set
#   room_table SHA256 LOGS NAME...     the outcome, a row per machine; consoles and journals to LOGS
#   room_halt NAME            ends everything running on that machine
#   room_close                removes every machine, namespace and prefix of the room
#
# Set before room_add_machine: ROOM_PROGRAM (autodeploy.exe), ROOM_STANDIN (standin.exe), ROOM_WATCH
# (autodeploy-watch.exe, to run the program as WinPE's launch script does; ROOM_STALL its stall time) and
# ROOM_TEMPLATE (a prefix folder, made here on first use and then only copied). ROOM_MTU, before
# room_open, sets every link's MTU (default 1500).

room_lib_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
room_repo=$(dirname "$(dirname "$room_lib_dir")")
. "$room_repo/scripts/lib/msg.sh"
. "$room_repo/scripts/lib/cleanup.sh"
. "$room_lib_dir/wine.sh"
. "$room_lib_dir/station.sh"
. "$room_repo/scripts/lib/winimage.sh"
ROOM_SUBNET=10.77.0
ROOM_MACHINES=()
ROOM_EACH=()

# Why this machine cannot hold a room, in one line; nothing when it can.
room_unavailable() {
    [ "$(id -u)" = 0 ] || { echo "network namespaces need root (run as root)"; return; }
    command -v ip >/dev/null 2>&1 || { echo "ip (iproute2) is not installed"; return; }
    local probe="adprobe$$"
    if ! ip netns add "$probe" 2>/dev/null; then
        echo "cannot create network namespaces here (ip netns add failed: a container without CAP_SYS_ADMIN?)"
        return
    fi
    ip netns delete "$probe" 2>/dev/null
}

room_open() {
    ROOM_ID=$1
    ROOM_DIR=$2
    mkdir -p "$ROOM_DIR"
    cleanup_on_exit
    cleanup_also room_close
    ip netns add "$ROOM_ID-sw" || return 1
    ip netns add "$ROOM_ID-snd" || return 1
    ip -n "$ROOM_ID-sw" link add br0 type bridge mcast_snooping 0 || return 1
    # The sender reaches the machines through the bridge; udpcast sends its control traffic to the
    # broadcast address, so every address gets one (brd +).
    room_plug "$ROOM_ID-snd" snd "$ROOM_SUBNET.1" || return 1
}

# room_plug NAMESPACE PORT ADDRESS [MAC]: eth0 in NAMESPACE (with MAC), cabled to port PORT of the
# bridge; without ADDRESS ('') the port stays down (room_port_up plugs it in).
room_plug() {
    local ns=$1 port=$2 address=$3 mac=${4:-}
    ip link add eth0 netns "$ns" mtu "${ROOM_MTU:-1500}" ${mac:+address "$mac"} type veth peer name "$port" \
        netns "$ROOM_ID-sw" mtu "${ROOM_MTU:-1500}" &&
        ip -n "$ROOM_ID-sw" link set "$port" master br0 &&
        ip -n "$ROOM_ID-sw" link set br0 up &&
        ip -n "$ns" link set lo up &&
        ip -n "$ns" link set eth0 up || return 1
    [ -z "$address" ] || room_port_up "$ns" "$port" "$address"
}

room_port_up() { # room_port_up NAMESPACE PORT ADDRESS
    ip -n "$1" addr add "$3/24" brd + dev eth0 && ip -n "$ROOM_ID-sw" link set "$2" up
}

room_connect() {
    local dir=$ROOM_DIR/$1
    printf '%s\n' "$2" >"$dir/address"
    room_port_up "$(cat "$dir/namespace")" "$(cat "$dir/port")" "$2"
}

# The template prefix: made once with the project's Wine wrapper, its server stopped so that its
# registry is on disk; machines copy it. A lock keeps parallel callers from making it twice.
room_template() {
    (
        flock 9
        if [ ! -f "$ROOM_TEMPLATE/.autodeploy-ready" ]; then
            AUTODEPLOY_WINEPREFIX=$ROOM_TEMPLATE "$room_repo/cmake/wine-run" cmd /c exit \
                >/dev/null 2>&1 </dev/null 9>&- || exit 1
        fi
        wine_stop "$ROOM_TEMPLATE"
    ) 9>"$ROOM_TEMPLATE.copy-lock"
}

# Copies the template: Wine's DLLs (system32, winsxs: 670 MB that nothing writes) as hard links,
# the rest (registry, ini files, which Wine rewrites in place) as files of the machine's own.
room_copy_prefix() {
    local from=$1 to=$2 file
    cp -al "$from" "$to" || return 1
    find "$to" \( -path "$to/drive_c/windows/system32" -o -path "$to/drive_c/windows/winsxs" \) -prune -o \
        -type f -links +1 -print0 | while IFS= read -r -d '' file; do
        cp -p -- "$file" "$file.own" && mv -f -- "$file.own" "$file"
    done
}

# room_step WHAT COMMAND...: runs COMMAND; when it fails, says what failed.
room_step() {
    "${@:2}" && return 0
    echo "room: $1 failed" >&2
    return 1
}

# shellcheck disable=SC2034 # ROOM_IMAGE_SHA is the caller's
room_sample_image() {
    winimage_sample_tree "$ROOM_DIR/tree" && head -c "$1" /dev/urandom >"$ROOM_DIR/tree/payload.bin" &&
        wimcapture "$ROOM_DIR/tree" "$ROOM_DIR/image.wim" "${2:-sample}" --compress=none >/dev/null &&
        ROOM_IMAGE_SHA=$(sha256sum <"$ROOM_DIR/image.wim" | cut -c1-64)
}

room_add_machine() {
    local name=$1 firmware=$2 mac=${3:-} address
    case $firmware in uefi | bios) ;; *) echo "room: firmware is uefi or bios" >&2; return 2 ;; esac
    local number=$((${#ROOM_MACHINES[@]} + 1))
    local ns="$ROOM_ID-m$number" dir="$ROOM_DIR/$name"
    local prefix="$dir/prefix"
    ROOM_MACHINES+=("$name")
    mkdir -p "$dir"
    printf '%s\n' "$ns" >"$dir/namespace"
    printf '%s\n' "$firmware" >"$dir/firmware"
    printf 'm%s\n' "$number" >"$dir/port"
    address=$ROOM_SUBNET.$((10 + number))
    if [ -n "$mac" ]; then printf '%s\n' "$mac" >"$dir/mac" && address=''; fi
    room_step "$name: its namespace" ip netns add "$ns" || return 1
    room_step "$name: its network" room_plug "$ns" "m$number" "$address" "$mac" || return 1
    room_step "the template prefix" room_template || return 1
    room_step "$name: copying the prefix" room_copy_prefix "$ROOM_TEMPLATE" "$prefix" || return 1
    room_step "$name: copying the program and the stand-ins" station_make "$prefix/drive_c/autodeploy" \
        "$ROOM_PROGRAM" "$ROOM_STANDIN" "${STATION_TOOLS[@]}" || return 1
    if [ -n "${ROOM_WATCH:-}" ]; then
        room_step "$name: its watch" cp -- "$ROOM_WATCH" "$prefix/drive_c/autodeploy/autodeploy-watch.exe" || return 1
        printf 'stall-seconds=%s\r\n' "${ROOM_STALL:-120}" >"$prefix/drive_c/autodeploy/autodeploy-watch.txt"
    fi
    # The machine's wineserver starts here, inside its namespace, and with it Wine's services
    # (outside any pipeline: a service would keep a pipe open).
    room_step "$name: starting its wineserver" wine_env "$prefix" ip netns exec "$ns" wineserver -p || return 1
    room_step "$name: starting Wine" wine_env "$prefix" ip netns exec "$ns" wine cmd /c exit \
        >/dev/null 2>&1 </dev/null || return 1
    room_step "$name: setting its firmware" station_set_firmware "$firmware" wine_env "$prefix" ip netns exec "$ns" wine
}

# Starts autodeploy.exe on the machine (through its watch, with ROOM_WATCH), with the stand-ins recording
# what they are asked.
room_boot() {
    local name=$1 dir="$ROOM_DIR/$1" run=('C:\autodeploy\autodeploy.exe')
    local ns prefix="$dir/prefix"
    # As the launch script runs it: the watch, told that the disk guard allowed (0).
    [ -z "${ROOM_WATCH:-}" ] || run=('C:\autodeploy\autodeploy-watch.exe' 0)
    ns=$(cat "$dir/namespace")
    rm -f "$dir/status" "$dir/ended" "$prefix/drive_c/journal.txt" "$prefix/drive_c/image.sha256"
    : >"$dir/console.txt"
    echo "$EPOCHREALTIME" >"$dir/started"
    (
        cd "$prefix/drive_c/autodeploy" || exit 1
        status=0
        # DIR/NAME/env: more of the stand-ins' settings for this machine, one NAME=VALUE a line.
        [ ! -f "$dir/env" ] || while IFS= read -r setting; do export "${setting?}"; done <"$dir/env"
        STANDIN_JOURNAL='C:\journal.txt' STANDIN_IMAGE_DIGEST='C:\image.sha256' \
            wine_env "$prefix" ip netns exec "$ns" wine "${run[@]}" \
            >>"$dir/console.txt" 2>&1 </dev/null || status=$?
        echo "$EPOCHREALTIME" >"$dir/ended"
        echo "$status" >"$dir/status"
    ) &
}

room_send() {
    timeout -s KILL "${ROOM_SEND_LIMIT:-0}" ip netns exec "$ROOM_ID-snd" "$room_repo/scripts/send-image" \
        --interface eth0 "$@"
}

# The furthest point the machine's console shows, as one word or two: booting, firmware,
# partitioning, waiting, "receiving N%" (N of BYTES, when given), applying, "boot files",
# "image removed", "restart requested".
room_stage() {
    tr '\r' '\n' <"$ROOM_DIR/$1/console.txt" | awk -v total="${2:-0}" '
        /^\[INFO\] 检测到 /                { stage = "firmware" }
        /^\[INFO\] 正在将磁盘格式化为 /    { stage = "partitioning" }
        /^\[INFO\] 等待网络发送 /          { stage = "waiting" }
        /^bytes= / { got = $0; sub(/^bytes= */, "", got); sub(/  .*/, "", got); gsub(/ /, "", got)
                     stage = total > 0 ? sprintf("receiving %d%%", 100 * got / total) : "receiving" }
        /^\[INFO\] system.wim 已接收/       { stage = "applying" }
        /^写入完成/                         { stage = "boot files" }
        /^(已删除临时镜像|未找到临时镜像)/  { stage = "image removed" }
        /^\[SUCCESS\] /                    { stage = "restart requested" }
        END { print stage == "" ? "booting" : stage }'
}

# room_state NAME [BYTES]: how far the machine has got, or how it ended; before autodeploy.exe
# starts, what the file NAME/stage says (when anything writes one).
room_state() {
    local status
    status=$(cat "$ROOM_DIR/$1/status" 2>/dev/null) || true
    case $status in
        '')
            if [ -e "$ROOM_DIR/$1/console.txt" ]; then
                room_stage "$1" "${2:-0}"
            else
                cat "$ROOM_DIR/$1/stage" 2>/dev/null || echo off
            fi ;;
        0) echo 'done' ;;
        -) cat "$ROOM_DIR/$1/stage" ;;
        *) echo "failed (exit status $status)" ;;
    esac
}

# room_watch SECONDS BYTES NAME...: on a terminal, one line per machine, redrawn until each has
# ended or SECONDS have passed (then says so); elsewhere the lines once, at the end.
room_watch() {
    local deadline=$(($(date +%s) + $1)) bytes=$2 first=1 name ended
    shift 2
    while :; do
        [ ${#ROOM_EACH[@]} = 0 ] || "${ROOM_EACH[@]}" "$@"
        if [ -t 1 ]; then
            [ $first = 1 ] || printf '\033[%dA' $#
            room_live "$bytes" "$@"
        fi
        first=0
        ended=1
        for name in "$@"; do [ -s "$ROOM_DIR/$name/status" ] || ended=0; done
        [ $ended = 0 ] || break
        if [ "$(date +%s)" -ge "$deadline" ]; then
            msg_say 'not every PC finished in time; stopping them'
            break
        fi
        sleep 0.5
    done
    [ -t 1 ] || room_live "$bytes" "$@"
}

room_live() { # room_live BYTES NAME...: with the MAC and IP of machines that have a MAC file
    local bytes=$1 name dir
    shift
    for name in "$@"; do
        dir=$ROOM_DIR/$name
        printf '  %s' "$name"
        [ ! -e "$dir/mac" ] ||
            printf '  %s  %-15s' "$(cat "$dir/mac")" "$(cat "$dir/address" 2>/dev/null || echo -)"
        printf '  %-4s  %-28s\n' "$(cat "$dir/firmware")" "$(room_state "$name" "$bytes")"
    done
}

# room_table SHA256 LOGS NAME...: a row per machine: firmware, last stage, exit status, whether
# its dism got the image whose SHA-256 is SHA256, the boot target, seconds; each machine's console
# and journal copied to LOGS/NAME. ROOM_FAILED: how many did not end with 0 and the image.
room_table() {
    local sent_sha=$1 logs=$2 name dir drive_c status got match seconds boot
    shift 2
    ROOM_FAILED=0
    printf '%-6s %-5s %-18s %-5s %-12s %-10s %s\n' machine firm. "last stage" exit "image" "boot files" seconds
    for name in "$@"; do
        dir=$ROOM_DIR/$name
        drive_c=$dir/prefix/drive_c
        status=$(cat "$dir/status" 2>/dev/null || echo -)
        got=$(tr -d '\r\n' <"$drive_c/image.sha256" 2>/dev/null || true)
        case $got in '') match="not applied" ;; "$sent_sha") match=byte-exact ;; *) match=DIFFERENT ;; esac
        seconds=$(awk -v a="$(cat "$dir/started" 2>/dev/null || true)" \
            -v b="$(cat "$dir/ended" 2>/dev/null || echo "$EPOCHREALTIME")" \
            'BEGIN { if (a == "") print "-"; else printf "%.1f", b - a }')
        boot=$(awk -F'\t' '$1 == "bcdboot" { print $4 " " $6 }' "$drive_c/journal.txt" 2>/dev/null | tr -d '\r')
        printf '%-6s %-5s %-18s %-5s %-12s %-10s %s\n' "$name" "$(cat "$dir/firmware")" "$(room_stage "$name")" \
            "$status" "$match" "${boot:--}" "$seconds"
        [ "$status" = 0 ] && [ "$match" = byte-exact ] || ROOM_FAILED=$((ROOM_FAILED + 1))
        mkdir -p "$logs/$name"
        cp "$dir/console.txt" "$logs/$name/" 2>/dev/null || true
        cp "$drive_c/journal.txt" "$logs/$name/" 2>/dev/null || true
    done
}

room_halt() {
    wine_stop "$ROOM_DIR/$1/prefix"
}

room_close() {
    local name ns
    [ -n "${ROOM_ID:-}" ] || return 0
    set +e  # everything here is attempted, whatever fails
    for name in "${ROOM_MACHINES[@]}"; do
        room_halt "$name"
    done
    for ns in $(ip netns list 2>/dev/null | awk -v id="$ROOM_ID-" 'index($1, id) == 1 { print $1 }'); do
        ip netns pids "$ns" 2>/dev/null | xargs -r kill -KILL 2>/dev/null
        ip netns delete "$ns" 2>/dev/null
    done
    wait 2>/dev/null
    rm -rf -- "$ROOM_DIR"
    ROOM_ID=
}
