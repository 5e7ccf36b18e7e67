# shellcheck shell=bash
# netboot.sh: booting the PCs of a room from the network into WinPE, once per PC, in the steps
# that serve-pxe runs and that a script serving more at once (the multicast too) runs the same way.
# Source it from bash after msg.sh (each line is led by MSG_NAME) and cleanup.sh; run it as root.
# AUTODEPLOY_WIMBOOT_DIR and AUTODEPLOY_IPXE_DIR name other wimboot and iPXE folders (tests).
#
# A caller, in this order (each step refuses with one line and exit 1, 2 for a usage error):
#   netboot_need_tools                   the Debian tools, iPXE's loaders and the built wimboot
#   netboot_only_interface               prints the only interface with IPv4, when none was named
#   netboot_check_network IF DHCP PORT   IF faces the PCs, the range (proxy or FIRST,LAST) lies in its
#                                        subnet, the ports are free; sets NETBOOT_CIDR, NETBOOT_ADDRESS
#   netboot_check_program PROGRAM        a Windows x64 program (NETBOOT_PROGRAM: the release build)
#   netboot_check_source SOURCE          an ISO file or a folder
#   cleanup_on_exit and cleanup_also netboot_stop (or a function of the caller's that calls it)
#   netboot_no_dhcp_server IF            for a range: no other DHCP server answers on IF
#   netboot_prepare SOURCE PROGRAM WORK_DIR   WORK_DIR/boot.wim, made again only when out of date
#   netboot_forget WORK_DIR MAC...|all   these PCs boot WinPE once more
#   netboot_start IF DHCP PORT WORK_DIR  dnsmasq and the HTTP service, until netboot_stop; every
#                                        step of every PC is appended to NETBOOT_RUN/events
#                                        (TIME MAC KIND VALUE, tab-separated: see pxe_state.py)
#   netboot_view                         the live view of those events, until a signal ends the caller
#                                        (or the caller follows NETBOOT_RUN/events itself)
#   netboot_stop                         ends the servers, prints the summary (not when NETBOOT_SUMMARY
#                                        is set empty: a caller with a summary of its own), removes the run's files

# shellcheck source-path=SCRIPTDIR source=media.sh
. "$(dirname "${BASH_SOURCE[0]}")/media.sh"
# shellcheck source-path=SCRIPTDIR source=pe.sh
. "$(dirname "${BASH_SOURCE[0]}")/pe.sh"
# shellcheck source-path=SCRIPTDIR source=pxe.sh
. "$(dirname "${BASH_SOURCE[0]}")/pxe.sh"
# shellcheck source-path=SCRIPTDIR source=net.sh
. "$(dirname "${BASH_SOURCE[0]}")/net.sh"

NETBOOT_SCRIPTS=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
NETBOOT_PROGRAM=$(dirname "$NETBOOT_SCRIPTS")/build/release/src/autodeploy.exe
NETBOOT_WIMBOOT=$(realpath -m -- "${AUTODEPLOY_WIMBOOT_DIR:-$(dirname "$NETBOOT_SCRIPTS")/build/release/wimboot}")
NETBOOT_IPXE=${AUTODEPLOY_IPXE_DIR:-/usr/lib/ipxe}
NETBOOT_SERVICE=$NETBOOT_SCRIPTS/lib/pxe_service.py
NETBOOT_RUN=
NETBOOT_PENDING=
NETBOOT_PIDS=()
NETBOOT_VIEW_PID=

netboot_need_tools() {
    local pair
    for pair in dnsmasq:dnsmasq-base 7zz:7zip wiminfo:wimtools wimexport:wimtools python3:python3 \
        dhclient:isc-dhcp-client ip:iproute2 ss:iproute2 sha256sum:coreutils; do
        command -v "${pair%%:*}" >/dev/null 2>&1 ||
            msg_die 1 "${pair%%:*} not found: install Debian's ${pair#*:} package (make deps)"
    done
    for pair in undionly.kpxe snponly.efi; do
        [ -r "$NETBOOT_IPXE/$pair" ] || msg_die 1 "no $NETBOOT_IPXE/$pair: install Debian's ipxe package (make deps)"
    done
    for pair in wimboot.i386 wimboot.x86_64.efi; do
        [ -r "$NETBOOT_WIMBOOT/$pair" ] ||
            msg_die 1 "no wimboot at $NETBOOT_WIMBOOT/$pair: run 'make release' first (it builds wimboot)"
    done
}

netboot_only_interface() {
    local names
    names=$(ip -4 -o addr show 2>/dev/null | awk '$2 != "lo" { print $2 }' | sort -u)
    [ -n "$names" ] || msg_die 1 "no network interface has an IPv4 address: give the one that faces the PCs an address, then --interface IF"
    [ "$(printf '%s\n' "$names" | wc -l)" = 1 ] ||
        msg_die 2 "more than one interface has IPv4 ($(printf '%s\n' "$names" | paste -s -d ' ')): name the one that faces the PCs with --interface"
    printf '%s\n' "$names"
}

netboot_check_network() {
    local interface=$1 dhcp=$2 http_port=$3 problem holder entry protocol port what
    problem=$(net_interface_problem "$interface")
    [ -z "$problem" ] || msg_die 1 "$problem"
    NETBOOT_CIDR=$(pxe_address "$interface")
    NETBOOT_ADDRESS=${NETBOOT_CIDR%/*}
    if [ "$dhcp" != proxy ]; then
        problem=$(pxe_range_problem "$dhcp" "$NETBOOT_CIDR")
        [ -z "$problem" ] || msg_die 1 "$problem"
    fi
    for entry in udp:67:DHCP udp:4011:PXE udp:69:TFTP "tcp:$http_port:HTTP"; do
        IFS=: read -r protocol port what <<<"$entry"
        holder=$(pxe_port_holder "$protocol" "$port" "$interface" "$NETBOOT_ADDRESS")
        [ -z "$holder" ] || msg_die 1 "${protocol^^} port $port ($what) on $interface is taken by $holder: stop it first$(
            [ "$what" = HTTP ] && echo ", or choose another port with --http-port")"
    done
}

netboot_check_program() {
    if [ ! -e "$1" ]; then
        [ "$1" = "$NETBOOT_PROGRAM" ] &&
            msg_die 1 "no release build at $1: run 'make release' first, or name the program with --program"
        msg_die 1 "program not found: $1"
    fi
    [ "$(pe_machine "$1")" = x64 ] ||
        msg_die 1 "not a Windows x64 program: $1 ($(pe_machine "$1")); give the autodeploy.exe of 'make release'"
}

netboot_check_source() {
    media_kind "$1" >/dev/null || {
        [ -e "$1" ] || msg_die 1 "no such file or folder: $1"
        msg_die 1 "not an ISO file or a folder: $1 (give a Windows installation ISO or its folder)"
    }
}

netboot_no_dhcp_server() {
    local holder
    NETBOOT_PENDING=$(mktemp -d "${TMPDIR:-/tmp}/serve-pxe.XXXXXX") || msg_die 1 "cannot create a temporary folder"
    holder=$(pxe_dhcp_answer "$1" 4 "$NETBOOT_PENDING")
    rm -rf -- "$NETBOOT_PENDING"
    NETBOOT_PENDING=
    [ -z "$holder" ] ||
        msg_die 1 "a DHCP server ($holder) answers on $1: use --dhcp proxy beside it, or stop it first (two DHCP servers break a network)"
}

netboot_prepare() {
    local source=$1 program=$2 work_dir=$3 list boot_wim medium_sha program_sha injection_sha stamp source_wim index
    list=$(media_list "$source") || msg_die 1 "cannot list the files of $source"
    boot_wim=$(media_find "$list" sources/boot.wim)
    [ -n "$boot_wim" ] || msg_die 1 "$source has no sources/boot.wim: give a Windows installation ISO or its folder"
    medium_sha=$(media_read "$source" "$boot_wim" | sha256sum | cut -d ' ' -f 1)
    # winpe-inject adds the disk guard beside the program: a new guard is a new boot image too.
    program_sha=$(cat -- "$program" "$(dirname -- "$program")/autodeploy-guard.exe" 2>/dev/null | sha256sum | cut -d ' ' -f 1)
    injection_sha=$(cat "$NETBOOT_SCRIPTS/winpe-inject" "$(dirname "$NETBOOT_SCRIPTS")"/assets/winpe/* | sha256sum | cut -d ' ' -f 1)
    stamp="medium $medium_sha program $program_sha injection $injection_sha"
    if [ -f "$work_dir/boot.wim" ] && [ "$(cat "$work_dir/stamp" 2>/dev/null)" = "$stamp" ]; then
        msg_say 'the boot image in %s is up to date' "$work_dir"
        return
    fi
    mkdir -p -- "$work_dir" || msg_die 1 "cannot create the work folder $work_dir"
    NETBOOT_PENDING=$(mktemp -d "$work_dir/.prepare.XXXXXX") || msg_die 1 "cannot create a folder in $work_dir"
    source_wim="$source/$boot_wim"
    if [ "$(media_kind "$source")" = iso ]; then
        source_wim="$NETBOOT_PENDING/medium.wim"
        media_read "$source" "$boot_wim" >"$source_wim" || msg_die 1 "cannot read $boot_wim from $source (is $work_dir on a full disk?)"
    fi
    index=$(wiminfo "$source_wim" 2>/dev/null | sed -n 's/^Boot Index:[[:space:]]*//p' | head -n 1)
    [[ $index =~ ^[1-9][0-9]*$ ]] ||
        msg_die 1 "$source: its sources/boot.wim marks no image as bootable: give an unmodified Windows installation medium"
    msg_say 'preparing WinPE from image %s of %s' "$index" "$boot_wim"
    wimexport "$source_wim" "$index" "$NETBOOT_PENDING/boot.wim" --boot >/dev/null 2>"$NETBOOT_PENDING/errors" ||
        msg_die 1 "wimexport could not export image $index of $boot_wim: $(paste -s -d ' ' "$NETBOOT_PENDING/errors")"
    "$NETBOOT_SCRIPTS/winpe-inject" --program "$program" "$NETBOOT_PENDING/boot.wim" >/dev/null || exit 1
    if ! mv -f -- "$NETBOOT_PENDING/boot.wim" "$work_dir/boot.wim" || ! printf '%s\n' "$stamp" >"$work_dir/stamp"; then
        msg_die 1 "cannot write the boot image to $work_dir"
    fi
    rm -rf -- "$NETBOOT_PENDING"
    NETBOOT_PENDING=
    msg_say 'prepared %s' "$work_dir/boot.wim"
}

netboot_forget() {
    local work_dir=$1
    shift
    python3 "$NETBOOT_SERVICE" forget "$work_dir/served" "$@" >/dev/null
}

netboot_start() {
    local interface=$1 dhcp=$2 http_port=$3 work_dir=$4 url="http://$NETBOOT_ADDRESS:$3/boot.ipxe" i run
    run=$(mktemp -d /run/serve-pxe.XXXXXX) || msg_die 1 "cannot create a folder in /run"
    NETBOOT_RUN=$run
    # dnsmasq drops to the user nobody: its TFTP root is a folder of its own, open to everyone.
    { chmod 755 "$run" && mkdir -m 755 "$run/tftp" "$run/http" &&
        install -m 644 "$NETBOOT_IPXE/undionly.kpxe" "$NETBOOT_IPXE/snponly.efi" "$run/tftp/" &&
        ln -s "$NETBOOT_WIMBOOT/wimboot.i386" "$NETBOOT_WIMBOOT/wimboot.x86_64.efi" "$(realpath "$work_dir/boot.wim")" "$run/http/"; } ||
        msg_die 1 "cannot fill $run"
    : >"$run/events"
    pxe_dnsmasq_config "$interface" "$NETBOOT_ADDRESS" "$NETBOOT_CIDR" "$dhcp" "$run/tftp" "$run/leases" "$url" >"$run/dnsmasq.conf"
    dnsmasq -k -C "$run/dnsmasq.conf" --log-facility=- 2>"$run/dnsmasq.log" &
    NETBOOT_PIDS+=($!)
    python3 "$NETBOOT_SERVICE" serve --address "$NETBOOT_ADDRESS" --port "$http_port" --files "$run/http" \
        --served "$work_dir/served" --events "$run/events" --dnsmasq-log "$run/dnsmasq.log" \
        --access-log "$run/access.log" >"$run/service.out" 2>&1 &
    NETBOOT_PIDS+=($!)
    for ((i = 0; i < 50; i++)); do
        # -s: the background jobs may not have made their files yet.
        grep -qs '^ready' "$run/service.out" && grep -qs 'TFTP root is' "$run/dnsmasq.log" && return
        kill -0 "${NETBOOT_PIDS[0]}" 2>/dev/null ||
            msg_die 1 "dnsmasq did not start: $(grep -v '^dnsmasq: started' "$run/dnsmasq.log" | tail -n 1)"
        kill -0 "${NETBOOT_PIDS[1]}" 2>/dev/null || msg_die 1 "the HTTP server did not start: $(tail -n 1 "$run/service.out")"
        sleep 0.1
    done
    msg_die 1 "dnsmasq or the HTTP server did not start within 5 seconds (see $run)"
}

# In the background, so that the caller's traps run as soon as a signal comes.
netboot_view() {
    python3 "$NETBOOT_SERVICE" view "$NETBOOT_RUN/events" &
    NETBOOT_VIEW_PID=$!
    wait "$NETBOOT_VIEW_PID"
}

netboot_stop() {
    local pid
    [ -n "$NETBOOT_PENDING" ] && rm -rf -- "$NETBOOT_PENDING"
    [ -n "$NETBOOT_RUN" ] || return 0
    for pid in "${NETBOOT_PIDS[@]}" $NETBOOT_VIEW_PID; do kill -TERM "$pid" 2>/dev/null; done
    for pid in "${NETBOOT_PIDS[@]}" $NETBOOT_VIEW_PID; do wait "$pid" 2>/dev/null; done
    if [ -s "$NETBOOT_RUN/events" ] && [ -n "${NETBOOT_SUMMARY-1}" ]; then
        printf '\n'
        msg_say summary
        python3 "$NETBOOT_SERVICE" summary "$NETBOOT_RUN/events"
    fi
    rm -rf -- "$NETBOOT_RUN"
    NETBOOT_RUN=
}
