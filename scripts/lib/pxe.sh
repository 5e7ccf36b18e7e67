# shellcheck shell=bash
# pxe.sh: the network side of booting PCs from the network: the interface, the address range, the
# ports that must be free and the probe for another DHCP server (dnsmasq's configuration is the room
# server's). Source it from bash; it needs iproute2, and for pxe_dhcp_answer dhclient (Debian package
# isc-dhcp-client).
#
#   pxe_address IF                  IF's first IPv4 address with its prefix length (10.0.0.1/24)
#   pxe_range_problem RANGE CIDR    why FIRST,LAST is no range in the subnet CIDR; nothing when it is
#   pxe_port_holder udp|tcp PORT IF ADDRESS   who listens where that port on IF would clash; nothing when free
#   pxe_dhcp_answer IF SECONDS DIR  the address of a DHCP server that answers on IF within SECONDS

pxe_address() { ip -4 -o addr show dev "$1" 2>/dev/null | awk '{ print $4; exit }'; }

pxe_number() { # pxe_number A.B.C.D: the address as one number; fails for anything else
    local a b c d
    [[ $1 =~ ^[0-9]{1,3}(\.[0-9]{1,3}){3}$ ]] || return 1
    IFS=. read -r a b c d <<<"$1"
    ((10#$a < 256 && 10#$b < 256 && 10#$c < 256 && 10#$d < 256)) || return 1
    echo $(((10#$a << 24) + (10#$b << 16) + (10#$c << 8) + 10#$d))
}

pxe_range_problem() {
    local first=${1%%,*} last=${1#*,} address=${2%/*} bits=${2#*/} f l own mask
    local shape="--dhcp needs proxy or FIRST,LAST (two IPv4 addresses, e.g. 10.0.0.100,10.0.0.199), got '$1'"
    if ! { [[ $1 == *,* ]] && f=$(pxe_number "$first") && l=$(pxe_number "$last"); }; then
        echo "$shape"
        return
    fi
    own=$(pxe_number "$address")
    mask=$(((0xFFFFFFFF << (32 - bits)) & 0xFFFFFFFF))
    if (((f & mask) != (own & mask) || (l & mask) != (own & mask))); then
        echo "the range $first-$last is not in the subnet $2 of the interface: give addresses of that subnet"
    elif ((f > l)); then
        echo "the range $first-$last ends before it starts: give the lower address first"
    elif ((f <= own && own <= l)); then
        echo "the range $first-$last holds the interface's own address $address: give a range without it"
    fi
}

pxe_port_holder() {
    local protocol=$1 port=$2 interface=$3 address=$4 flag=-u
    [ "$protocol" = tcp ] && flag=-t
    # A socket clashes when it is bound to the port on IF's address or on every address (of every
    # interface, or of IF alone: 0.0.0.0%IF).
    ss -H -l -n -p "$flag" -4 2>/dev/null | awk -v port="$port" -v iface="$interface" -v address="$address" '{
        local = $4; n = split(local, part, ":"); if (part[n] != port) next
        host = substr(local, 1, length(local) - length(port) - 1); device = ""
        if (index(host, "%")) {
            device = substr(host, index(host, "%") + 1); host = substr(host, 1, index(host, "%") - 1)
        }
        if (host != address && host != "0.0.0.0" && host != "*") next
        if (device != "" && device != iface) next
        who = $0; sub(/.*users:\(\("/, "", who); name = who; sub(/".*/, "", name)
        pid = who; sub(/.*pid=/, "", pid); sub(/[^0-9].*/, "", pid)
        print (name == "" || name == $0 ? "another program" : name " (pid " pid ")"); exit }'
}

pxe_dhcp_answer() {
    local interface=$1 seconds=$2 dir=$3 pid i
    printf 'timeout %s;\ninitial-interval 1;\n' "$seconds" >"$dir/dhclient.conf"
    # A DISCOVER from this interface, as any PC sends; the script does nothing, so no address is
    # configured whatever answers.
    # dhclient itself is the background job (not under timeout), so that killing it ends it. Its log is made first:
    # the job may not yet have opened it when it is first read.
    : >"$dir/dhclient.log"
    dhclient -d -1 -v -cf "$dir/dhclient.conf" -lf "$dir/dhclient.leases" \
        -pf "$dir/dhclient.pid" -sf /bin/true "$interface" >"$dir/dhclient.log" 2>&1 &
    pid=$!
    for ((i = 0; i < seconds * 5; i++)); do
        grep -q '^DHCPOFFER of ' "$dir/dhclient.log" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    kill -TERM "$pid" 2>/dev/null
    for ((i = 0; i < 10; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    sed -n 's/^DHCPOFFER of [^ ]* from \([^ ]*\).*/\1/p' "$dir/dhclient.log" | head -n 1 | grep .
}
