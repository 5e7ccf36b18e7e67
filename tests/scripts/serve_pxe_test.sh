#!/bin/bash
# scripts/serve-pxe's refusals, each one line with the fix, before anything starts (no QEMU here;
# the boots are tests/pxe/pxe_test.sh). Usage: serve_pxe_test.sh WIMBOOT_DIR
set -u -o pipefail
name=serve_pxe_test
. "$(dirname "$0")/test_lib.sh"
script=$(cd "$(dirname "$0")/../.." && pwd -P)/scripts/serve-pxe
export AUTODEPLOY_WIMBOOT_DIR=$1
pe_file "$in/autodeploy.exe" && echo text >"$in/notes.txt" && mkdir -p "$in/empty"
for t in dnsmasq 7zz wiminfo dhclient; do command -v $t >/dev/null || { skip "$t is not installed (make deps)"; exit 77; }; done
[ -r "$1/wimboot.i386" ] || { skip "no wimboot in $1 (the build makes it)"; exit 77; }
if nobody_reaches "$script"; then
    refusals setpriv --reuid=65534 --regid=65534 --clear-groups "$script" --any-pc <<'EOF2'
1|"$in/empty"|needs root (DHCP and TFTP ports, the user nobody for dnsmasq): run it with sudo
EOF2
fi
ns=adpxe$$
ip netns add "$ns" 2>/dev/null || { skip "cannot create network namespaces (needs root)"; finish; exit 77; }
at_exit() { ip netns pids "$ns" | xargs -r kill -KILL; ip netns delete "$ns"; }
{ ip -n "$ns" link add pxe0 type veth peer name noaddr0 && ip -n "$ns" addr add 10.98.0.1/24 brd + dev pxe0 &&
    ip -n "$ns" link set pxe0 up && ip -n "$ns" link add down0 type veth peer name down1 &&
    ip -n "$ns" link set noaddr0 up; } ||
    fail "setting up $ns"
ip netns exec "$ns" python3 -m http.server --bind 10.98.0.1 8081 >/dev/null 2>&1 &
disown
for ((i = 0; i < 50; i++)); do ip netns exec "$ns" ss -H -l -t -n | grep -q ':8081 ' && break; sleep 0.1; done
refusals timeout 30 ip netns exec "$ns" "$script" --any-pc --interface <<'EOF2'
1|nosuch "$in/empty"|no such network interface: nosuch; name the one that faces the PCs (see 'ip -br link')
1|down0 "$in/empty"|down0 is down: bring it up (ip link set down0 up); the PCs would wait silently
1|noaddr0 "$in/empty"|noaddr0 has no IPv4 address: add one with 'brd +' (ip addr add 10.0.0.1/24 brd + dev noaddr0); the PCs would wait silently
1|pxe0 --dhcp 10.97.0.10,10.97.0.20 "$in/empty"|the range 10.97.0.10-10.97.0.20 is not in the subnet 10.98.0.1/24 of the interface: give addresses of that subnet
1|pxe0 --http-port 8081 --program "$in/autodeploy.exe" "$in/empty"|TCP port 8081 (HTTP) on pxe0 is taken by python3 (pid $(ip netns pids "$ns" | head -n 1)): stop it first, or choose another port with --http-port
1|pxe0 --program "$in/autodeploy.exe" --work-dir "$tmp/work" "$in/empty"|$in/empty has no sources/boot.wim: give a Windows installation ISO or its folder
1|pxe0 --program "$in/notes.txt" "$in/empty"|not a Windows program (no PE header): $in/notes.txt; give the 64-bit console build (make release: build/release/src/autodeploy.exe)
EOF2
finish
