# shellcheck shell=bash
# server.sh: handing over to the room server (roomserver/, a Python program), which runs the serving phase of
# serve-pxe, serve-room and send-image. Source it after msg.sh and cleanup.sh.
#
#   server_check MODE ARGS... the values an operator gave that the server reads (--room, --wake, --again, ...),
#                             checked before any work: one line and exit 2 when one is not of its kind
#   server_exec MODE ARGS...  the server replaces this script (pxe, room or send); what cleanup_later named
#                             is removed by it when it ends
#   server_answer FILE        the answer file FILE, checked, for a medium (ComputerName *): one line and exit 2
#                             when it is refused
#   SERVER_HTTP_PORT          the room server's HTTP port unless --http-port names another (and a PC's watch's
#                             when its autodeploy-server.txt names none)

# shellcheck disable=SC2034 # for the scripts that source it
SERVER_HTTP_PORT=8080

server_check() {
    PYTHONPATH=$LAYOUT_ROOT PYTHONDONTWRITEBYTECODE=1 python3 -m roomserver "$1" --check --name "$MSG_NAME" "${@:2}" ||
        exit
}

server_answer() {
    PYTHONPATH=$LAYOUT_ROOT PYTHONDONTWRITEBYTECODE=1 python3 -m roomserver answer --name "$MSG_NAME" --unattend "$1" ||
        exit
}

server_exec() {
    local mode=$1 path remove=()
    shift
    for path in "${CLEANUP_PATHS[@]}"; do remove+=(--remove "$path"); done
    trap - EXIT HUP INT TERM
    PYTHONPATH=$LAYOUT_ROOT PYTHONDONTWRITEBYTECODE=1 exec python3 -m roomserver "$mode" --name "$MSG_NAME" \
        "${remove[@]}" "$@"
}
