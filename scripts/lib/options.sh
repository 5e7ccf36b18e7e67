# shellcheck shell=bash
# options.sh: a script's options from one table. Each row names an option, its kind of value
# (check.sh; "flag" for none; "maybe:KIND" for a value given only as --NAME=VALUE, the option
# alone meaning "given, no value": OPTIONS_GIVEN[NAME] is "bare"), what the value is called in the
# help, and its help lines; the
# parsing, the value checks and --help all come from the rows, so a new option is one row.
#
#   options_row NAME KIND ARGUMENT HELP-LINE...
#                        --NAME; ARGUMENT is "-" for a flag, "PORT=9000" gives a default
#   options_drop NAME...  removes rows again (a script that takes another's rows but not all)
#   options_explain NAME HELP-LINE...  new help lines for a row (a script whose use of it differs)
#   options_parse ARGS...
#                        fills OPTION[NAME] (the value as check_value passes it on; 1 for a flag
#                        given; empty when not given) and OPTIONS_ARGS (the other arguments);
#                        a value given is checked even when empty;
#                        -h/--help runs the script's usage and exits 0; a usage error or a value
#                        not of its kind (an empty one included): one line, exit status 2
#   options_withheld NAME REASON
#                        --NAME, in any form, is refused with "--NAME cannot be used: REASON"
#   options_help COLUMN  the rows as --help shows them, help text from COLUMN on, then -h
#   options_passed NAME...  OPTIONS_PASSED: each of the NAMEd rows given (or with a default) as
#                        --NAME [VALUE]: those with a default first, then the flags, then the values given

OPTIONS_NAMES=()
declare -A OPTIONS_KIND=() OPTIONS_ARGUMENT=() OPTIONS_HELP=() OPTIONS_DEFAULTED=() OPTIONS_GIVEN=() OPTIONS_WITHHELD=()
declare -A OPTION=()
OPTIONS_ARGS=()
OPTIONS_PASSED=()

options_row() {
    local name=$1 kind=$2 argument=$3
    shift 3
    OPTIONS_NAMES+=("$name")
    OPTIONS_KIND[$name]=$kind
    OPTIONS_ARGUMENT[$name]=${argument%%=*}
    OPTION[$name]=
    if [[ $argument == *=* ]]; then
        OPTION[$name]=${argument#*=}
        OPTIONS_DEFAULTED[$name]=1
    fi
    options_explain "$name" "$@"
}

options_explain() {
    local name=$1 line
    shift
    OPTIONS_HELP[$name]=
    for line in "$@"; do OPTIONS_HELP[$name]+=$line$'\n'; done
}

options_withheld() { OPTIONS_WITHHELD[$1]=$2; }

options_drop() {
    local name kept=() row
    for row in "${OPTIONS_NAMES[@]}"; do
        for name in "$@"; do [ "$row" != "$name" ] || continue 2; done
        kept+=("$row")
    done
    OPTIONS_NAMES=("${kept[@]}")
    for name in "$@"; do unset "OPTIONS_KIND[$name]" "OPTIONS_DEFAULTED[$name]" "OPTION[$name]"; done
}

options_parse() {
    local arg name value kind
    while [ $# -gt 0 ]; do
        arg=$1
        shift
        case $arg in
            -h | --help) usage | layout_spoken "$MSG_NAME"; exit 0 ;;
            --) OPTIONS_ARGS+=("$@"); break ;;
            --?*)
                name=${arg#--}
                name=${name%%=*}
                [ -z "${OPTIONS_WITHHELD[$name]:-}" ] || msg_die 2 "--$name cannot be used: ${OPTIONS_WITHHELD[$name]}"
                [ -n "${OPTIONS_KIND[$name]+set}" ] || msg_die 2 "unknown option: $arg (see --help)"
                if [ "${OPTIONS_KIND[$name]}" = flag ]; then
                    [ "$arg" = "--$name" ] || msg_die 2 "unknown option: $arg (see --help)"
                    OPTION[$name]=1
                    continue
                fi
                if [[ ${OPTIONS_KIND[$name]} == maybe:* ]] && [ "$arg" = "--$name" ]; then
                    # What looks like its value (a MAC, a list) is no argument of the script's own.
                    [[ ${1:-} != *,* && ! ${1:-} =~ ^[0-9A-Fa-f]{2}[:-] ]] ||
                        msg_die 2 "--$name takes its value after an equals sign (--$name=$1), or none"
                    OPTIONS_GIVEN[$name]=bare
                    continue
                elif [ "$arg" != "--$name" ]; then
                    OPTION[$name]=${arg#*=}
                else
                    [ $# -ge 1 ] || msg_die 2 "$arg needs a value (see --help)"
                    OPTION[$name]=$1
                    shift
                fi
                OPTIONS_GIVEN[$name]=1
                ;;
            -?*) msg_die 2 "unknown option: $arg (see --help)" ;;
            *) OPTIONS_ARGS+=("$arg") ;;
        esac
    done
    for name in "${OPTIONS_NAMES[@]}"; do
        [ "${OPTIONS_KIND[$name]}" != flag ] && [ -n "${OPTION[$name]}${OPTIONS_GIVEN[$name]:-}" ] || continue
        kind=${OPTIONS_KIND[$name]#maybe:}
        [ "${OPTIONS_GIVEN[$name]:-}" != bare ] || continue
        [ -n "${OPTION[$name]}" ] || msg_die 2 "--$name needs $(check_describe "$kind"), got nothing"
        value=$(check_value "$kind" "${OPTION[$name]}") ||
            msg_die 2 "--$name needs $(check_describe "$kind"), got '${OPTION[$name]}'"
        OPTION[$name]=$value
    done
}

options_help() {
    local column=$1 name label text line
    for name in "${OPTIONS_NAMES[@]}" help; do
        if [ "$name" = help ]; then
            label='-h, --help' text=$'show this help and exit.\n'
        else
            label=--$name text=${OPTIONS_HELP[$name]}
            case ${OPTIONS_KIND[$name]} in
                flag) ;; maybe:*) label+="[=${OPTIONS_ARGUMENT[$name]}]" ;; *) label+=" ${OPTIONS_ARGUMENT[$name]}" ;;
            esac
        fi
        # A label too long for its column gets a line of its own.
        if [ $((${#label} + 4)) -gt "$column" ]; then
            printf '  %s\n' "$label"
            label=
        fi
        while IFS= read -r line; do
            printf '%-*s%s\n' "$column" "  $label" "$line"
            label=
        done <<<"${text%$'\n'}"
    done
}

options_passed() {
    local pass name
    OPTIONS_PASSED=()
    for pass in default flag value; do
        for name in "$@"; do
            [ -n "${OPTION[$name]:-}" ] || continue
            case $pass:${OPTIONS_KIND[$name]} in
                flag:flag) OPTIONS_PASSED+=("--$name") ;;
                *:flag) ;;
                default:*) [ -z "${OPTIONS_DEFAULTED[$name]:-}" ] || OPTIONS_PASSED+=("--$name" "${OPTION[$name]}") ;;
                value:*) [ -n "${OPTIONS_DEFAULTED[$name]:-}" ] || OPTIONS_PASSED+=("--$name" "${OPTION[$name]}") ;;
                *) ;;
            esac
        done
    done
}
