# shellcheck shell=bash
# check.sh: the kinds of value an operator gives, each checked one way. A kind is a word with
# its bounds after colons:
#
#   count                      a whole number of 1 or more (leading zeros allowed)
#   whole:MIN:MAX              a whole number from MIN to MAX
#   seconds:MIN:MAX            the same, said as seconds
#   multiple:STEP:MIN:MAX      a whole number from MIN to MAX that STEP divides
#   even-port                  an even UDP port number, 2 to 65534
#   bitrate                    bits per second, a whole number with an optional k or m, at most
#                              2147483647 (udp-sender 20120424 keeps the rate in a signed 32-bit
#                              number: a larger one stalls every transfer)
#   fec                        udpcast's STRIPESxREDUNDANCY[/STRIPESIZE]
#   ipv4                       a dotted IPv4 address
#   server                     ADDRESS[:PORT]: a dotted IPv4 address and a port from 1 to 65535
#   choice:WORD:WORD...        one of the WORDs
#   text                       anything but nothing
#
#   check_value KIND VALUE     prints VALUE as it is passed on (whole numbers without their
#                              leading zeros); fails, printing nothing, when VALUE is not of KIND
#   check_describe KIND        what KIND needs, for a message: "LABEL needs <this>, got 'VALUE'"

# check_whole VALUE MIN [MAX]: VALUE is a whole number from MIN to MAX (no MAX: no limit); prints
# it without its leading zeros.
check_whole() {
    local digits=${1#"${1%%[!0]*}"}
    [[ $1 =~ ^[0-9]+$ ]] || return 1
    digits=${digits:-0}
    if [ -n "${3:-}" ]; then
        [ ${#digits} -le ${#3} ] && [ "$digits" -le "$3" ] || return 1
    fi
    [ ${#digits} -gt 18 ] || [ "$digits" -ge "$2" ] || return 1
    printf '%s\n' "$digits"
}

check_value() {
    local kind=$1 value=$2 bounds part
    IFS=: read -r -a bounds <<<"$kind"
    case ${bounds[0]} in
        count) check_whole "$value" 1 ;;
        whole | seconds) check_whole "$value" "${bounds[1]}" "${bounds[2]}" ;;
        multiple)
            value=$(check_whole "$value" "${bounds[2]}" "${bounds[3]}") && [ $((value % bounds[1])) = 0 ] || return 1
            printf '%s\n' "$value"
            ;;
        even-port)
            value=$(check_whole "$value" 2 65534) && [ $((value % 2)) = 0 ] || return 1
            printf '%s\n' "$value"
            ;;
        bitrate)
            [[ $value =~ ^[0-9]{1,10}[kKmM]?$ && $value =~ ^0*[1-9] ]] || return 1
            part=$((10#${value%[kKmM]}))
            case $value in *[kK]) part=$((part * 1000)) ;; *[mM]) part=$((part * 1000000)) ;; esac
            [ "$part" -le 2147483647 ] || return 1
            printf '%s\n' "$value"
            ;;
        fec)
            local stripes redundancy stripe_size
            [[ $value =~ ^[0-9]+x[0-9]+(/[0-9]+)?$ ]] || return 1
            IFS=x/ read -r stripes redundancy stripe_size <<<"$value"
            check_whole "$stripes" 1 1024 >/dev/null && check_whole "$redundancy" 1 128 >/dev/null &&
                { [ -z "$stripe_size" ] || check_whole "$stripe_size" 1 128 >/dev/null; } || return 1
            printf '%s\n' "$value"
            ;;
        ipv4)
            [[ $value =~ ^[0-9]{1,3}(\.[0-9]{1,3}){3}$ ]] || return 1
            for part in ${value//./ }; do check_whole "$part" 0 255 >/dev/null || return 1; done
            printf '%s\n' "$value"
            ;;
        server)
            part=${value#*:}
            [[ $value != *:* ]] || { [[ $part =~ ^[0-9]+$ ]] && check_whole "$part" 1 65535 >/dev/null; } || return 1
            check_value ipv4 "${value%%:*}" >/dev/null && printf '%s\n' "${value%%:*}${part:+${value#"${value%%:*}"}}"
            ;;
        choice) [[ :${kind#choice:}: == *:"$value":* && $value != *:* ]] && printf '%s\n' "$value" ;;
        text) [ -n "$value" ] && printf '%s\n' "$value" ;;
        *) return 2 ;;
    esac
}

check_describe() {
    local bounds
    IFS=: read -r -a bounds <<<"$1"
    case ${bounds[0]} in
        count) echo "a whole number of 1 or more" ;;
        whole) echo "a whole number from ${bounds[1]} to ${bounds[2]}" ;;
        seconds) echo "a number of seconds from ${bounds[1]} to ${bounds[2]}" ;;
        multiple) echo "a multiple of ${bounds[1]} from ${bounds[2]} to ${bounds[3]}" ;;
        even-port) echo "an even port number from 2 to 65534" ;;
        bitrate) echo "bits per second, at most 2147483647 (2147m), a whole number with an optional k or m" \
            "(e.g. 100m)" ;;
        fec) echo "STRIPESxREDUNDANCY/STRIPESIZE (stripes 1 to 1024, redundancy and stripe size 1 to 128;" \
            "e.g. 8x8/128)" ;;
        ipv4) echo "an IPv4 address (e.g. 224.0.0.1)" ;;
        server) echo "ADDRESS[:PORT], an IPv4 address and an optional port (e.g. 10.0.0.1:8080)" ;;
        choice) local words=${1#choice:}; echo "${words//:/ or }" ;;
        text) echo "a value" ;;
    esac
}
