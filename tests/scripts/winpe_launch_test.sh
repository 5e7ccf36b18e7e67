#!/bin/bash
# What WinPE starts, under Wine: the launch script and winpeshl.ini that winpe-inject puts into a
# WIM, taken out again; winpeshl.ini's command line runs in Wine's cmd.exe in a pseudo-terminal (a
# console), the stand-in tool playing wpeinit.exe, the disk 0 guard and autodeploy.exe, started by the
# real watch. Usage: winpe_launch_test.sh STANDIN.exe WATCH.exe   (WINE_RUN: the project's Wine wrapper)
# shellcheck disable=SC2016,SC1003 # within, script -c and awk get code in single quotes, run later
set -u
name=winpe_launch_test
. "$(dirname "$0")/test_lib.sh"
repo=$(cd "$(dirname "$0")/../.." && pwd -P)
error_line='Error: dism failed: ExitStatus(ExitStatus(2)) (0x80004005)'
guard_line='磁盘 0（SanDisk Cruzer，USB，16.0 GB）不会被清除。Disk 0 (SanDisk Cruzer, USB, 16.0 GB) will NOT be wiped.'
hold_line='部署失败，本机不会自动重启。Deployment failed; this PC will not restart by itself. Read the Error line above, fix the cause, then restart the PC by hand. Any key opens a command prompt; EXIT returns here.'

sys32=$tmp/sys32
mkdir -p "$tmp/tree/Windows/System32" "$sys32"
echo x >"$tmp/tree/Windows/System32/cmd.exe"
{ wimcapture "$tmp/tree" "$in/boot.wim" pe --boot && "$repo/scripts/winpe-inject" --program "$1" --guard "$1" --watch "$2" "$in/boot.wim" &&
    wimextract "$in/boot.wim" 1 /Windows/System32/{autodeploy{,-guard,-watch}.exe,autodeploy-launch.cmd,winpeshl.ini} --dest-dir="$sys32" &&
    cp "$1" "$sys32/wpeinit.exe" && cp "$1" "$sys32/drvload.exe"; } >/dev/null 2>&1 || fail "winpe-inject, or the files it added"
# Drivers beside the watch: three .inf files for every PC, in their sorted order; no other file, and no model's
# folder (Wine's firmware, if it names one, is no such make) is loaded.
drivers=$sys32/autodeploy-drivers infs=(all/net/A.INF all/net/b.inf all/storage/sub/c.inf)
mkdir -p "$drivers"/all/{net,storage/sub} "$drivers/by-model/No Such Make/No Model" &&
    touch "${infs[@]/#/$drivers/}" "$drivers/all/net/a.sys" "$drivers/by-model/No Such Make/No Model/d.inf" || fail "drivers"
# cmd.exe misreads LF-only labels; Wine's cmd shows no effect of chcp (it reads batch files in code
# page 437 whatever chcp says), so only the order is checked: UTF-8 from before the hold line on.
[ "$(grep -c $'\r$' "$sys32/autodeploy-launch.cmd")" = "$(wc -l <"$sys32/autodeploy-launch.cmd")" ] &&
    [ "$(grep -m 2 -e '^chcp 65001 >nul' -e '^echo 部署失败' "$sys32/autodeploy-launch.cmd" | cut -c1-4)" = $'chcp\necho' ] ||
    fail "autodeploy-launch.cmd: not CRLF, or no 'chcp 65001 >nul' before the hold line"
# winpeshl.ini's one line "PROGRAM, ARGUMENTS"; its %SYSTEMDRIVE%\Windows\System32\ is $sys32 here.
app=$(sed -n '2s/\r$//p' "$sys32/winpeshl.ini")
[ "${app%%, *}" = '%SYSTEMDRIVE%\Windows\System32\cmd.exe' ] || fail "winpeshl.ini does not start cmd.exe: [$app]"
arguments=$(P='%SYSTEMDRIVE%\Windows\System32\' R="Z:$(tr / '\\' <<<"$sys32/")" awk '{ p = ENVIRON["P"]
    while (i = index($0, p)) $0 = substr($0, 1, i - 1) ENVIRON["R"] substr($0, i + length(p)); print }' <<<"${app#*, }")

# start: runs cmd.exe with them in a pseudo-terminal 400 columns wide, keys from a FIFO, screen to a file.
mkfifo "$tmp/keys" || fail "mkfifo"
start() {
    rm -f "$tmp/typescript"
    (cd "$sys32" && ARGUMENTS=$arguments TMPDIR=$outer_tmpdir exec script -qfec 'stty cols 400; $WINE_RUN cmd.exe $ARGUMENTS' "$tmp/typescript" \
        <"$tmp/keys" >/dev/null 2>&1) &
    held=$!
    exec 7>"$tmp/keys"
}
# script(1) leads the pseudo-terminal: ending it hangs up cmd.exe and its children.
at_exit() { [ -n "${held:-}" ] && kill -KILL "$held" 2>/dev/null; exec 7>&-; }
# The screen's lines; Wine's console shows the script's bytes as code page 437 characters in UTF-8, the
# watch's own lines (UTF-16 to the console) as they are: raw keeps those, screen drops them.
raw() { sed -e 's/\x1b\][^\x07]*\x07//g' -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\r//g' "$tmp/typescript"; }
screen() { raw | iconv -c -f UTF-8 -t IBM437 2>/dev/null; }
holds() { screen | grep -cxF -- "$hold_line"; }

ran() { cut -f1 "$tmp/journal" | paste -s -d ' '; }
system_temp=$AUTODEPLOY_WINEPREFIX/drive_c/windows/SystemTemp
rm -rf "$system_temp"
STANDIN_EXIT=0 STANDIN_JOURNAL="Z:$tmp/journal" start
within 30 eval '! kill -0 $held 2>/dev/null' && wait "$held" && held= && [ "$(holds)" = 0 ] || fail "success: no end with 0 within 30 s"
loads="drvload drvload drvload" z="Z:$(tr / '\\' <<<"$drivers")\\"
[ "$(ran)" = "wpeinit $loads autodeploy-guard autodeploy" ] && [ -d "$system_temp" ] ||
    fail "success: ran [$(ran)], or no %SystemRoot%\\SystemTemp made"
[ "$(grep '^drvload' "$tmp/journal")" = "$(printf 'drvload\t%s\n' "${infs[@]/#/$z}" | tr / '\\')" ] &&
    [ "$(raw | grep -e '^已加载驱动' | sed 's/.*。//')" = "$(printf 'Driver loaded: %s\n' "${infs[@]/#/$z}" | tr / '\\')
Drivers loaded: 3 of 3." ] && [ "$(tr -d '\r' <"$sys32/autodeploy-drivers-loaded.txt")" = "3 of 3" ] ||
    fail "drivers: drvload ran for [$(grep '^drvload' "$tmp/journal")], the screen: [$(raw)]"
exec 7>&-
ok "the guard allows: wpeinit, drvload for each .inf with its line and the tally, %SystemRoot%\\SystemTemp made, the guard, autodeploy, and the script ends with status 0"

# A refusal (1) and a crash (a negative code to cmd.exe) hold before autodeploy, the guard's line kept.
for code in 1 0xC0000005; do
    rm -f "$tmp/journal"
    STANDIN_AUTODEPLOY_GUARD_EXIT=$code STANDIN_AUTODEPLOY_GUARD_STDOUT=$guard_line STANDIN_JOURNAL="Z:$tmp/journal" start
    within 30 eval '[ $(holds) = 1 ]' && sleep 3 && kill -0 "$held" && [ "$(ran)" = "wpeinit $loads autodeploy-guard" ] &&
        [ "$(screen | grep -A 1 -xF -- "$guard_line")" = "$guard_line"$'\n'"$hold_line" ] ||
        fail "guard exits with $code: ran [$(ran)], not held after its line: [$(screen)]"
    kill -KILL "$held" && wait "$held" 2>/dev/null
    held= && exec 7>&-
    ok "the guard exits with $code: its line, the hold line, no autodeploy, and it waits"
done

STANDIN_DRVLOAD_EXIT=2 STANDIN_AUTODEPLOY_EXIT=1 STANDIN_AUTODEPLOY_STDERR="$error_line" start
within 30 eval '[ $(holds) = 1 ]' && sleep 3 && kill -0 "$held" && screen | grep -qxF -- "$error_line" && [ "$(holds)" = 1 ] ||
    fail "failure: not held once with the Error line kept: [$(screen)]"
[ "$(raw | grep -c '^驱动加载失败：.*。Driver not loaded: .* (drvload failed: .*)$')" = 3 ] &&
    raw | grep -qxF '已加载驱动 0 个，共 3 个。Drivers loaded: 0 of 3.' || fail "drvload fails: not said so: [$(raw)]"
ok "drvload fails: said for each, the run goes on; autodeploy fails: its Error line stays, the hold line follows once, and it waits"
printf 'x' >&7
sleep 2
printf 'exit\r' >&7
within 30 eval '[ $(holds) = 2 ]' && sleep 2 && kill -0 "$held" && [ "$(holds)" = 2 ] || fail "key press, EXIT: not held again"
ok "a key press opens a prompt; EXIT there returns to the wait, no restart"
finish
