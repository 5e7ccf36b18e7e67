# shellcheck shell=bash disable=SC2154 # $name, and for refusals $script, are the sourcing test's
# Shared by the bash tests: set $name, then source. $tmp (made unless set) goes on exit or a signal, after the
# test's own at_exit; inputs go in $tmp/in, the scripts' temporary files in $tmp/tmpdir (TMPDIR).
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/cleanup.sh"
passed=0 skipped=0
[ -n "${tmp:-}" ] || tmp=$(mktemp -d "${TMPDIR:-/tmp}/$name.XXXXXX") || { echo "$name: no temporary folder" >&2; exit 1; }
test_at_exit() { ! declare -F at_exit >/dev/null || at_exit; }
cleanup_on_exit
cleanup_also test_at_exit
cleanup_later "$tmp"
# Programs under Wine get the caller's TMPDIR (Wine's server socket is there), or a second server is left running.
# shellcheck disable=SC2034 # for the tests that run Wine
outer_tmpdir=${TMPDIR:-/tmp}
in=$tmp/in && mkdir -p "$in" "$tmp/tmpdir" && export TMPDIR=$tmp/tmpdir

fail() {
    printf 'FAIL: %s\n' "$*" >&2
    for f in out err; do [ ! -s "$tmp/$f" ] || { printf -- '--- std%s of the last run:\n' "$f"; cat "$tmp/$f"; } >&2; done
    printf '%s: %s passed, 1 failed\n' "$name" "$passed"
    exit 1
}
ok() { passed=$((passed + 1)); printf 'ok %s - %s\n' "$passed" "$*"; }
skip() { skipped=$((skipped + 1)); printf 'SKIP: %s\n' "$*"; }
finish() { printf '%s: %s passed, 0 failed%s\n' "$name" "$passed" "$([ $skipped = 0 ] || echo ", $skipped skipped")"; }
needs() { for t in "$@"; do command -v "$t" >/dev/null || fail "$t is not installed"; done; }

run() { "$@" >"$tmp/out" 2>"$tmp/err" </dev/null; rc=$?; } # run COMMAND...: sets $rc
# within SECONDS COMMAND...: COMMAND every 0.2 s until it succeeds, SECONDS at most (in tries: load stretches them).
within() { local i; for ((i = 0; i < $1 * 5; i++)); do "${@:2}" && return 0; sleep 0.2; done; return 1; }
writes() { [ -n "$(find "$in" -name "$1" -size +0)" ] || ! kill -0 "$2" 2>/dev/null; } # writes GLOB PID: in $in, or PID ended
held() { ip netns exec "$1" ss -H -l -n "$2" "sport = :$3" | grep -q .; } # held NAMESPACE -t|-u PORT: listened on
# Every file and folder under $tmp/in and $TMPDIR, with its mode, owner and, for a file, its SHA-256.
inputs() { (cd "$tmp" && find in tmpdir -printf '%p %M %u:%g\n' -type f -exec sha256sum {} + | sort); }
# pe_file PATH [MACHINE [CHARACTERISTICS [SUBSYSTEM]]]: a PE header (x64 console program: 8664 0022 03) and noise.
pe_file() {
    local m=${2:-8664} c=${3:-0022}
    { printf 'MZ' && head -c 58 /dev/zero && printf %b "\\x40\\0\\0\\0PE\\0\\0\\x${m:2}\\x${m:0:2}" && head -c 16 /dev/zero &&
        printf %b "\\x${c:2}\\x${c:0:2}\\x0b\\x02" && head -c 66 /dev/zero && printf %b "\\x${4:-03}\\0" && head -c 20000 /dev/urandom; } >"$1"
}

# nobody_reaches SCRIPT: whether the user nobody can run SCRIPT (setpriv, as root); a SKIP line says why not.
nobody_reaches() {
    [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null || return 1
    setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$1" ||
        { skip "the user nobody cannot reach $1 (a checkout in a private folder): not-root refusal not tried"; return 1; }
}

# refusals COMMAND... <TABLE: each row "STATUS|ARGUMENTS|MESSAGE" (expanded as the row runs) runs COMMAND ARGUMENTS,
# which must end with STATUS, print exactly "SCRIPT: MESSAGE" on stderr ($script names it) and nothing on stdout,
# and leave $tmp/in and $TMPDIR as they were.
refusals() {
    local status args message before row
    while IFS='|' read -r status args message; do
        eval "row=($args)"
        eval "message=\"${script##*/}: $message\""
        before=$(inputs)
        run "$@" "${row[@]}"
        [ "$rc" = "$status" ] && [ "$(cat "$tmp/err")" = "$message" ] && [ ! -s "$tmp/out" ] ||
            fail "[$args]: status $rc, expected $status and [$message]"
        [ "$(inputs)" = "$before" ] || fail "[$args]: changed or left files: $(diff <(echo "$before") <(inputs))"
        ok "refused: [$args]"
    done
}
