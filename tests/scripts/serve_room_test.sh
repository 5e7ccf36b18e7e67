#!/bin/bash
# serve-room's and serve-pxe's refusals, before anything starts; a room run whole in a namespace with a stand-in
# udp-sender that records what it is given; a server killed outright, after which nothing of it answers a PC.
# Usage: serve_room_test.sh WIMBOOT_DIR
set -u -o pipefail
name=serve_room_test
. "$(dirname "$0")/test_lib.sh"
script=$(cd "$(dirname "$0")/../.." && pwd -P)/scripts/serve-room
pxe_script=${script%/*}/serve-pxe
export AUTODEPLOY_WIMBOOT_DIR=$1
pe_file "$in/autodeploy.exe" && echo text >"$in/notes.txt" && mkdir -p "$in/empty"
for t in dnsmasq 7zz wiminfo dhclient udp-sender etherwake; do command -v $t >/dev/null || { skip "$t is not installed (make deps)"; exit 77; }; done
[ -r "$1/wimboot.i386" ] || { skip "no wimboot in $1 (the build makes it)"; exit 77; }
refusals "$script" <<'EOF2'
2|--machines 2|missing WINDOWS_ISO_OR_FOLDER (see --help)
2|--min-receivers 2 "$in/empty" "$in/notes.txt"|unknown option: --min-receivers (see --help)
2|"$in/empty" "$in/notes.txt"|needs --room FILE (it counts the PCs to wait for), --machines N or --max-wait SECONDS, or the sending would never start
2|--machines 2 --any-pc --wake=52:54:00:12:34:56,door "$in/empty" "$in/notes.txt"|--wake needs MACs (52:54:00:12:34:56) separated by commas, or a file of them one a line; got 'door'
2|--machines 2 --wake 52:54:00:12:34:56 "$in/empty" "$in/notes.txt"|--wake takes its value after an equals sign (--wake=52:54:00:12:34:56), or none
EOF2
if nobody_reaches "$script"; then
    refusals setpriv --reuid=65534 --regid=65534 --clear-groups "$script" --max-wait 9 --any-pc <<'EOF2'
1|"$in/empty" "$in/notes.txt"|needs root (DHCP and TFTP ports, the user nobody for dnsmasq): run it with sudo
EOF2
    script=$pxe_script refusals setpriv --reuid=65534 --regid=65534 --clear-groups "$pxe_script" --any-pc <<'EOF2'
1|"$in/empty"|needs root (DHCP and TFTP ports, the user nobody for dnsmasq): run it with sudo
EOF2
fi
ns=adroom$$ pc=adroompc$$
ip netns add "$ns" 2>/dev/null || { skip "cannot create network namespaces (needs root)"; finish; exit 77; }
at_exit() { for n in "$ns" "$pc"; do ip netns pids "$n" | xargs -r kill -KILL; ip netns delete "$n"; done; }
{ ip netns add "$pc" && ip -n "$ns" link add room0 type veth peer name room1 netns "$pc" &&
    ip -n "$ns" addr add 10.98.0.1/24 brd + dev room0 && ip -n "$ns" link set room0 up && ip -n "$pc" link set room1 up &&
    ip -n "$ns" link add other0 type veth peer name other1 && ip -n "$ns" addr add 10.97.0.1/24 brd + dev other0 &&
    ip -n "$ns" link set other0 up && ip -n "$ns" link set other1 up; } || fail "setting up $ns"
refusals timeout 30 ip netns exec "$ns" "$script" --machines 2 --any-pc --program "$in/autodeploy.exe" --interface <<'EOF2'
1|nosuch "$in/empty" "$in/notes.txt"|no such network interface: nosuch; name the one that faces the PCs (see 'ip -br link')
1|room0 "$in/empty" "$in/notes.txt"|$in/empty has no sources/boot.wim: give a Windows installation ISO or its folder
EOF2
# serve-pxe's own: the range in the interface's subnet, its HTTP port free, a Windows program.
ip netns exec "$ns" python3 -m http.server --bind 10.98.0.1 8081 >/dev/null 2>&1 &
web=$! && { within 60 held "$ns" -t 8081 || fail "python3 did not listen on 8081"; }
script=$pxe_script refusals timeout 30 ip netns exec "$ns" "$pxe_script" --any-pc --interface room0 <<'EOF2'
1|--dhcp 10.97.0.10,10.97.0.20 "$in/empty"|the range 10.97.0.10-10.97.0.20 is not in the subnet 10.98.0.1/24 of the interface: give addresses of that subnet
1|--http-port 8081 "$in/empty"|TCP port 8081 (HTTP) on room0 is taken by python3 (pid $web): stop it first, or choose another port with --http-port
1|--program "$in/notes.txt" "$in/empty"|not a Windows program (no PE header): $in/notes.txt; give the 64-bit console build (make release: build/release/src/autodeploy.exe)
EOF2
kill "$web" && { wait "$web"; } 2>/dev/null

# A medium whose boot.wim is WinPE-shaped, an install WIM with what bcdboot reads, the program and its guard.
. "$(dirname "$0")/../../scripts/lib/winimage.sh" && mkdir -p "$tmp/pe/Windows/System32" "$in/medium/sources" "$tmp/bin" &&
    cp "$in/autodeploy.exe" "$in/autodeploy-guard.exe" && cp "$in/autodeploy.exe" "$in/autodeploy-watch.exe" &&
    winimage_sample_tree "$tmp/os" && wimcapture "$tmp/pe" "$in/medium/sources/boot.wim" PE --boot >/dev/null &&
    wimcapture "$tmp/os" "$in/install.wim" Pro >/dev/null || fail "fixtures"
# The stand-in: the first transfer gets one PC, sent when serve-room says so; later ones wait for PCs that never come.
cat >"$tmp/bin/udp-sender" <<EOS && chmod +x "$tmp/bin/udp-sender" || fail "the stand-in"
#!/bin/bash
echo "\$*" >>"$tmp/args"
[ ! -e "$tmp/joined" ] || exec sleep 600
: >"$tmp/joined"
printf 'New connection from 10.98.0.50  (#0) 00000009\n' >&2
read -r _
printf 'Starting transfer: 00000009\nTransfer complete.\nDisconnecting #0 (10.98.0.50)\n' >&2
EOS
assets=${script%/scripts/*}/assets && sed '/<ComputerName>/d; s/CHANGE-ME/Ad-2026/' "$assets/unattend.xml" >"$tmp/nameless.xml" &&
    printf '52:54:00:98:00:01 LAB-01\n' >"$in/room.txt" && printf '52:54:00:98:00:01 LAB-01\n52-54-00-98-00-01\n' >"$in/twice.txt" ||
    fail "room lists"
serve=(timeout 120 ip netns exec "$ns" env "PATH=$tmp/bin:$PATH" "$script" --interface room0 --program "$in/autodeploy.exe")
refusals "${serve[@]}" <<'EOF2'
2|--machines 1 "$in/medium" "$in/install.wim"|beside the site's DHCP server (--dhcp proxy) every PC of the network that boots from it would be wiped: name the room's PCs with --room FILE (serve-pxe --collect FILE writes it), or serve every PC of the segment on purpose with --any-pc
2|--room "$in/room.txt" --any-pc "$in/medium" "$in/install.wim"|--room and --any-pc do not go together: give one
2|--room "$in/twice.txt" "$in/medium" "$in/install.wim"|$in/twice.txt line 2: 52:54:00:98:00:01 is on line 1 already: each PC once
2|--room "$in/room.txt" --unattend "$in/notes.txt" "$in/medium"|the answer file $in/notes.txt is not well-formed XML (syntax error: line 1, column 0): mend it, or start again from assets/unattend.xml
2|--room "$in/room.txt" --unattend "$tmp/nameless.xml" "$in/medium"|the answer file $tmp/nameless.xml has no <ComputerName> to fill in (one, in the specialize pass's Microsoft-Windows-Shell-Setup): add <ComputerName>*</ComputerName> there
2|--room "$in/room.txt" --unattend "$assets/unattend.xml" "$in/medium"|the answer file $assets/unattend.xml still has the password CHANGE-ME: set your own (it crosses the room's network unencrypted; docs/autodeploy-serve-room.8.md says how to use one for the first logon only)
2|--any-pc --machines 1 --unattend "$tmp/nameless.xml" "$in/medium"|--unattend with --any-pc would give the answer file and its password to every host of the segment: name the room's PCs with --room FILE
2|--room "$in/room.txt" --pe-drivers "$in/empty" "$in/medium" "$in/install.wim"|--pe-drivers $in/empty: no .inf file in it: not a folder of drivers
2|--room "$in/room.txt" --again LAB-02 "$in/medium" "$in/install.wim"|--again needs MACs (52:54:00:12:34:56) or names of the room list separated by commas, all, or a file of them one a line; got 'LAB-02'
EOF2
# Refused after it made its work folder (an edition the image lacks): the folder goes again.
run "${serve[@]}" --room "$in/room.txt" --work-dir "$tmp/new/work" --edition Home "$in/medium" "$in/install.wim"
[ "$rc" = 1 ] && [ ! -e "$tmp/new" ] || fail "a refused edition: status $rc, or $tmp/new left: $(cat "$tmp/err")"
ok "refused after it made its work folder, it takes the folder away again"
# The stand-in's PC is the listed one, as the server's neighbour table says.
ip -n "$ns" neigh replace 10.98.0.50 lladdr 52:54:00:98:00:01 dev room0 nud permanent || fail "a neighbour entry"
mkdir -p "$in/drivers/net" "$in/files/Setup" && printf '[Manufacturer]\n%%M%% = M, NTamd64\n' >"$in/drivers/net/a.inf" &&
    echo 'echo one' >"$in/files/Setup/setup.cmd" || fail "drivers, files"
run "${serve[@]}" --room "$in/room.txt" --max-wait 600 --late-wait 1 --work-dir "$tmp/work" --pe-drivers "$in/drivers" \
    --drivers "$in/drivers" --add-files "$in/files" "$in/medium" "$in/install.wim"
[ "$rc" = 0 ] && [ "$(tail -n 1 "$tmp/out")" = "every PC that joined received the whole image: 1 of 1" ] &&
    grep -qxF 'serve-room: --pe-drivers: 1 driver package (1 .inf file) add 0.0 MB to the boot image before compression: every PC downloads it with WinPE' "$tmp/out" &&
    wimdir "$tmp/work/boot.wim" | grep -qx /Windows/System32/autodeploy-drivers/all/net/a.inf &&
    [ "$(sort -u "$tmp/args" | sed "s|^--file $(realpath "$tmp")/work/[^ ]*\.wim ||")" = \
        "--nopointopoint --retries-until-drop 70 --interface room0" ] &&
    [ "$(wimdir "$tmp"/work/image-copy.*.wim 1 | grep -c -x -e /autodeploy-drivers/all/net/a.inf -e /Setup/setup.cmd)" = 2 ] &&
    [ "$(wc -l <"$tmp/args")" = 2 ] && [ -z "$(ip netns pids "$ns")" ] &&
    [ -z "$(find /run -maxdepth 3 -path '/run/serve-room.*/http/boot.wim' -lname "$(realpath "$tmp")/work/boot.wim")" ] ||
    fail "a room of one: status $rc, udp-sender got [$(cat "$tmp/args")], or something of it is left"
ok "a room of one (the room list's): its two transfers with --retries-until-drop 70 and the interface; it ends by itself;" \
    "--pe-drivers in its boot image, --drivers and --add-files in the working copy it sends"

# The real udp-sender, a room list of two: an outsider's receiver (another MAC on the wire) joins first and starts
# nothing; the listed PC joins, sending starts after --max-wait; the outsider's copy does not count, LAB-02 is missed.
out=adroomout$$ && ip netns add "$out" && at_exit() { for n in "$ns" "$pc" "$out"; do ip netns pids "$n" | xargs -r kill -KILL; ip netns delete "$n"; done; }
ip -n "$ns" neigh del 10.98.0.50 dev room0 && ip -n "$pc" link set room1 address 52:54:00:98:00:01 &&
    ip -n "$pc" addr add 10.98.0.50/24 brd + dev room1 && ip -n "$pc" link add out0 link room1 type macvlan mode bridge &&
    ip -n "$pc" link set out0 netns "$out" && ip -n "$out" addr add 10.98.0.66/24 brd + dev out0 && ip -n "$out" link set out0 up &&
    printf '52:54:00:98:00:01 LAB-01\n52:54:00:98:00:02 LAB-02\n' >"$in/two.txt" || fail "the outsider's namespace"
receive() { ip netns exec "$1" timeout 60 udp-receiver --interface "$2" --file /dev/null --nokbd >/dev/null 2>&1 & }
"${serve[@]:0:6}" "${serve[@]:8}" --room "$in/two.txt" --max-wait 5 --late-wait 1 --work-dir "$tmp/work2" "$in/medium" \
    "$in/install.wim" >"$tmp/two.out" 2>&1 & server=$!
within 60 grep -q 'serving on room0' "$tmp/two.out" && receive "$out" out0 &&
    within 30 grep -q '10\.98\.0\.66 .*not in the room list: joined the multicast' "$tmp/two.out" && sleep 6 &&
    ! grep -q 'sending to' "$tmp/two.out" && receive "$pc" room1 && wait "$server"; rc=$?
[ "$rc" = 1 ] && grep -q '^1 of 1 PCs that joined received the whole image; not: LAB-02 (never asked the server)$' "$tmp/two.out" ||
    fail "an outsider and a listed PC: status $rc: $(cat "$tmp/two.out")"
ok "an outsider's receiver neither starts the sending nor counts; the listed PC that never came fails the room"

# serve-pxe on the same work folder: its PXE answers, a second server is told who holds the folder, and once
# killed outright (SIGKILL) nothing of it runs or answers; the next start clears what it left in /run.
probe() { ip netns exec "$pc" python3 "$(dirname "$0")/../roomserver/dhcp_probe.py" room1 "${1:-52:54:00:98:00:01}" "${@:2}"; }
# started OUTPUT PID: the server PID has said that it serves (not waited for once it has ended)
started() { within 120 eval "grep -s -q 'serving on room0' '$1' || ! kill -0 $2 2>/dev/null" && kill -0 "$2"; }
gone() { [ -z "$(ip netns pids "$ns")" ]; }
pxe=(ip netns exec "$ns" "$pxe_script" --interface room0 --program "$in/autodeploy.exe" --room "$in/room.txt"
    --work-dir "$tmp/work")
"${pxe[@]}" "$in/medium" >"$tmp/pxe.out" 2>&1 & server=$!
started "$tmp/pxe.out" $server && [ "$(probe)" = "answered by 10.98.0.1" ] && ! probe 52:54:00:98:00:02 &&
    ! wimdir "$tmp/work/boot.wim" | grep -q autodeploy-drivers ||
    fail "a PXE discover: the listed PC not answered, another one answered, or the boot image kept its drivers: $(cat "$tmp/pxe.out")"
ok "a PXE discover: the PC of the room list is answered, another is not; the boot image made anew without the drivers"
# A flood of 20,000 discovers from 1,000 made-up MACs: the work folder grows by a line in seen and one in the
# journal for each (200 kB at most), the run folder not at all.
size() { du -sb "$@" | awk '{ n += $1 } END { print n }'; }
settled() { local lines; lines=$(wc -l <"$tmp/work/journal") && sleep 1 && [ "$lines" = "$(wc -l <"$tmp/work/journal")" ]; }
run_folder=$(dirname "$(grep -l -x "$server" /run/serve-pxe.*/pid)") && before=$(size "$tmp/work" "$run_folder") &&
    probe 02:77:00:00:00:00 20000 && within 60 settled && grew=$(($(size "$tmp/work" "$run_folder") - before)) && [ "$grew" -lt 200000 ] ||
    fail "a flood of made-up MACs: from $before to $(size "$tmp/work" "$run_folder") bytes; $(wc -l "$tmp/work/"{journal,seen})"
ok "a flood of 20,000 PXE discovers from 1,000 made-up MACs: the work and run folders grew by $grew bytes, within their bound"
# shellcheck disable=SC2034 # read by the row
holder=$(cat "$tmp/work/lock") && script=$pxe_script && refusals timeout 30 ip netns exec "$ns" "$script" \
    --interface other0 --any-pc --program "$in/autodeploy.exe" <<'EOF2'
1|--work-dir "$tmp/work" "$in/medium"|$tmp/work is in use by $holder: one server per work folder; end that one first, or give this one another --work-dir
EOF2
# Its folder in /run, found while it runs (another server's start may clear it once it is killed).
left=$(grep -l -x "$server" /run/serve-pxe.*/pid) && left=${left%/pid} || fail "no folder in /run of the running server"
kill -KILL "$server" && { wait "$server"; } 2>/dev/null
within 10 gone && ! probe >/dev/null || fail "after SIGKILL: $(ip netns pids "$ns" | xargs -r ps -o args= -p)"
ok "killed outright: no process of the run is left and no PXE discover is answered"
# A file of its own: the killed run's says "serving" already, before this one's shell has emptied it.
"${pxe[@]}" "$in/medium" >"$tmp/again.out" 2>&1 &
started "$tmp/again.out" $! && kill -TERM $! && wait $! && [ ! -e "$left" ] || fail "started again: $(cat "$tmp/again.out"), or $left left"
ok "started again, it removes what the killed run left in /run"

mkdir -m 777 "$tmp/open" && mkdir -p "$tmp/linked" && ln -s /etc/passwd "$tmp/linked/served" || fail "mkdir"
refusals timeout 30 "${pxe[@]:0:11}" --work-dir <<'EOF2'
1|"$tmp/open" "$in/medium"|the work folder $tmp/open can be written by others (drwxrwxrwx): give one only root can write (--work-dir), or fix it
1|"$tmp/open/room" "$in/medium"|the work folder $tmp/open/room lies in $tmp/open, which can be written by others (drwxrwxrwx): another user could swap it; give a work folder elsewhere (--work-dir)
1|"$tmp/linked" "$in/medium"|$tmp/linked/served is a symbolic link: remove it (the server writes it anew), or give another --work-dir
EOF2
[ ! -e "$tmp/open/room" ] || fail "a refused work folder was made"
finish
