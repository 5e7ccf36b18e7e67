# shellcheck shell=bash
# program.sh: the autodeploy.exe an operator script puts on a medium: the release build unless
# --program names another. Source msg.sh first.
#
#   PROGRAM_RELEASE          the release build's autodeploy.exe (build/release/src of a checkout, or
#                            where make install put it)
#   program_check PATH       refuses (exit 1) a PATH that is missing (for the release build: how
#                            to make it), not a readable regular file, or not a 64-bit Windows
#                            console program (pe.sh)

. "$(dirname "${BASH_SOURCE[0]}")/pe.sh"

PROGRAM_RELEASE=$LAYOUT_WINDOWS/autodeploy.exe

program_check() {
    local program=$1 problem
    if [ ! -e "$program" ]; then
        [ "$program" != "$PROGRAM_RELEASE" ] ||
            msg_die 1 "no release build at $program: $LAYOUT_REBUILD, or name the program with --program"
        msg_die 1 "program not found: $program"
    fi
    [ -f "$program" ] || msg_die 1 "program is not a regular file: $program"
    [ -r "$program" ] || msg_die 1 "cannot read program $program"
    problem=$(pe_check "$program") || msg_die 1 "$problem"
}
