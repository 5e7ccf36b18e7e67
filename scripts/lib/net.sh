# shellcheck shell=bash
# net.sh: the network interface that faces the PCs, one check for every script. Needs iproute2.
#
#   net_interface_problem [IF]  why IF cannot face the PCs, in one line with the fix; nothing and
#                               status 0 when it can. Without IF (or an empty one): the interface
#                               udp-sender picks itself (net_udpsender_choice). It cannot when it is
#                               missing (an address given for a name: the interface holding it is
#                               named), the loopback, down, without link, without an IPv4 address,
#                               with a /31 or /32 one (no PC on its subnet) or without a broadcast
#                               address (udpcast sends its control traffic there; every PC would
#                               wait silently). Needs no multicast or default route: udp-sender
#                               sends its multicast out of the interface it is given.
#   net_check_interface [IF]    the same as a refusal: the line, exit status 2
#   net_udpsender_choice        the interface udp-sender (udpcast 20120424) sends on without
#                               --interface: $IFNAME if set, else the best of every IPv4 address
#                               by udpcast's own order (eth0/en0, then eth*/en*, then any other,
#                               127.0.0.1 and 0.0.0.0 last; a link first; then a broadcast address;
#                               the first of equals). Nothing when no interface has IPv4.

net_udpsender_choice() {
    if [ -n "${IFNAME:-}" ]; then
        printf '%s\n' "$IFNAME"
        return
    fi
    local links
    links=$(ip -o link show 2>/dev/null | awk -F': ' '$3 ~ /LOWER_UP/ { sub(/@.*/, "", $2); print $2 }' |
        paste -s -d ' ')
    ip -4 -o addr show 2>/dev/null | awk -v links=" $links " '{
        label = $NF; for (i = 1; i <= NF; i++) if ($i ~ /\\$/) { label = $i; sub(/\\$/, "", label); break }
        address = $4; sub(/\/.*/, "", address)
        if (address == "0.0.0.0") g = 1; else if (address == "127.0.0.1") g = 2
        else if (label == "eth0" || label == "en0") g = 6; else if (label ~ /^eth0:/) g = 5
        else if (label ~ /^(eth|en)/) g = 4; else g = 3
        if (index(links, " " $2 " ")) g += 3
        g = g * 2 + (/ brd / ? 1 : 0)
        if (g > best) { best = g; chosen = $2 }
    } END { if (chosen != "") print chosen }'
}

net_interface_problem() {
    local interface=${1:-} flags address cidr holder who fix=''
    local how="name the one that faces the PCs (see 'ip -br link')"
    who=$interface
    if [ -z "$interface" ]; then
        interface=$(net_udpsender_choice)
        [ -n "$interface" ] || {
            echo "no network interface has an IPv4 address: give the one that faces the PCs one" \
                "(ip addr add 10.0.0.1/24 brd + dev IF), then name it with --interface IF"
            return 1
        }
        who="$interface, which udp-sender picks without --interface,"
        fix=", or name the interface that faces the PCs with --interface"
        how="name the one that faces the PCs with --interface (see 'ip -br link')"
    fi
    case $interface in
        */* | . | ..) flags= ;;
        *) [ -e "/sys/class/net/$interface" ] && flags=$(ip -o link show dev "$interface" 2>/dev/null) ;;
    esac
    if [ -z "${flags:-}" ] && [[ $interface =~ ^[0-9]{1,3}(\.[0-9]{1,3}){3}$ ]]; then
        # An address where a name belongs: name the interface that holds it, if one does.
        holder=$(ip -4 -o addr show 2>/dev/null |
            awk -v a="$interface" '{ sub(/\/.*/, "", $4) } $4 == a { print $2; exit }')
        [ -z "$holder" ] || {
            echo "$interface is an address, not an interface: name the interface that holds it (--interface $holder)"
            return 1
        }
        echo "$interface is an address, and no interface here holds it; $how"
        return 1
    fi
    [ -n "${flags:-}" ] || { echo "no such network interface: $interface; $how"; return 1; }
    flags=$(printf '%s\n' "$flags" | sed -n 's/^[^<]*<\([^>]*\)>.*/,\1,/p')
    if [[ $flags == *,LOOPBACK,* ]]; then
        echo "$who is the loopback interface, which reaches no PC: $how"
        return 1
    fi
    local wait='; the PCs would wait silently'
    [[ $flags == *,UP,* ]] || { echo "$who is down: bring it up (ip link set $interface up)$fix$wait"; return 1; }
    [[ $flags != *,NO-CARRIER,* ]] ||
        { echo "$who has no link: plug in its cable or check the switch port$fix$wait"; return 1; }
    # udp-sender uses the first address.
    address=$(ip -4 -o addr show dev "$interface" 2>/dev/null | head -n 1)
    [ -n "$address" ] ||
        { echo "$who has no IPv4 address: add one with 'brd +' (ip addr add 10.0.0.1/24 brd + dev $interface)$fix$wait"
            return 1; }
    cidr=$(printf '%s\n' "$address" | sed -n 's/.* inet \([^ ]*\) .*/\1/p')
    case $cidr in
        */31 | */32)
            echo "$who has the address $cidr, whose subnet holds no PC and no broadcast address: give it the PCs' \
subnet (ip addr del $cidr dev $interface; ip addr add ${cidr%/*}/24 brd + dev $interface)$fix$wait"
            return 1
            ;;
    esac
    if [[ $address != *' brd '* ]]; then
        echo "$who has no IPv4 broadcast address: add the address again with 'brd +' \
(ip addr del $cidr dev $interface; ip addr add $cidr brd + dev $interface)$fix; udpcast sends its control \
traffic to the broadcast address and every PC would wait silently"
        return 1
    fi
}

net_check_interface() {
    local problem
    problem=$(net_interface_problem "${1:-}") || msg_die 2 "$problem"
}
