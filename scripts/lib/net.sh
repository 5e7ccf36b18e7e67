# shellcheck shell=bash
# net.sh: the network interface that faces the PCs.
#
#   net_check_interface IF   refuses (exit 2) an interface on which every PC would wait silently:
#                            missing, down, without link, without an IPv4 address, or with one
#                            that has no broadcast address (udpcast sends its control traffic
#                            there). Needs no multicast or default route: udp-sender sends its
#                            multicast out of the interface it is given.

net_check_interface() {
    local interface=$1 flags address cidr
    local no_such="no such network interface: $interface; name the one that faces the PCs (see 'ip -br link')"
    case $interface in
        */* | . | ..) msg_die 2 "$no_such" ;;
    esac
    [ -e "/sys/class/net/$interface" ] || msg_die 2 "$no_such"
    command -v ip >/dev/null 2>&1 || return 0
    flags=$(ip -o link show dev "$interface" 2>/dev/null | sed -n 's/^[^<]*<\([^>]*\)>.*/,\1,/p')
    [[ $flags == *,UP,* ]] ||
        msg_die 2 "$interface is down: bring it up (ip link set $interface up); the PCs would wait silently"
    [[ $flags != *,NO-CARRIER,* ]] ||
        msg_die 2 "$interface has no link: plug in its cable or check the switch port; the PCs would wait silently"
    # udp-sender uses the first address.
    address=$(ip -4 -o addr show dev "$interface" 2>/dev/null | head -n 1)
    [ -n "$address" ] || msg_die 2 "$interface has no IPv4 address: add one with 'brd +' \
(ip addr add 10.0.0.1/24 brd + dev $interface); the PCs would wait silently"
    if [[ $address != *' brd '* ]]; then
        cidr=$(printf '%s\n' "$address" | sed -n 's/.* inet \([^ ]*\) .*/\1/p')
        msg_die 2 "$interface has no IPv4 broadcast address: add the address again with 'brd +' \
(ip addr del $cidr dev $interface; ip addr add $cidr brd + dev $interface); udpcast sends its control \
traffic to the broadcast address and every PC would wait silently"
    fi
}
