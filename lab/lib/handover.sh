# shellcheck shell=bash
# handover.sh: simulated PCs of a room (room.sh) that first boot from the network as real PCs do:
# each is a QEMU PC (SeaBIOS with QEMU's iPXE ROM on an e1000, or OVMF's own PXE on a virtio-net;
# always -accel tcg) cabled to the room's bridge, until its boot manager (standin_boot.sh) prints
# its line on the serial port. Then the QEMU PC is switched off and the machine's Wine "WinPE"
# takes its place on the bridge, with the same MAC and the IP address the server gave the PC, and
# runs autodeploy.exe (room_boot; through its watch with ROOM_WATCH, which then gets its
# autodeploy-server.txt from the server, as wimboot would put it there). The server (serve-room) runs in the
# room's sender namespace; the address is the one the server's own neighbour table holds for that MAC.
#
#   handover_unavailable           why no QEMU PC can run here, in one line; nothing when one can
#   handover_add NAME uefi|bios    a room machine whose cable has the MAC 52:54:00:77:00:NN, unplugged; a
#                                  line "MAC NAME" for it in ROOM_DIR/room (the room list)
#   handover_site_dhcp             the site's DHCP server, an ordinary dnsmasq, beside the server
#   handover_serve LOG READY COMMAND...   COMMAND (the server) in the sender's namespace, output to LOG,
#                                  until LOG shows READY (120 s at most); stopped by room_close
#   handover_power_on NAME         its QEMU PC, powered on; serial console in DIR/NAME/serial.log
#   handover_step NAME...          hands over each PC whose boot manager has started; the others'
#                                  stage (DIR/NAME/stage) from the server's line for their MAC
#   handover_stop                  asks the server to stop (SIGTERM), as Ctrl-C would
#   handover_run_folder            the running server's folder under /run
#   handover_wait SECONDS          waits that long at most for the server to end by itself, then
#                                  stops it; returns its exit status
#   handover_times NAME...         per PC: seconds from power-on to its boot manager and to its end
#
# After room_open, before handover_serve. HANDOVER_OVMF: the UEFI firmware (Debian's ovmf).

handover_lib_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$handover_lib_dir/room.sh"
. "$handover_lib_dir/standin_boot.sh"
. "$handover_lib_dir/../../scripts/lib/server.sh"
HANDOVER_OVMF=${HANDOVER_OVMF:-/usr/share/OVMF/OVMF_CODE_4M.fd}
handover_server='' handover_log=''

handover_unavailable() {
    local why tool
    why=$(room_unavailable)
    [ -z "$why" ] || { echo "$why"; return; }
    [ -c /dev/net/tun ] || { echo "no /dev/net/tun, which QEMU's network cables need"; return; }
    for tool in qemu-system-x86_64 dnsmasq wimcapture genisoimage i686-w64-mingw32-gcc x86_64-w64-mingw32-gcc; do
        command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed (make deps)"; return; }
    done
    [ -r "$HANDOVER_OVMF" ] || echo "no UEFI firmware at $HANDOVER_OVMF (make deps installs ovmf)"
}

handover_add() {
    local mac
    mac=$(printf '52:54:00:77:00:%02x' $((${#ROOM_MACHINES[@]} + 1)))
    printf '%s  %s\n' "$mac" "$1" >>"$ROOM_DIR/room"
    room_add_machine "$1" "$2" "$mac"
}

handover_serve() {
    local log=$1 ready=$2 i
    shift 2
    cleanup_also handover_close
    handover_log=$log
    ip netns exec "$ROOM_ID-snd" "$@" >"$log" 2>&1 </dev/null &
    handover_server=$!
    for ((i = 0; i < 1200; i++)); do
        grep -a -q -- "$ready" "$log" && return 0
        kill -0 "$handover_server" 2>/dev/null || break
        sleep 0.1
    done
    echo "room: the server did not start: $(tail -n 3 "$log" | paste -s -d ' ')" >&2
    return 1
}

# Asks the server to stop as an operator would (so that it removes what it made), 20 s at most;
# its run folder (in its dnsmasq's command line) goes in any case.
handover_stop() {
    local run
    [ -n "$handover_server" ] || return 0
    run=$(handover_run_folder)
    kill -TERM "$handover_server" 2>/dev/null
    timeout 20 tail --pid="$handover_server" -f /dev/null 2>/dev/null
    [ -z "$run" ] || rm -rf -- "$run"
    handover_server=
}

# The server's run folder, as its dnsmasq was given it (other runs on this machine have their own).
handover_run_folder() {
    ip netns pids "$ROOM_ID-snd" 2>/dev/null | sed 's|.*|/proc/&/cmdline|' | xargs -r cat 2>/dev/null |
        tr '\0' '\n' | grep -m 1 -o '^/run/serve-[a-z]*\.[^/]*' || true
}

handover_wait() {
    local pid=$handover_server status=0
    [ -n "$pid" ] || return 1
    timeout "$1" tail --pid="$pid" -f /dev/null 2>/dev/null
    handover_stop
    wait "$pid" 2>/dev/null || status=$?
    return "$status"
}

# A plain DHCP server for the room (the site's: the server answers PXE beside it, in proxy mode)
# at .2 in a namespace of its own, leasing .100 to .199.
handover_site_dhcp() {
    ip netns add "$ROOM_ID-site" && room_plug "$ROOM_ID-site" site "$ROOM_SUBNET.2" || return 1
    ip netns exec "$ROOM_ID-site" dnsmasq -k --port=0 --interface=eth0 --bind-interfaces --pid-file= --log-facility=- \
        --dhcp-range="$ROOM_SUBNET.100,$ROOM_SUBNET.199,255.255.255.0" --dhcp-leasefile="$ROOM_DIR/site.leases" \
        2>"$ROOM_DIR/site.log" </dev/null &
    disown $! # room_close ends it (with its namespace), and the shell need not report that
}

handover_close() {
    handover_stop
    room_close
}

handover_power_on() {
    local dir=$ROOM_DIR/$1 tap
    tap=q$(cat "$dir/port")
    local qemu=(ip netns exec "$ROOM_ID-sw" qemu-system-x86_64 -accel tcg -m 512 -display none -nodefaults
        -serial "file:$dir/serial.log" -netdev "tap,id=n,ifname=$tap,script=no,downscript=no")
    ip -n "$ROOM_ID-sw" tuntap add "$tap" mode tap && ip -n "$ROOM_ID-sw" link set "$tap" master br0 up || return 1
    if [ "$(cat "$dir/firmware")" = bios ]; then
        # SeaBIOS (and the iPXE ROM, and wimboot) print on the serial port when etc/sercon-port says 0x3f8.
        printf '\xf8\x03' >"$dir/sercon"
        qemu+=(-machine pc -fw_cfg "name=etc/sercon-port,file=$dir/sercon"
            -device "e1000,netdev=n,mac=$(cat "$dir/mac")" -boot n)
    else
        cp /usr/share/OVMF/OVMF_VARS_4M.fd "$dir/vars.fd" || return 1
        qemu+=(-machine q35 -drive "if=pflash,format=raw,readonly=on,file=$HANDOVER_OVMF"
            -drive "if=pflash,format=raw,file=$dir/vars.fd"
            -device "virtio-net-pci,netdev=n,romfile=,mac=$(cat "$dir/mac")")
    fi
    "${qemu[@]}" >"$dir/qemu.log" 2>&1 </dev/null &
    echo $! >"$dir/qemu.pid"
    disown $!
    echo "$EPOCHREALTIME" >"$dir/powered"
    echo "powered on" >"$dir/stage"
}

handover_step() {
    local name dir line mac
    for name in "$@"; do
        dir=$ROOM_DIR/$name
        [ -s "$dir/qemu.pid" ] || continue
        mac=$(cat "$dir/mac")
        if [ "$(cat "$dir/firmware")" = bios ]; then line=$STANDIN_BOOT_LINE_BIOS; else line=$STANDIN_BOOT_LINE_UEFI; fi
        if grep -a -q -- "$line" "$dir/serial.log" 2>/dev/null; then
            echo "$EPOCHREALTIME" >"$dir/booted"
            handover_take "$name" || { echo "$HANDOVER_FAILED" >"$dir/stage" && echo - >"$dir/status"; }
            continue
        fi
        # The server's latest line for the PC: its cells two spaces or more apart, the stage last (it has spaces).
        line=$(awk -v mac="$mac" '$2 == mac' "$handover_log" 2>/dev/null | tail -n 1) || true
        [ -z "$line" ] || sed -E 's/^.*  +//' <<<"$line" >"$dir/stage"
    done
}

handover_take() {
    local dir=$ROOM_DIR/$1 pid address
    pid=$(cat "$dir/qemu.pid")
    : >"$dir/qemu.pid"
    kill "$pid" 2>/dev/null
    timeout 10 tail --pid="$pid" -f /dev/null 2>/dev/null
    ip -n "$ROOM_ID-sw" link delete "q$(cat "$dir/port")" 2>/dev/null
    address=$(ip -n "$ROOM_ID-snd" neigh show dev eth0 2>/dev/null |
        awk -v mac="$(cat "$dir/mac")" '$2 == "lladdr" && tolower($3) == mac { print $1; exit }')
    HANDOVER_FAILED="no address: the server never heard from $(cat "$dir/mac")"
    [ -n "$address" ] || return 1
    HANDOVER_FAILED="cannot plug it in with $address"
    room_connect "$1" "$address" || return 1
    # What wimboot puts into WinPE's System32 from iPXE's script: where the watch reports, and who it is.
    [ -z "${ROOM_WATCH:-}" ] || ip netns exec "$(cat "$dir/namespace")" curl -s -f -o \
        "$dir/prefix/drive_c/autodeploy/autodeploy-server.txt" \
        "http://$ROOM_SUBNET.1:$SERVER_HTTP_PORT/pc.txt?mac=$(cat "$dir/mac")" ||
        { HANDOVER_FAILED="its autodeploy-server.txt did not come"; return 1; }
    echo "handed over" >"$dir/stage"
    room_boot "$1"
}

handover_times() {
    local name dir
    for name in "$@"; do
        dir=$ROOM_DIR/$name
        awk -v n="$name" -v f="$(cat "$dir/firmware")" -v a="$(cat "$dir/powered" 2>/dev/null)" \
            -v b="$(cat "$dir/booted" 2>/dev/null)" -v e="$(cat "$dir/ended" 2>/dev/null)" 'BEGIN {
            if (a == "") { printf "  %s %s: never powered on\n", n, f; exit }
            printf "  %s %s: power-on to its boot manager %s, to the end of autodeploy %s\n", n, f,
                b == "" ? "-" : sprintf("%.0f s", b - a), e == "" ? "-" : sprintf("%.0f s", e - a) }'
    done
}
