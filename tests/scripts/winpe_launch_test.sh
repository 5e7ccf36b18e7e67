#!/bin/sh
# What WinPE runs at start-up, under Wine: winpe-inject puts the program, autodeploy-launch.cmd
# and winpeshl.ini into a WIM; the test takes them out again and runs winpeshl.ini's command
# line with Wine's cmd.exe in a pseudo-terminal (a console, as in WinPE), the stand-in tool
# playing wpeinit.exe and autodeploy.exe. A success ends at once; a failure keeps its lines,
# adds the hold line and waits, also after a key press and EXIT from the prompt it opens.
# Usage: winpe_launch_test.sh STANDIN.exe   (WINE_RUN: the project's Wine wrapper)
set -u

name=winpe_launch_test
here=$(cd "$(dirname "$0")" && pwd -P)
repo=$(cd "$here/../.." && pwd -P)
standin=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/$name.XXXXXX") || { echo "$name: cannot create a temporary folder" >&2; exit 1; }
held=
cleanup() {
    # script(1) leads the pseudo-terminal; ending it hangs up cmd.exe and its children.
    [ -n "$held" ] && kill -KILL "$held" 2>/dev/null
    exec 7>&- 2>/dev/null
    rm -rf -- "$tmp"
}
trap cleanup EXIT
. "$here/test_lib.sh"

error_line='Error: dism failed: ExitStatus(ExitStatus(2)) (0x80004005)'
hold_line='部署失败，本机不会自动重启。Deployment failed; this PC will not restart by itself. Read the Error line above, fix the cause, then restart the PC by hand. Any key opens a command prompt; EXIT returns here.'

# --- what the WIM gets ----------------------------------------------------------
mkdir -p "$tmp/tree/Windows/System32" "$tmp/sys32"
echo x >"$tmp/tree/Windows/System32/cmd.exe"
wimcapture "$tmp/tree" "$tmp/boot.wim" pe --boot >/dev/null 2>&1 || fail "wimcapture"
"$repo/scripts/winpe-inject" --program "$standin" "$tmp/boot.wim" >"$tmp/out" 2>"$tmp/err" || fail "winpe-inject"
for f in autodeploy.exe autodeploy-launch.cmd winpeshl.ini; do
    wimextract "$tmp/boot.wim" 1 "/Windows/System32/$f" --dest-dir="$tmp/sys32" >/dev/null 2>&1 || fail "no $f in the WIM"
done
cp "$standin" "$tmp/sys32/wpeinit.exe"
script_file="$tmp/sys32/autodeploy-launch.cmd"

# cmd.exe reads a batch file in the console's code page and misreads LF-only labels.
[ "$(grep -c "$(printf '\r')\$" "$script_file")" = "$(wc -l <"$script_file")" ] ||
    fail "autodeploy-launch.cmd has lines without CRLF"
awk '{ sub(/\r$/, "") } /^chcp 65001 >nul$/ { chcp = NR } /^echo 部署失败/ { echo = NR }
    END { exit !(chcp && echo > chcp) }' "$script_file" || fail "no 'chcp 65001 >nul' before the hold line"
ok "autodeploy-launch.cmd: CRLF, UTF-8 hold line after chcp 65001"

# winpeshl.ini's one app: "PROGRAM, ARGUMENTS", paths under %SYSTEMDRIVE%\Windows\System32.
app=$(sed -n '2s/\r$//p' "$tmp/sys32/winpeshl.ini")
sys32_prefix='%SYSTEMDRIVE%\Windows\System32\'
[ "${app%%, *}" = "${sys32_prefix}cmd.exe" ] || fail "winpeshl.ini does not start cmd.exe: [$app]"
# Those paths here: the folder the files were extracted to, as Wine names it.
arguments=$(P=$sys32_prefix R="Z:$(printf '%s' "$tmp/sys32/" | tr / '\\')" awk 'BEGIN { p = ENVIRON["P"]; r = ENVIRON["R"] }
    { while ((i = index($0, p)) > 0) $0 = substr($0, 1, i - 1) r substr($0, i + length(p)); print }' <<EOF
${app#*, }
EOF
)

# start: runs winpeshl.ini's command line in a pseudo-terminal 400 columns wide (no wrapping),
# in the background, keys from the FIFO; the screen goes to $tmp/typescript.
rm -f "$tmp/keys"
mkfifo "$tmp/keys" || fail "mkfifo"
start() {
    rm -f "$tmp/typescript"
    # The arguments come through the environment: expanded, not parsed again by the shell.
    (cd "$tmp/sys32" && LAUNCH_ARGUMENTS=$arguments exec script -qfec 'stty cols 400; $WINE_RUN cmd.exe $LAUNCH_ARGUMENTS' \
        "$tmp/typescript" <"$tmp/keys" >/dev/null 2>&1) &
    held=$!
    exec 7>"$tmp/keys"
}
# The screen's lines. Wine's cmd reads batch files in the OEM code page (437) whatever chcp
# says, and the console shows those characters as UTF-8; turning them back to code page 437
# gives the bytes of the file, which Windows' cmd reads as UTF-8 after chcp 65001.
screen() {
    sed -e 's/\x1b\][^\x07]*\x07//g' -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\r//g' "$tmp/typescript" |
        iconv -f UTF-8 -t IBM437 2>/dev/null
}
holds() { screen | grep -cxF -- "$hold_line"; }
wait_for_holds() { # wait_for_holds N: up to 30 s for the hold line to be shown N times
    i=0
    while [ "$(holds)" -lt "$1" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
}
running() { kill -0 "$held" 2>/dev/null; }

# --- autodeploy succeeds: the script ends, nothing is added -------------------------------
STANDIN_EXIT=0 STANDIN_JOURNAL="Z:$tmp/journal" start
i=0
while running && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
! running || fail "success: still running after 30 s"
wait "$held"
rc=$?
held=
exec 7>&-
[ "$rc" = 0 ] || fail "success: exit status $rc"
[ "$(holds)" = 0 ] || fail "success: the hold line was shown"
[ "$(cut -f1 "$tmp/journal" | tr '\n' ' ')" = "wpeinit autodeploy " ] ||
    fail "success: ran [$(cat "$tmp/journal")], expected wpeinit then autodeploy"
ok "autodeploy exits 0: wpeinit, autodeploy, then the script ends with status 0"

# --- autodeploy fails: the lines stay, the hold line follows, it waits ----------------------
STANDIN_AUTODEPLOY_EXIT=1 STANDIN_AUTODEPLOY_STDERR="$error_line" start
wait_for_holds 1
sleep 3
running || fail "failure: the script ended"
[ "$(holds)" = 1 ] || fail "failure: hold line shown $(holds) times, expected once: [$(screen)]"
[ "$(screen | grep -vx '' | grep -A1 -xF -- "$error_line" | tail -n 1)" = "$hold_line" ] ||
    fail "failure: the hold line does not follow the Error line: [$(screen)]"
ok "autodeploy exits 1: Error line kept, hold line added once, still waiting after 3 s"

printf 'x' >&7
sleep 2
printf 'exit\r' >&7
wait_for_holds 2
sleep 2
running || fail "key press: the script ended"
[ "$(holds)" = 2 ] || fail "key press, EXIT: hold line shown $(holds) times, expected twice"
ok "a key press opens a prompt; EXIT there returns to the wait, no restart"

printf '%s: %s passed, 0 failed\n' "$name" "$passed"
