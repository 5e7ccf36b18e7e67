# shellcheck shell=bash
# wine.sh: how every Windows program of the project runs under Wine: a prefix of its own, Wine's
# own chatter off, UTF-8, and no Mono or Gecko installer offered when a prefix is made.
#
#   wine_env PREFIX COMMAND...   runs COMMAND (a program, not a function) with Wine set up for PREFIX
#   wine_export PREFIX           the same settings for the rest of this shell
#   wine_stop PREFIX             ends PREFIX's wineserver (and so its programs) and waits for it

wine_settings() {
    WINE_SETTINGS=("WINEPREFIX=$1" WINEDEBUG=-all LC_ALL=C.UTF-8 "WINEDLLOVERRIDES=mscoree,mshtml=")
}

wine_env() {
    wine_settings "$1"
    shift
    env "${WINE_SETTINGS[@]}" "$@"
}

wine_export() {
    wine_settings "$1"
    # shellcheck disable=SC2163 # exports each NAME=VALUE of the list
    export "${WINE_SETTINGS[@]}"
}

wine_stop() {
    wine_env "$1" wineserver -k 2>/dev/null || true
    wine_env "$1" wineserver -w 2>/dev/null || true
}
