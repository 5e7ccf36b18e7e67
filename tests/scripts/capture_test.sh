#!/bin/bash
# capture's refusals before anything starts; then captures in namespaces with the real smbd it starts: the PC of
# the run (a namespace with its MAC) gets its server file and, as the capture program would, writes a WIM into the
# share with smbclient and reports; another host, a guest and a wrong password are refused; a damaged image, a
# Windows too big for the work folder and a server killed outright leave no OUTPUT.wim.
# Usage: capture_test.sh WIMBOOT_DIR
# shellcheck disable=SC2016,SC1003 # eval and sed get code in single quotes
set -u -o pipefail
name=capture_test
. "$(dirname "$0")/test_lib.sh"
script=$(cd "$(dirname "$0")/../.." && pwd -P)/scripts/capture
export AUTODEPLOY_WIMBOOT_DIR=$1
pe_file "$in/autodeploy.exe" && cp "$in/autodeploy.exe" "$in/autodeploy-capture.exe" && mkdir -p "$in/empty" "$in/out" "$in/capture" &&
    : >"$in/out/taken.wim" && printf '52:54:00:97:00:01 REF-01\n' >"$in/room.txt" || fail "fixtures"
refusals "$script" <<'EOF2'
2|--pc 52:54:00:97:00:01 "$in/empty"|needs WINDOWS_ISO_OR_FOLDER and OUTPUT.wim (see --help)
2|"$in/empty" "$in/out/ref.wim"|needs --pc MAC|NAME: the one PC to capture (see --help)
2|--any-pc --pc 52:54:00:97:00:01 "$in/empty" "$in/out/ref.wim"|unknown option: --any-pc (see --help)
2|--pc REF-01 "$in/empty" "$in/out/ref.wim"|--pc needs the MAC of the PC to capture (52:54:00:12:34:56), or its name with --room FILE; got 'REF-01'
2|--pc REF-02 --room "$in/room.txt" "$in/empty" "$in/out/ref.wim"|--pc needs the MAC of the PC to capture (52:54:00:12:34:56) or its name in $in/room.txt; got 'REF-02'
2|--pc 52:54:00:97:00:01 --name "$(printf %0101d 0)" "$in/empty" "$in/out/ref.wim"|--name needs printable ASCII without double quotes, 100 characters at most: got '$(printf %0101d 0)'
2|--pc 52:54:00:97:00:01 "$in/empty" "$in/out/ref.esd"|OUTPUT.wim must end in .wim: got '$in/out/ref.esd'
1|--pc 52:54:00:97:00:01 "$in/empty" "$in/out/taken.wim"|$in/out/taken.wim exists: give a new file name (a captured image never replaces a file)
1|--pc 52:54:00:97:00:01 "$in/empty" "$in/none/ref.wim"|no folder $in/none for $in/none/ref.wim: make it first
1|--pc 52:54:00:97:00:01 --work-dir "$in" "$in/empty" "$in/capture/ref.wim"|$in/capture/ref.wim lies in the share's folder, which each capture empties: give another folder
EOF2
for t in dnsmasq 7zz wiminfo smbd pdbedit smbclient curl; do command -v $t >/dev/null || { skip "$t is not installed (make deps)"; finish; exit 77; }; done
[ -r "$1/wimboot.i386" ] || { skip "no wimboot in $1 (the build makes it)"; finish; exit 77; }
ns=adcap$$ pc=adcappc$$ out=adcapout$$
ip netns add "$ns" 2>/dev/null || { skip "cannot create network namespaces (needs root)"; finish; exit 77; }
at_exit() { for n in "$ns" "$pc" "$out"; do ip netns pids "$n" 2>/dev/null | xargs -r kill -KILL; ip netns delete "$n" 2>/dev/null; done; }
{ ip netns add "$pc" && ip netns add "$out" && ip -n "$ns" link add cap0 type veth peer name cap1 netns "$pc" &&
    ip -n "$ns" addr add 10.96.0.1/24 brd + dev cap0 && ip -n "$ns" link set cap0 up && ip -n "$ns" link set lo up &&
    ip -n "$pc" link set cap1 address 52:54:00:97:00:01 && ip -n "$pc" addr add 10.96.0.50/24 brd + dev cap1 &&
    ip -n "$pc" link set cap1 up && ip -n "$pc" link add out0 link cap1 type macvlan mode bridge &&
    ip -n "$pc" link set out0 netns "$out" && ip -n "$out" link set out0 address 52:54:00:97:00:02 &&
    ip -n "$out" addr add 10.96.0.66/24 brd + dev out0 && ip -n "$out" link set out0 up; } || fail "setting up $ns"

# A medium whose boot.wim is WinPE-shaped; an image as dism would write it (with its integrity table).
mkdir -p "$tmp/pe/Windows/System32" "$in/medium/sources" "$tmp/os/Windows/System32" && echo os >"$tmp/os/Windows/win.ini" &&
    wimcapture "$tmp/pe" "$in/medium/sources/boot.wim" PE --boot >/dev/null &&
    wimcapture "$tmp/os" "$tmp/good.wim" Reference --check >/dev/null && head -c 3000000 /dev/urandom >>"$tmp/os/noise" &&
    wimcapture "$tmp/os" "$tmp/big.wim" Reference --check --compress=none >/dev/null &&
    cp "$tmp/big.wim" "$tmp/bad.wim" && printf 'XXXXXXXX' | dd of="$tmp/bad.wim" bs=1 seek=2000000 conv=notrunc status=none ||
    fail "the WIM fixtures"
base=http://10.96.0.1:8080
chmod 711 "$tmp" || fail "chmod" # smbd writes in the work folder as nobody
capture=(ip netns exec "$ns" "$script" --interface cap0 --program "$in/autodeploy.exe" --work-dir "$tmp/work" --room "$in/room.txt"
    --pc REF-01 "$in/medium")
# start OUTPUT: a capture in the background until it shares ($server); the PC's server file in $tmp/pc.txt.
start() {
    "${capture[@]}" "$1" >"$tmp/run.out" 2>&1 & server=$!
    within 120 eval "grep -q 'sharing' '$tmp/run.out' || ! kill -0 $server 2>/dev/null" && kill -0 $server &&
        ip netns exec "$pc" curl -sf -o "$tmp/pc.txt" "$base/pc.txt" || fail "the capture did not start: $(cat "$tmp/run.out")"
    share=$(sed -n 's/^capture=\(.*\)\\capture\.wim\r$/\1/p' "$tmp/pc.txt" | tr '\\' /)
    user=$(sed -n 's/^user=\(.*\)\r$/\1/p' "$tmp/pc.txt") password=$(sed -n 's/^password=\(.*\)\r$/\1/p' "$tmp/pc.txt")
}
report() { ip netns exec "$pc" curl -s -o /dev/null -w '%{http_code}' "$base/report?mac=52:54:00:97:00:01&stage=$1"; }
# put FILE: the PC writes FILE as the capture (smbclient's exit status).
put() { ip netns exec "$pc" smbclient "$share" -U "$user%$password" -m SMB3 -c "put $1 capture.wim" >/dev/null 2>&1; }
ended() { within 60 eval '! kill -0 $server 2>/dev/null' || kill -KILL "$server"; wait "$server"; rc=$?; }

start "$in/out/ref.wim"
[ "$(grep -c -e '^capture=\\\\10\.96\.0\.1\\capture\\capture\.wim' -e '^user=capture-[0-9a-f]\{8\}' -e '^password=.\{24\}' \
    -e '^name=REF-01' -e '^capture-name=Windows' "$tmp/pc.txt")" = 5 ] && ! grep -q not-generalized "$tmp/pc.txt" ||
    fail "the server file: $(cat "$tmp/pc.txt")"
ok "the PC of the run gets its server file: the share's file, a user and password of this run, its name"
for asker in "$out" "$ns"; do
    [ "$(ip netns exec "$asker" curl -s -o /dev/null -w '%{http_code}' "$base/pc.txt")" = 403 ] || fail "$asker got the server file"
done
[ "$(ip netns exec "$out" curl -s "$base/pc.ipxe?mac=52:54:00:97:00:02&platform=efi")" = \
    "$(printf '#!ipxe\necho autodeploy: this PC is not in the room list; booting from its disk\nexit')" ] ||
    fail "another PC's network boot was not sent to its disk"
ok "another host (another MAC, the server's own address) gets no server file; another PC's boot goes to its disk"
for who in -N "-U $user%wrong-password" "-U guest%"; do
    # shellcheck disable=SC2086 # the options as words
    ! ip netns exec "$pc" smbclient "$share" $who -m SMB3 -c ls >/dev/null 2>&1 || fail "the share let in: $who"
done
! ip netns exec "$pc" smbclient "$share" -U "$user%$password" -m NT1 --option='client min protocol=NT1' -c ls >/dev/null 2>&1 || fail "SMB1 was let in"
ok "the share refuses a guest, a wrong password and SMB1"
[ "$(report 'capture-found&bytes=1000')" = 200 ] && [ "$(report capturing)" = 200 ] && put "$tmp/good.wim" &&
    { report 'captured&bytes=9' >"$tmp/first" & report captured >"$tmp/second"; wait $!; } &&
    within 10 grep -qx 200 "$tmp/first" && [ "$(cat "$tmp/second")" = 200 ] && ended && ! grep -q '	failed	' "$tmp/work/journal" && [ "$rc" = 0 ] && cmp -s "$tmp/good.wim" "$in/out/ref.wim" &&
    [ "$(stat -c '%U %a' "$in/out/ref.wim")" = "root 644" ] && [ -z "$(ls -A "$tmp/work/capture")" ] &&
    grep -q "^capture: next: deploy it to the room with: serve-room --room FILE --unattend FILE $in/out/ref.wim$" "$tmp/run.out" &&
    [ -z "$(ip netns pids "$ns")" ] || fail "a capture: status $rc: $(cat "$tmp/run.out")"
ok "a capture: the WIM written through the share is OUTPUT.wim byte for byte, root's (captured said twice: one image);" \
    "the next command said; nothing left"

# failing ROW OUTPUT REPORTS...: a capture that must end 1 without OUTPUT (its line checked), after REPORTS and puts.
failing() {
    local why=$1 output=$2 step
    start "$output"
    for step in "${@:3}"; do
        case $step in put:*) put "${step#put:}" ;; *) report "$step" >"$tmp/status" ;; esac
    done
    ended
    [ "$rc" = 1 ] && [ ! -e "$output" ] && grep -q "$why" "$tmp/run.out" && [ -z "$(ls -A "$tmp/work/capture")" ] &&
        [ -z "$(ip netns pids "$ns")" ] || fail "[$why]: status $rc, or $output or the share's file left: $(cat "$tmp/run.out")"
}
failing "FAILED: its image: wimlib's check failed" "$in/out/bad.wim" 'capture-found&bytes=1000' capturing "put:$tmp/bad.wim" captured
ok "a damaged image: status 1, no OUTPUT.wim, the share emptied"
failing "FAILED: no room for its image" "$in/out/huge.wim" 'capture-found&bytes=999999999999999'
[ "$(cat "$tmp/status")" = 507 ] || fail "the PC was not told of the room lacking: $(cat "$tmp/status")"
ok "a Windows bigger than the work folder's free space: the PC is told (507) before dism starts; status 1"
start "$in/out/killed.wim"
report capturing >/dev/null && put "$tmp/big.wim" && kill -KILL "$server" && { wait "$server"; } 2>/dev/null
within 10 eval '[ -z "$(ip netns pids "$ns")" ]' && [ ! -e "$in/out/killed.wim" ] ||
    fail "killed outright: $(ip netns pids "$ns" | xargs -r ps -o args= -p) left, or OUTPUT.wim"
start "$in/out/again.wim"
[ -z "$(ls -A "$tmp/work/capture")" ] && kill -TERM "$server" && ended && [ "$rc" = 1 ] && [ ! -e "$in/out/again.wim" ] &&
    grep -q 'no image was captured' "$tmp/run.out" || fail "started again: the killed capture's file left, or: $(cat "$tmp/run.out")"
ok "killed outright: no smbd left, no OUTPUT.wim; the next start empties the share; TERM: 1, said, nothing written"
finish
