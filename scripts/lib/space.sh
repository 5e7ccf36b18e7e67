# shellcheck shell=bash
# space.sh: is there room on the disks a run writes to, checked before it writes anything? The run
# is a series of steps, each holding some bytes in some places at once; a disk needs room for the
# most that one step holds on it (places on the same disk add up). Source it from bash, after paths.sh.
#
#   space_place NAME FOLDER WHAT ADVICE   a place the run writes to: FOLDER (it need not exist
#                                         yet), WHAT it holds and ADVICE for a lack of room, for
#                                         the message
#   space_step NAME=BYTES...              one step: BYTES held in each place NAME at once
#   space_problem                         nothing and status 0 when every disk has room; else one
#                                         line (free, needed, for what, what to do) and status 1
#   space_text BYTES                      BYTES for a message (617MiB)

SPACE_NAMES=()
declare -A SPACE_FOLDER=() SPACE_WHAT=() SPACE_ADVICE=() SPACE_NEED=()

space_disk() { stat -c %d -- "$(paths_existing "${SPACE_FOLDER[$1]}")"; }

space_text() { numfmt --to=iec-i --suffix=B --round=up -- "$1"; }

space_place() {
    SPACE_NAMES+=("$1")
    SPACE_FOLDER[$1]=$2 SPACE_WHAT[$1]=$3 SPACE_ADVICE[$1]=$4
}

space_step() {
    local arg disk
    local -A held=()
    for arg in "$@"; do
        disk=$(space_disk "${arg%%=*}")
        held[$disk]=$((${held[$disk]:-0} + ${arg#*=}))
    done
    for disk in "${!held[@]}"; do
        [ "${held[$disk]}" -le "${SPACE_NEED[$disk]:-0}" ] || SPACE_NEED[$disk]=${held[$disk]}
    done
}

space_problem() {
    local name other disk free what advice done=' '
    for name in "${SPACE_NAMES[@]}"; do
        disk=$(space_disk "$name")
        [[ $done != *" $disk "* ]] || continue
        done+="$disk "
        free=$(stat -f -c '%a * %S' -- "$(paths_existing "${SPACE_FOLDER[$name]}")") && free=$((free)) || free=0
        [ "${SPACE_NEED[$disk]:-0}" -gt "$free" ] || continue
        what='' advice=''
        for other in "${SPACE_NAMES[@]}"; do
            [ "$(space_disk "$other")" = "$disk" ] || continue
            what+="; ${SPACE_WHAT[$other]}" advice+=", or ${SPACE_ADVICE[$other]}"
        done
        echo "$(space_text "$free") free on the disk of $(paths_existing "${SPACE_FOLDER[$name]}")," \
            "but this run needs $(space_text "${SPACE_NEED[$disk]}") there at its peak (${what#; }):" \
            "free some room there${advice}"
        return 1
    done
}
