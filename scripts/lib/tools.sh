# shellcheck shell=bash
# tools.sh: the programs the scripts run, and the Debian package of each.
#
#   tools_need TOOL...     each TOOL is on PATH, or one line naming its package and exit 1

tools_package() {
    case $1 in
        wim*) echo wimtools ;;
        udp-sender | udp-receiver) echo udpcast ;;
        ip) echo iproute2 ;;
        7zz) echo 7zip ;;
        wine | wineserver) echo wine ;;
        *) echo "$1" ;;
    esac
}

tools_need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 ||
            msg_die 1 "$tool not found (install Debian's $(tools_package "$tool") package)"
    done
}
