#!/bin/bash
# scripts/serve-room's refusals, each one line with the fix, before anything starts (the room
# itself is not run here). Usage: serve_room_test.sh WIMBOOT_DIR
set -u -o pipefail
name=serve_room_test
. "$(dirname "$0")/test_lib.sh"
script=$(cd "$(dirname "$0")/../.." && pwd -P)/scripts/serve-room
export AUTODEPLOY_WIMBOOT_DIR=$1
pe_file "$in/autodeploy.exe" && echo text >"$in/notes.txt" && mkdir -p "$in/empty"
for t in dnsmasq 7zz wiminfo udp-sender etherwake; do command -v $t >/dev/null || { skip "$t is not installed (make deps)"; exit 77; }; done
[ -r "$1/wimboot.i386" ] || { skip "no wimboot in $1 (the build makes it)"; exit 77; }
refusals "$script" <<'EOF2'
2|"$in/empty"|missing WINDOWS_ISO_OR_FOLDER or INSTALL.WIM (see --help)
2|--min-receivers 2 "$in/empty" "$in/notes.txt"|unknown option: --min-receivers (see --help)
2|"$in/empty" "$in/notes.txt"|needs --machines N and/or --max-wait SECONDS, or the sending would never start
2|--machines 2 --wake 52:54:00:12:34:56,door "$in/empty" "$in/notes.txt"|--wake needs MACs (52:54:00:12:34:56) separated by commas, or a file of them one a line; got 'door'
EOF2
if nobody_reaches "$script"; then
    refusals setpriv --reuid=65534 --regid=65534 --clear-groups "$script" --max-wait 9 <<'EOF2'
1|"$in/empty" "$in/notes.txt"|needs root (DHCP and TFTP ports, the user nobody for dnsmasq): run it with sudo
EOF2
fi
ns=adroom$$
ip netns add "$ns" 2>/dev/null || { skip "cannot create network namespaces (needs root)"; finish; exit 77; }
at_exit() { ip netns pids "$ns" | xargs -r kill -KILL; ip netns delete "$ns"; }
{ ip -n "$ns" link add room0 type veth peer name room1 && ip -n "$ns" addr add 10.98.0.1/24 brd + dev room0 &&
    ip -n "$ns" link set room0 up && ip -n "$ns" link set room1 up; } || fail "setting up $ns"
refusals timeout 30 ip netns exec "$ns" "$script" --machines 2 --program "$in/autodeploy.exe" --interface <<'EOF2'
1|nosuch "$in/empty" "$in/notes.txt"|no such network interface: nosuch; name the one that faces the PCs (see 'ip -br link')
1|room0 "$in/empty" "$in/notes.txt"|not a WIM file: $in/notes.txt
EOF2
finish
