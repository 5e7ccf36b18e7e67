# Shared by the script tests: counting, failing with the last run's output, signal traps.
# Needs $name (the test's name) and $tmp (its temporary folder) set before use.

passed=0
fail() {
    printf 'FAIL: %s\n' "$*" >&2
    for f in out err; do
        if [ -s "$tmp/$f" ]; then printf -- '--- std%s of the last run:\n' "$f" >&2; cat "$tmp/$f" >&2; fi
    done
    printf '%s: %s passed, 1 failed\n' "$name" "$passed"
    exit 1
}
ok() { passed=$((passed + 1)); printf 'ok %s - %s\n' "$passed" "$*"; }

# The EXIT trap (the test's own cleanup) also runs on these.
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
