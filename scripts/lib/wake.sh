# shellcheck shell=bash
# wake.sh: Wake-on-LAN for the room's PCs with Debian's etherwake, which sends its magic packet
# as a raw Ethernet frame (type 0x0842) on the one interface named: nothing goes out elsewhere,
# whatever the routes say, and no IP address is needed. The frame goes to the broadcast address
# (-b), so that a switch that has forgotten a sleeping PC's port floods it to every port. Needs
# root. Source it from bash.
#
#   wake_list OPTION GIVEN MAC[,MAC...] or a FILE with one MAC a line (blank lines and # comments
#                         aside; the list of PCs served is one): the MACs, lower case with colons,
#                         one a line; fails with one line naming the entry that is no MAC
#   wake_send IF MAC...   a magic packet to each MAC, on IF only; fails when etherwake does

wake_list() {
    local option=$1 given=$2 entries entry mac macs=()
    if [ -f "$given" ]; then
        entries=$(sed -e 's/#.*//' -e 's/[[:space:]]//g' -e '/^$/d' -- "$given") ||
            { echo "cannot read $given"; return 1; }
    else
        entries=$(printf '%s\n' "${given//,/$'\n'}")
    fi
    for entry in $entries; do
        mac=${entry,,}
        mac=${mac//-/:}
        [[ $mac =~ ^[0-9a-f]{2}(:[0-9a-f]{2}){5}$ ]] ||
            { echo "$option needs MACs (52:54:00:12:34:56) separated by commas, or a file of them one a line; got '$entry'"; return 1; }
        macs+=("$mac")
    done
    printf '%s\n' "${macs[@]}"
}

wake_send() {
    local interface=$1 mac
    shift
    for mac in "$@"; do etherwake -b -i "$interface" "$mac" || return 1; done
}
