# shellcheck shell=bash
# program.sh: the autodeploy.exe an operator script puts on a medium: the release build unless
# --program names another.
#
#   PROGRAM_RELEASE          build/release/src/autodeploy.exe of this checkout
#   program_check PATH       refuses (exit 1) a PATH that is missing (for the release build: how
#                            to make it), not a readable regular file, or not a 64-bit Windows
#                            console program (pe.sh)

. "$(dirname "${BASH_SOURCE[0]}")/pe.sh"

PROGRAM_RELEASE=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)/build/release/src/autodeploy.exe

program_check() {
    local program=$1 problem
    if [ ! -e "$program" ]; then
        [ "$program" != "$PROGRAM_RELEASE" ] ||
            msg_die 1 "no release build at $program: run 'make release' first, or name the program with --program"
        msg_die 1 "program not found: $program"
    fi
    [ -f "$program" ] || msg_die 1 "program is not a regular file: $program"
    [ -r "$program" ] || msg_die 1 "cannot read program $program"
    problem=$(pe_check "$program") || msg_die 1 "$problem"
}
