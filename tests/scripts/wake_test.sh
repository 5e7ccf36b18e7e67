#!/bin/bash
# The room server's magic packets as captured on a private bridge: for the MACs asked, on the interface
# asked only (the wake list itself: room_test.py).
set -u -o pipefail
name=wake_test
. "$(dirname "$0")/test_lib.sh"
PYTHONPATH=$(cd "$(dirname "$0")/../.." && pwd -P) && export PYTHONPATH
needs etherwake tcpdump
ns=adwake$$
ip netns add "$ns" 2>/dev/null || { skip "cannot create network namespaces (needs root)"; finish; exit 77; }
at_exit() { ip netns pids "$ns" | xargs -r kill -KILL; ip netns delete "$ns"; }
for pair in room:br0 other:br1; do
    ip -n "$ns" link add "${pair%:*}0" type veth peer name "${pair%:*}1" && ip -n "$ns" link add "${pair#*:}" type bridge &&
        ip -n "$ns" link set "${pair%:*}1" master "${pair#*:}" && ip -n "$ns" link set "${pair%:*}0" up &&
        ip -n "$ns" link set "${pair%:*}1" up && ip -n "$ns" link set "${pair#*:}" up || fail "setting up $ns"
    ip netns exec "$ns" tcpdump -i "${pair#*:}" -U -w "$tmp/${pair#*:}.pcap" ether proto 0x0842 2>"$tmp/${pair#*:}.err" &
done
# Each frame as hex: to everyone, from room0, type 0842, six times ff, sixteen times the MAC.
frames() { tcpdump -r "$1" -xx -n 2>/dev/null | awk '/^[^\t]/ { if (f) print f; f = "" } /^\t/ { $1 = ""; gsub(/ /, ""); f = f $0 } END { if (f) print f }'; }
own=$(ip netns exec "$ns" cat /sys/class/net/room0/address | tr -d :)
magic() { printf 'ffffffffffff%s0842ffffffffffff' "$own"; for ((i = 0; i < 16; i++)); do printf '%s' "${1//:/}"; done; echo; }
listening() { [ "$(grep -ls 'listening on' "$tmp"/br?.err | wc -l)" = 2 ]; }
within 60 listening || fail "tcpdump did not start"
ip netns exec "$ns" python3 -c 'import sys; from roomserver.children import wake_on_lan
sys.exit(not all(wake_on_lan("room0", mac) for mac in sys.argv[1:]))' 52:54:00:aa:00:01 52:54:00:aa:00:02 || fail "wake_on_lan"
# Then a last frame on each interface: once it is captured, so is everything sent there before it.
last=525400eeeeee525400eeeeee
captured() { frames "$tmp/br0.pcap" | grep -q $last && frames "$tmp/br1.pcap" | grep -q $last; }
for i in room0 other0; do ip netns exec "$ns" etherwake -b -i $i 52:54:00:ee:ee:ee || fail "etherwake"; done
within 60 captured || fail "the last frames were not captured"
ip netns pids "$ns" | xargs -r kill -INT
wait
[ "$(frames "$tmp/br0.pcap" | grep -v $last)" = "$(magic 52:54:00:aa:00:01; magic 52:54:00:aa:00:02)" ] ||
    fail "the frames on the room's bridge: $(frames "$tmp/br0.pcap")"
! frames "$tmp/br1.pcap" | grep -q -v $last || fail "frames on another interface: $(frames "$tmp/br1.pcap")"
ok "one well-formed magic packet for each MAC on the room's interface, nothing on another interface"
finish
