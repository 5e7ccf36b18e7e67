# shellcheck shell=bash
# netboot.sh: what serve-pxe and serve-room check and prepare before the room server (roomserver/) takes
# over: booting the PCs of a room from the network into WinPE, once per PC. Source it after msg.sh,
# check.sh, options.sh, cleanup.sh and workcopy.sh; run as root. AUTODEPLOY_WIMBOOT_DIR and AUTODEPLOY_IPXE_DIR name
# other wimboot and iPXE folders (tests).
#
# A caller, in this order (each step refuses with one line and exit 1, 2 for a usage error):
#   netboot_options                      the option rows of the network boot (options.sh)
#   netboot_need_tools                   the Debian tools, iPXE's loaders and the built wimboot
#   netboot_check_network IF DHCP PORT   IF (the only interface with IPv4 when empty; NETBOOT_INTERFACE)
#                                        faces the PCs, the range (proxy or FIRST,LAST) lies in its subnet,
#                                        the ports are free; sets NETBOOT_CIDR, NETBOOT_ADDRESS
#   netboot_check_source SOURCE          an ISO file or a folder with sources/boot.wim (NETBOOT_BOOT_WIM: its
#                                        spelling there)
#   netboot_check_drivers                --pe-drivers DIR, if given, holds x64 driver packages (drivers.sh)
#   cleanup_on_exit
#   netboot_work_dir DIR                 DIR, made when missing, is root's alone; locked for this run; the
#                                        working copies a killed run left in it removed (workcopy.sh)
#   netboot_no_dhcp_server IF            for a range: no other DHCP server answers on IF
#   netboot_prepare SOURCE PROGRAM DIR [capture]
#                                        DIR/boot.wim (a capture's: DIR/capture-boot.wim, never the other), made
#                                        again only when out of date (the drivers' content, too)
#   netboot_check_room DHCP              a room list where the network is shared, or --any-pc
#   netboot_server_args DHCP PORT        NETBOOT_ARGS: what the room server needs to serve the network boot
#                                        (it makes the run's folder under /run, dnsmasq's configuration in it)

. "$(dirname "${BASH_SOURCE[0]}")/media.sh"
. "$(dirname "${BASH_SOURCE[0]}")/program.sh"
. "$(dirname "${BASH_SOURCE[0]}")/pxe.sh"
. "$(dirname "${BASH_SOURCE[0]}")/net.sh"
. "$(dirname "${BASH_SOURCE[0]}")/server.sh"
. "$(dirname "${BASH_SOURCE[0]}")/drivers.sh"

NETBOOT_WIMBOOT=$(realpath -m -- "${AUTODEPLOY_WIMBOOT_DIR:-$LAYOUT_WIMBOOT}")
NETBOOT_IPXE=${AUTODEPLOY_IPXE_DIR:-/usr/lib/ipxe}
NETBOOT_PENDING=

netboot_options() {
    options_row room text FILE 'the room list: only the PCs it names get anything, one a' \
        'line, its MAC and optionally its name (52:54:00:12:34:56' \
        'LAB1-07); # comments. Required with --dhcp proxy (see' \
        '--any-pc); serve-pxe --collect FILE makes it.'
    options_row any-pc flag - 'no room list: serve every PC of the segment that boots' \
        'from the network (beside the site'"'"'s DHCP server that' \
        'is every such PC of the site: each is wiped).'
    options_row program text "PATH=$PROGRAM_RELEASE" 'the autodeploy.exe to put into WinPE (its guard beside' \
        'it). Default: the release build of this checkout.'
    options_row dhcp text 'proxy|FIRST,LAST=proxy' 'proxy (the default): answer PXE clients only, beside' \
        "the site's DHCP server. FIRST,LAST: an isolated network:" \
        "lease FIRST..LAST (in IF's subnet); refused when another" \
        'DHCP server answers on IF.'
    options_row http-port whole:1:65535 "PORT=$SERVER_HTTP_PORT" "the HTTP port for iPXE's files and the room's page" \
        "(default $SERVER_HTTP_PORT); it must be free on IF."
    options_row work-dir text DIR=/var/lib/autodeploy 'the prepared boot image and the list of PCs served,' \
        'kept across runs (default /var/lib/autodeploy); only root' \
        'may write it; one server at a time uses it.'
    options_row again text 'PCS|FILE|all' 'forget that these PCs were served, so that each boots' \
        'WinPE once more (re-imaging on purpose): MACs or names' \
        'of the room list separated by commas, a file of them one' \
        'a line, or all.'
    options_row pe-drivers text DIR 'driver packages that WinPE loads at start-up, each a' \
        'folder with an x64 .inf (DIR/by-model/MAKE/MODEL: only' \
        'on PCs whose firmware names that make and model); every' \
        'PC downloads them with WinPE.'
}

netboot_check_drivers() { [ -z "${OPTION[pe-drivers]}" ] || drivers_check --pe-drivers "${OPTION[pe-drivers]}"; }

# netboot_check_room DHCP: the room list given where the network is shared (proxy), or --any-pc on purpose.
netboot_check_room() {
    [ -z "${OPTION[room]}" ] || [ -z "${OPTION[any-pc]}" ] ||
        msg_die 2 "--room and --any-pc do not go together: give one"
    [ "$1" != proxy ] || [ -n "${OPTION[room]}${OPTION[any-pc]}" ] || msg_die 2 "beside the site's DHCP server \
(--dhcp proxy) every PC of the network that boots from it would be wiped: name the room's PCs with --room FILE \
(serve-pxe --collect FILE writes it), or serve every PC of the segment on purpose with --any-pc"
}

netboot_need_tools() {
    local pair
    for pair in dnsmasq:dnsmasq-base 7zz:7zip wiminfo:wimtools wimexport:wimtools python3:python3 \
        dhclient:isc-dhcp-client ip:iproute2 ss:iproute2 unshare:util-linux sha256sum:coreutils; do
        command -v "${pair%%:*}" >/dev/null 2>&1 ||
            msg_die 1 "${pair%%:*} not found: install Debian's ${pair#*:} package"
    done
    for pair in undionly.kpxe snponly.efi; do
        [ -r "$NETBOOT_IPXE/$pair" ] || msg_die 1 "no $NETBOOT_IPXE/$pair: install Debian's ipxe package"
    done
    for pair in wimboot.i386 wimboot.x86_64.efi; do
        [ -r "$NETBOOT_WIMBOOT/$pair" ] ||
            msg_die 1 "no wimboot at $NETBOOT_WIMBOOT/$pair (the release build makes it): $LAYOUT_REBUILD"
    done
}

netboot_check_network() {
    local interface=$1 dhcp=$2 http_port=$3 problem holder entry protocol port what names
    if [ -z "$interface" ]; then
        names=$(ip -4 -o addr show 2>/dev/null | awk '$2 != "lo" { print $2 }' | sort -u)
        [ -n "$names" ] || msg_die 1 "no network interface has an IPv4 address: give the one that faces the PCs an \
address, then --interface IF"
        [ "$(printf '%s\n' "$names" | wc -l)" = 1 ] ||
            msg_die 2 "more than one interface has IPv4 ($(printf '%s\n' "$names" | paste -s -d ' ')): name the one \
that faces the PCs with --interface"
        interface=$names
    fi
    NETBOOT_INTERFACE=$interface
    problem=$(net_interface_problem "$interface") || msg_die 1 "$problem"
    NETBOOT_CIDR=$(pxe_address "$interface")
    NETBOOT_ADDRESS=${NETBOOT_CIDR%/*}
    if [ "$dhcp" != proxy ]; then
        problem=$(pxe_range_problem "$dhcp" "$NETBOOT_CIDR")
        [ -z "$problem" ] || msg_die 1 "$problem"
    fi
    for entry in udp:67:DHCP udp:4011:PXE udp:69:TFTP ${http_port:+"tcp:$http_port:HTTP"}; do
        IFS=: read -r protocol port what <<<"$entry"
        holder=$(pxe_port_holder "$protocol" "$port" "$interface" "$NETBOOT_ADDRESS")
        [ -z "$holder" ] ||
            msg_die 1 "${protocol^^} port $port ($what) on $interface is taken by $holder: stop it first$(
                [ "$what" = HTTP ] && echo ", or choose another port with --http-port")"
    done
}

netboot_check_source() {
    local list
    media_kind "$1" >/dev/null || {
        [ -e "$1" ] || msg_die 1 "no such file or folder: $1"
        msg_die 1 "not an ISO file or a folder: $1 (give a Windows installation ISO or its folder)"
    }
    list=$(media_list "$1") || msg_die 1 "cannot list the files of $1"
    NETBOOT_BOOT_WIM=$(media_find "$list" sources/boot.wim)
    [ -n "$NETBOOT_BOOT_WIM" ] || msg_die 1 "$1 has no sources/boot.wim: give a Windows installation ISO or its folder"
}

# netboot_unsafe PATH: why PATH is not root's alone (a link, or writable by another user), or nothing.
netboot_unsafe() {
    local owner mode
    [ ! -L "$1" ] || { echo "is a symbolic link"; return; }
    [ -e "$1" ] || return 0 # what does not exist yet, this run makes
    read -r owner mode <<<"$(stat -c '%u %a' -- "$1")"
    [ "$owner" = 0 ] || [ "$owner" = "$(id -u)" ] || { echo "belongs to another user ($(stat -c %U -- "$1"))"; return; }
    # Group or others may write: only a folder with the sticky bit (/tmp) keeps their hands off what is ours.
    if (((8#$mode & 022) != 0)) && { [ ! -d "$1" ] || (((8#$mode & 01000) == 0)) || [ "${2:-}" = own ]; }; then
        echo "can be written by others ($(stat -c %A -- "$1"))"
    fi
}

netboot_work_dir() {
    local dir path folder why holder made
    why=$(netboot_unsafe "${1%/}" own)
    [ -z "$why" ] || msg_die 1 "the work folder $1 $why: give one only root can write (--work-dir), or fix it"
    dir=$(realpath -m -- "$1")
    folder=$dir
    while [ "$folder" != / ]; do
        folder=${folder%/*} folder=${folder:-/}
        why=$(netboot_unsafe "$folder")
        [ -z "$why" ] || msg_die 1 "the work folder $1 lies in $folder, which $why: another user could swap it; give \
a work folder elsewhere (--work-dir)"
    done
    for path in lock served stamp boot.wim journal capture-stamp capture-boot.wim; do
        why=$(netboot_unsafe "$dir/$path")
        [ -z "$why" ] || msg_die 1 "$dir/$path $why: remove it (the server writes it anew), or give another --work-dir"
    done
    # A work folder this run makes goes again if the run is refused before it serves (serving, it is kept).
    made=$dir
    while [ -n "${made%/*}" ] && [ ! -e "${made%/*}" ]; do made=${made%/*}; done
    [ -e "$made" ] || cleanup_also rm -rf -- "$made"
    mkdir -p -- "$dir" 2>/dev/null || msg_die 1 "cannot create the work folder $1"
    exec {NETBOOT_LOCK}>>"$dir/lock" || msg_die 1 "cannot open $dir/lock"
    if ! flock -n -x "$NETBOOT_LOCK"; then
        holder=$(head -c 200 -- "$dir/lock" | tr -cd '[:print:]')
        msg_die 1 "$1 is in use by ${holder:-another server}: one server per work folder; end that one first, or \
give this one another --work-dir"
    fi
    printf '%s on %s since %s (pid %s)\n' "$MSG_NAME" "$NETBOOT_INTERFACE" "$(date +%T)" $$ >"$dir/lock"
    workcopy_sweep "$dir"
    # shellcheck disable=SC2034 # for the caller
    NETBOOT_WORK=$dir
}

netboot_no_dhcp_server() {
    local holder
    NETBOOT_PENDING=$(mktemp -d "${TMPDIR:-/tmp}/serve-pxe.XXXXXX") || msg_die 1 "cannot create a temporary folder"
    cleanup_later "$NETBOOT_PENDING"
    holder=$(pxe_dhcp_answer "$1" 4 "$NETBOOT_PENDING")
    [ -z "$holder" ] ||
        msg_die 1 "a DHCP server ($holder) answers on $1: use --dhcp proxy beside it, or stop it first (two DHCP \
servers break a network)"
}

netboot_prepare() {
    local source=$1 program=$2 work_dir=$3 kind=${4:-} boot_wim=$NETBOOT_BOOT_WIM medium_sha program_sha injection_sha
    local source_wim index pending drivers=${OPTION[pe-drivers]} stamp image=boot.wim stamp_file=stamp
    # A capture's boot image has names of its own: a deployment never serves it, nor a capture a deployment's.
    [ -z "$kind" ] || image=capture-boot.wim stamp_file=capture-stamp
    medium_sha=$(media_read "$source" "$boot_wim" | sha256sum | cut -d ' ' -f 1)
    # winpe-inject adds the disk guard and the watch beside the program: a new one is a new boot image too.
    program_sha=$(cat -- "$program" "$(dirname -- "$program")"/autodeploy-{guard,watch,capture}.exe 2>/dev/null |
        sha256sum | cut -d ' ' -f 1)
    injection_sha=$(cat "$LAYOUT_ROOT/scripts/winpe-inject" "$LAYOUT_ROOT"/assets/winpe/* \
        "$DRIVERS_PACKAGES" "${DRIVERS_PACKAGES%/*}/drivers.sh" | sha256sum | cut -d ' ' -f 1)
    stamp="${kind:+$kind }medium $medium_sha program $program_sha injection $injection_sha"
    # The drivers by their content: a changed folder makes a new boot image, the same one keeps it.
    [ -z "$drivers" ] || stamp+=" drivers $(drivers_digest "$drivers")" || exit
    [ -z "$drivers" ] || drivers_said --pe-drivers
    if [ -f "$work_dir/$image" ] && [ "$(cat "$work_dir/$stamp_file" 2>/dev/null)" = "$stamp" ]; then
        msg_say 'the boot image in %s is up to date' "$work_dir"
        return
    fi
    WORKCOPY_PLACE=$work_dir workcopy_make .prepare || msg_die 1 "cannot create a folder in $work_dir"
    pending=$WORKCOPY
    source_wim="$source/$boot_wim"
    if [ "$(media_kind "$source")" = iso ]; then
        source_wim="$pending/medium.wim"
        cleanup_wait media_read "$source" "$boot_wim" >"$source_wim" ||
            msg_die 1 "cannot read $boot_wim from $source (is $work_dir on a full disk?)"
    fi
    index=$(wiminfo "$source_wim" 2>/dev/null | sed -n 's/^Boot Index:[[:space:]]*//p' | head -n 1)
    [[ $index =~ ^[1-9][0-9]*$ ]] ||
        msg_die 1 "$source: its sources/boot.wim marks no image as bootable: give an unmodified Windows installation \
medium"
    msg_say 'preparing WinPE from image %s of %s' "$index" "$boot_wim"
    cleanup_wait wimexport "$source_wim" "$index" "$pending/boot.wim" --boot >/dev/null 2>"$pending/errors" ||
        msg_die 1 "wimexport could not export image $index of $boot_wim: $(paste -s -d ' ' "$pending/errors")"
    "$LAYOUT_ROOT/scripts/winpe-inject" ${kind:+--capture} --program "$program" ${drivers:+--pe-drivers "$drivers"} \
        "$pending/boot.wim" >/dev/null || exit 1
    { printf '%s\n' "$stamp" >"$pending/stamp" && mv -f -- "$pending/boot.wim" "$work_dir/$image" &&
        mv -f -- "$pending/stamp" "$work_dir/$stamp_file"; } || msg_die 1 "cannot write the boot image to $work_dir"
    msg_say 'prepared %s' "$work_dir/$image"
}

netboot_server_args() {
    # shellcheck disable=SC2034 # for the caller
    NETBOOT_ARGS=(--interface "$NETBOOT_INTERFACE" --address "$NETBOOT_ADDRESS" --subnet "$NETBOOT_CIDR" --dhcp "$1"
        --port "$2" --ipxe "$NETBOOT_IPXE" --wimboot "$NETBOOT_WIMBOOT")
}
