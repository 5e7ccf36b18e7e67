# shellcheck shell=bash disable=SC2034 # the LAYOUT_ values are for the scripts that source it
# layout.sh: where this copy of autodeploy lives and what its user types to run it: a checkout
# (scripts/serve-room, the release build under build/release) or the tree make install made
# (autodeploy-serve-room on the PATH, the rest under PREFIX/share/autodeploy, marked by the list of
# files it installed). Sourced by msg.sh.
#
#   LAYOUT_ROOT          the checkout, or PREFIX/share/autodeploy
#   LAYOUT_INSTALLED     1 in an installed tree, else empty
#   LAYOUT_WINDOWS       the folder of autodeploy.exe, with its guard, watch and capture program beside it
#   LAYOUT_WIMBOOT       the folder of wimboot.i386 and wimboot.x86_64.efi
#   LAYOUT_REBUILD       what makes those again, for a message
#   layout_spoken NAME   standard input to output as the command NAME says it: once installed, each
#                        command named as its user calls it (scripts/serve-room or serve-room:
#                        autodeploy-serve-room), the answer file's template where it is, a page of docs/
#                        as its man page (roomserver/spoken.py, the one renaming); unchanged in a checkout

LAYOUT_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)
if [ -f "$LAYOUT_ROOT/installed-files" ]; then
    LAYOUT_INSTALLED=1 LAYOUT_WINDOWS=$LAYOUT_ROOT/windows LAYOUT_WIMBOOT=$LAYOUT_ROOT/wimboot
    LAYOUT_REBUILD="install autodeploy again (make release, then make install)"
else
    LAYOUT_INSTALLED='' LAYOUT_WINDOWS=$LAYOUT_ROOT/build/release/src LAYOUT_WIMBOOT=$LAYOUT_ROOT/build/release/wimboot
    LAYOUT_REBUILD="run 'make release' first"
fi

layout_spoken() {
    if [ -n "$LAYOUT_INSTALLED" ]; then
        python3 "$LAYOUT_ROOT/roomserver/spoken.py" "$1"
    else
        cat
    fi
}
