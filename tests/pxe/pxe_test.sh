#!/bin/bash
# Real PXE clients boot from scripts/serve-pxe: QEMU PCs (SeaBIOS with QEMU's iPXE ROM on e1000, OVMF's own PXE
# on virtio-net) on a private bridge beside "the site's" DHCP server (a plain dnsmasq); WinPE's boot managers are
# stand-ins that print a line on the serial port. Phases: 0 the room list (--collect; a PC not on it is left
# alone), 1 proxy DHCP, 3 a capture of one PC (scripts/capture), 2 a range; PXE_TEST_PHASES=1,2 runs only those (the others' results made without PCs).
# Usage: pxe_test.sh WIMBOOT_DIR        (exit 77: skipped, with the reason)
set -u -o pipefail
name=pxe_test
. "$(dirname "$0")/../scripts/test_lib.sh"
here=$(cd "$(dirname "$0")" && pwd -P)
serve=$(dirname "$(dirname "$here")")/scripts/serve-pxe
export AUTODEPLOY_WIMBOOT_DIR=$1
ovmf=/usr/share/OVMF/OVMF_CODE_4M.fd
lab=pxt$$-lab site=pxt$$-site

why=$(. "$here/../../lab/lib/room.sh" && room_unavailable)
[ -n "$why" ] || [ -c /dev/net/tun ] || why="no /dev/net/tun"
for t in qemu-system-x86_64 dnsmasq wimcapture genisoimage x86_64-w64-mingw32-gcc i686-w64-mingw32-gcc; do
    [ -n "$why" ] || command -v $t >/dev/null || why="$t is not installed (make deps)"
done
[ -n "$why" ] || [ -r "$ovmf" ] || why="no $ovmf (make deps installs ovmf)"
[ -z "$why" ] || { skip "$why"; exit 77; }

vms=() serve_pid='' site_pid='' powered_on=$EPOCHREALTIME
at_exit() {
    local p
    for p in "${vms[@]}" $serve_pid $site_pid; do kill "$p" 2>/dev/null; done
    for p in "${vms[@]}" $serve_pid $site_pid; do timeout 10 tail --pid="$p" -f /dev/null; done
    for p in $lab $site; do ip netns pids "$p" 2>/dev/null | xargs -r kill -KILL 2>/dev/null; ip netns delete "$p" 2>/dev/null; done
}

. "$here/../../lab/lib/standin_boot.sh"
{ standin_boot_medium "$tmp/standin" "$in/win.iso" && echo 'int main(void) { return 0; }' >"$tmp/p.c" &&
    x86_64-w64-mingw32-gcc -o "$tmp/autodeploy.exe" "$tmp/p.c" && for f in guard watch capture; do cp "$tmp/autodeploy.exe" "$tmp/autodeploy-$f.exe"; done; } ||
    fail "making the medium"
# The lab: bridge br0 (10.99.0.1, serve-pxe's side) with three taps and the site's DHCP server.
{ ip netns add $lab && ip netns add $site && ip -n $lab link add br0 type bridge && ip -n $lab link set br0 up &&
    ip -n $lab addr add 10.99.0.1/24 brd + dev br0 && ip -n $lab link set lo up &&
    ip link add eth0 netns $site type veth peer name site netns $lab && ip -n $lab link set site master br0 up &&
    ip -n $site addr add 10.99.0.2/24 brd + dev eth0 && ip -n $site link set eth0 up &&
    for t in tap0 tap1 tap2; do ip -n $lab tuntap add $t mode tap && ip -n $lab link set $t master br0 up || exit 1; done; } ||
    fail "setting up the namespaces"
ip netns exec $site dnsmasq -k --port=0 --interface=eth0 --bind-interfaces --pid-file= --log-facility=- \
    --dhcp-range=10.99.0.100,10.99.0.150,255.255.255.0 --dhcp-leasefile="$tmp/site.leases" 2>"$tmp/site.log" &
site_pid=$!
printf '\xf8\x03' >"$tmp/sercon" && cp /usr/share/OVMF/OVMF_VARS_4M.fd "$tmp/vars.fd"
bios_mac=52:54:00:9a:00:01 uefi_mac=52:54:00:9a:00:02 other_mac=52:54:00:9a:00:03
pcs=$bios_mac$'\n'$uefi_mac
qemu() { # qemu SERIAL-FILE ARGS...: a PC powered on now, its serial output in SERIAL-FILE
    ip netns exec "$lab" qemu-system-x86_64 -accel tcg -m 512 -display none -nodefaults -serial "file:$1" "${@:2}" 2>/dev/null &
    vms+=($!)
}
bios_pc() { # bios_pc FILE TAP MAC
    qemu "$1" -machine pc -fw_cfg name=etc/sercon-port,file="$tmp/sercon" \
        -netdev "tap,id=n,ifname=$2,script=no,downscript=no" -device "e1000,netdev=n,mac=$3" -boot n
}
boot_pcs() { # boot_pcs PHASE: both PCs, powered on now; serial output in $tmp/PHASE.{bios,uefi}
    bios_pc "$tmp/$1.bios" tap0 $bios_mac
    qemu "$tmp/$1.uefi" -machine q35 -drive if=pflash,format=raw,readonly=on,file=$ovmf -drive if=pflash,format=raw,file="$tmp/vars.fd" \
        -netdev tap,id=n,ifname=tap1,script=no,downscript=no -device virtio-net-pci,netdev=n,romfile=,mac=$uefi_mac
    powered_on=$EPOCHREALTIME
}
power_off() { for p in "${vms[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done; vms=(); }
# The firmware's last word on a network boot that failed (SeaBIOS halts for good, OVMF has nothing else to boot).
gave_up='^No bootable device\|failed to load Boot[0-9]* "UEFI PXEv4'
waited() { # waited SECONDS FILE PATTERN [GAVE-UP]: seconds from power-on until FILE shows PATTERN; fails after
    local i failed # SECONDS, or once FILE shows GAVE-UP without PATTERN before it
    for ((i = 0; i < $1 * 2; i++)); do
        failed=$([ -z "${4:-}" ] || grep -a -c -- "$4" "$2" 2>/dev/null)
        grep -a -q -- "$3" "$2" 2>/dev/null && { awk -v a="$EPOCHREALTIME" -v b="$powered_on" 'BEGIN { printf "%d\n", a - b }'; return; }
        [ "${failed:-0}" = 0 ] || return 1
        sleep 0.5
    done
    return 1
}
start_serve() { # start_serve ARGS...: serve-pxe in the lab, its output in $tmp/serve.out
    ip netns exec $lab "$serve" --interface br0 "$@" >"$tmp/serve.out" 2>&1 &
    serve_pid=$!
    powered_on=$EPOCHREALTIME
    waited 120 "$tmp/serve.out" "serving on br0\|collecting on br0" >/dev/null || fail "serve-pxe did not start: $(cat "$tmp/serve.out")"
    # This run's folder, as its dnsmasq was given it (other runs on this machine have their own).
    run_dir=$(ip netns pids "$lab" | sed 's|.*|/proc/&/cmdline|' | xargs -r cat 2>/dev/null | tr '\0' '\n' |
        grep -m 1 -o '^/run/serve-pxe\.[^/]*')
    [ -d "$run_dir" ] || fail "no /run/serve-pxe.* folder of this run"
}
stop_serve() { # with the PCs powered off first
    power_off
    kill -TERM "$serve_pid" && timeout 60 tail --pid="$serve_pid" -f /dev/null && wait "$serve_pid" ||
        fail "serve-pxe did not end with status 0 within 60 s of SIGTERM (status $?)"
    serve_pid=
    [ -z "$(ip netns pids $lab)" ] && [ ! -e "$run_dir" ] ||
        fail "serve-pxe left processes ($(ip netns pids $lab | paste -s -d ' ')) or $run_dir behind"
}
row() { grep -a "^$1 " "$tmp/serve.out" | tail -n 1; } # the latest line of the PC named $1
stand_ins() { # stand_ins PHASE: both PCs reach their stand-in boot manager
    local b u
    b=$(waited 240 "$tmp/$1.bios" "$STANDIN_BOOT_LINE_BIOS" "$gave_up") || fail "$1: the BIOS PC did not start bootmgr.exe"
    u=$(waited 240 "$tmp/$1.uefi" "$STANDIN_BOOT_LINE_UEFI" "$gave_up") || fail "$1: the UEFI PC did not start bootmgfw.efi"
    printf '%s: power-on to stand-in boot manager (QEMU TCG): BIOS %s s, UEFI %s s\n' "$1" "$b" "$u"
}

# --- 0. the room list, made by powering the room on once: nobody is answered ----------------------
phases=",${PXE_TEST_PHASES:-0,1,3,2},"
if [[ $phases == *,0,* ]]; then
    start_serve --collect "$in/room.txt"
    boot_pcs collect
    for mac in $bios_mac $uefi_mac; do
        waited 120 "$tmp/serve.out" "^serve-pxe: $mac (.*) asked for a network boot: written to $in/room.txt" \
            "$mac .* offered$" >/dev/null ||
            fail "--collect: $mac was not written down: $(cat "$tmp/serve.out")"
    done
    sleep 5 # the PCs ask again: each is written once
    [ "$(sort "$in/room.txt")" = "$pcs" ] && ! grep -a -q 'autodeploy' "$tmp/collect.bios" "$tmp/collect.uefi" || fail "--collect: $(cat "$in/room.txt")"
    stop_serve
    ok "--collect writes the MAC of each PC that boots from the network, once, and serves none"
else
    echo "$pcs" >"$in/room.txt"
fi
sed -i -e "s/^$bios_mac\$/& LAB-BIOS/" -e "s/^$uefi_mac\$/& LAB-UEFI/" "$in/room.txt"

# --- 1. proxy DHCP beside the site's server, the listed PCs only: WinPE once, then the disk ---------
if [[ $phases == *,1,* ]]; then
    start_serve --dhcp proxy --room "$in/room.txt" --program "$tmp/autodeploy.exe" --work-dir "$tmp/work" "$in/win.iso"
    boot_pcs first
    bios_pc "$tmp/first.other" tap2 $other_mac
    stand_ins first
    waited 60 "$tmp/serve.out" "^LAB-UEFI .*WinPE started" >/dev/null || fail "no 'WinPE started' line for the UEFI PC"
    [[ $(row LAB-BIOS) =~ ^LAB-BIOS\ +$bios_mac\ +10\.99\.0\.1[0-5][0-9]\ +BIOS\ +WinPE\ started ]] &&
        [[ $(row LAB-UEFI) =~ ^LAB-UEFI\ +$uefi_mac\ +10\.99\.0\.1[0-5][0-9]\ +UEFI\ +WinPE\ started ]] ||
        fail "the live lines: [$(row LAB-BIOS)] [$(row LAB-UEFI)]"
    [ "$(cat "$tmp/work/served")" = "$pcs" ] || fail "served list: $(cat "$tmp/work/served")"
    [[ $(row -) =~ ^-\ +$other_mac\ +-\ +BIOS\ +not\ in\ the\ room\ list:\ left\ alone$ ]] &&
        grep -q "^$other_mac  # BIOS, not in the room list" "$tmp/work/seen" && grep -q "	$other_mac	ignored	0$" "$tmp/work/journal" &&
        ! grep -a -q "autodeploy\|$STANDIN_BOOT_LINE_BIOS" "$tmp/first.other" || fail "the PC not in the room list: [$(row -)]"
    ok "a PC not in the room list: dnsmasq does not answer it (its log says ignored), no WinPE, shown once, written to seen"
    [ "$(wimdir "$tmp/work/boot.wim" 1 --path=/Windows/System32 | grep -c '/autodeploy\(-guard\|-watch\)\?\.exe$')" = 3 ] ||
        fail "the served boot.wim lacks the program, its guard or its watch: $(wimdir "$tmp/work/boot.wim" 1 --path=/Windows/System32)"
    ok "proxy DHCP: a BIOS and a UEFI PC boot WinPE's boot manager from boot.wim (with the program, its guard and its watch), \
addresses from the site's DHCP"
    power_off
    boot_pcs again
    for f in bios uefi; do
        waited 240 "$tmp/again.$f" "booting from its disk" "$gave_up" >/dev/null || fail "the $f PC was not sent to its disk"
    done
    waited 60 "$tmp/serve.out" "^LAB-UEFI .*sent to its disk" >/dev/null && [[ $(row LAB-BIOS) == *"sent to its disk" ]] ||
        fail "the live lines: [$(row LAB-BIOS)] [$(row LAB-UEFI)]"
    ! grep -a -q "stand-in" "$tmp/again.bios" "$tmp/again.uefi" || fail "a served PC got WinPE again"
    ok "the same PCs booting again are sent to their disk (iPXE exit)"
    stop_serve
    grep -a -q "^serve-pxe: summary" "$tmp/serve.out" && [[ $(grep -a -c "sent to its disk" "$tmp/serve.out") -ge 4 ]] ||
        fail "no summary at the stop"
    ok "SIGTERM: a summary, status 0, no process or run folder left"
elif [[ $phases == *,2,* ]]; then # the boot image phase 1 would have prepared
    start_serve --dhcp proxy --room "$in/room.txt" --program "$tmp/autodeploy.exe" --work-dir "$tmp/work" "$in/win.iso"
    stop_serve
fi

# --- 3. a capture: the one PC named boots the capture boot image, another PC of the segment nothing --
if [[ $phases == *,3,* ]]; then
    chmod 711 "$tmp" # smbd writes in the work folder as nobody
    ip netns exec $lab "${serve%/*}/capture" --interface br0 --program "$tmp/autodeploy.exe" --work-dir "$tmp/work" \
        --room "$in/room.txt" --pc LAB-BIOS "$in/win.iso" "$tmp/ref.wim" >"$tmp/serve.out" 2>&1 &
    serve_pid=$!
    waited 120 "$tmp/serve.out" "sharing" >/dev/null || fail "capture did not start: $(cat "$tmp/serve.out")"
    bios_pc "$tmp/capture.bios" tap0 $bios_mac
    bios_pc "$tmp/capture.other" tap2 $uefi_mac # a PC of the room list, but not the one to capture
    b=$(waited 240 "$tmp/capture.bios" "$STANDIN_BOOT_LINE_BIOS" "$gave_up") || fail "capture: the PC did not start bootmgr.exe"
    waited 60 "$tmp/serve.out" "^LAB-BIOS .*WinPE started" >/dev/null && ! grep -a -q "autodeploy\|$STANDIN_BOOT_LINE_BIOS" \
        "$tmp/capture.other" && grep -q "	$uefi_mac	ignored	" "$tmp/work/journal" ||
        fail "capture: [$(row LAB-BIOS)], or the other PC got something: $(cat "$tmp/serve.out")"
    wimdir "$tmp/work/capture-boot.wim" 1 --path=/Windows/System32 >"$tmp/capture.files" &&
        grep -q '/autodeploy-capture\.exe$' "$tmp/capture.files" && ! grep -q '/autodeploy\(-guard\|-watch\)\?\.exe$' "$tmp/capture.files" ||
        fail "the capture boot image: $(grep autodeploy "$tmp/capture.files")"
    power_off
    kill -TERM "$serve_pid" && timeout 60 tail --pid="$serve_pid" -f /dev/null
    wait "$serve_pid"
    rc=$? serve_pid=
    [ "$rc" = 1 ] && [ ! -e "$tmp/ref.wim" ] && [ -z "$(ip netns pids $lab)" ] || fail "capture: TERM: status $rc, or left running"
    ok "capture: the PC named boots the capture boot image (no autodeploy, guard or watch in it) in $b s; the other PC" \
        "asked and was left alone; TERM: status 1, no image, nothing left"
fi

# --- 2. a range of our own: refused beside the site's DHCP; then, alone, WinPE again after --again ---
if [[ $phases == *,2,* ]]; then
    # Until it ends, or serves (then it did not refuse).
    ip netns exec $lab "$serve" --interface br0 --program "$tmp/autodeploy.exe" --work-dir "$tmp/work" \
        --dhcp 10.99.0.200,10.99.0.220 "$in/win.iso" >"$tmp/out" 2>"$tmp/err" </dev/null &
    serve_pid=$!
    within 120 eval "! kill -0 $serve_pid 2>/dev/null || grep -q 'serving on br0' '$tmp/out'"
    kill $serve_pid 2>/dev/null
    wait $serve_pid
    rc=$? serve_pid=
    [ "$rc" = 1 ] && [ "$(cat "$tmp/err")" = "serve-pxe: a DHCP server (10.99.0.2) answers on br0: use --dhcp proxy beside it, or stop it first (two DHCP servers break a network)" ] ||
        fail "a range beside the site's DHCP: status $rc"
    ok "--dhcp FIRST,LAST is refused where the site's DHCP answers"
    kill "$site_pid" && wait "$site_pid"
    site_pid=
    start_serve --dhcp 10.99.0.200,10.99.0.220 --room "$in/room.txt" --again LAB-BIOS,lab-uefi \
        --program "$tmp/autodeploy.exe" --work-dir "$tmp/work" "$in/win.iso"
    grep -q "is up to date" "$tmp/serve.out" || fail "the boot image was prepared again"
    boot_pcs range
    stand_ins range
    waited 60 "$tmp/serve.out" "^LAB-UEFI .*WinPE started" >/dev/null || fail "no 'WinPE started' line for the UEFI PC"
    [[ $(row LAB-BIOS) =~ ^LAB-BIOS\ +$bios_mac\ +10\.99\.0\.2[0-2][0-9]\ +BIOS\ +WinPE ]] &&
        [[ $(row LAB-UEFI) =~ ^LAB-UEFI\ +$uefi_mac\ +10\.99\.0\.2[0-2][0-9]\ +UEFI\ +WinPE ]] ||
        fail "the live lines: [$(row LAB-BIOS)] [$(row LAB-UEFI)]"
    ok "--dhcp FIRST,LAST alone on the network, after --again by name: both PCs get WinPE again, addresses from the range"
    stop_serve
fi
finish
