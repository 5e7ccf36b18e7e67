#!/bin/bash
# scripts/winpe-inject on small WinPE-shaped WIMs made with wimcapture.
set -u -o pipefail
name=winpe_inject_test
. "$(dirname "$0")/test_lib.sh"
script=$(cd "$(dirname "$0")/../.." && pwd -P)/scripts/winpe-inject
needs wimcapture wimappend wimextract wiminfo wimupdate
unset WIMLIB_IMAGEX_IGNORE_CASE

# two.wim: image 1 without \Windows\System32, image 2 (bootable) with it in lower case.
mkdir -p "$tmp/notpe/Users" "$tmp/pe/windows/system32" "$tmp/clash/Windows/System32/autodeploy.exe" "$tmp/lone"
echo x | tee "$tmp/notpe/Users/a" "$tmp/pe/windows/system32/cmd.exe" >"$tmp/clash/Windows/System32/autodeploy.exe/a"
two=$in/two.wim clash=$in/clash.wim ro=$in/ro.wim prog=$tmp/autodeploy.exe prog2=$tmp/other.exe
{ wimcapture "$tmp/notpe" "$two" "PE" && wimappend "$tmp/pe" "$two" "Setup" --boot && wimcapture "$tmp/clash" "$clash" clash &&
    cp "$two" "$ro" && chmod 444 "$ro" && head -c 3000 /dev/urandom >"$in/random.wim"; } >/dev/null || fail "fixtures"
pe_file "$prog" && pe_file "$prog2" && pe_file "$tmp/lone/autodeploy.exe" && pe_file "$tmp/autodeploy-guard.exe" &&
    pe_file "$tmp/autodeploy-watch.exe" && pe_file "$tmp/x86.exe" 014c && pe_file "$tmp/dll.exe" 8664 2022 &&
    pe_file "$tmp/gui.exe" 8664 0022 02 && printf MZ >"$tmp/mz.exe" && printf ELF >"$tmp/elf.exe" || fail "fixtures"
# Drivers: a package for every PC and one for a model; a folder with an x86-only one.
inf() { mkdir -p "$(dirname "$1")" && printf '[Manufacturer]\r\n%%M%% = M, %s\r\n' "$2" >"$1"; }
inf "$tmp/it's drv/net 1/a.inf" NTamd64 && inf "$tmp/it's drv/by-model/Dell Inc./M1/b.inf" NTx86,NTamd64.10.0 &&
    inf "$tmp/drv86/x/c.inf" NTx86 || fail "fixtures"
# shellcheck disable=SC2034 # read by the refusal rows below
instead="give the 64-bit console build (make release: build/release/src/autodeploy.exe)"
extract() { wimextract "$two" "$1" "/windows/system32/$2" --to-stdout 2>/dev/null; }

# The bootable image by default; the added files exactly, in the image's own folder; no leftovers;
# the WIM's mode (and, as root, owner) kept.
chmod 640 "$two" && { [ "$(id -u)" != 0 ] || chown 1234:1234 "$two"; } && mode=$(stat -c %a:%u:%g "$two")
run "$script" --program "$prog" "$two"
[ "$(stat -c %a:%u:%g "$two")" = "$mode" ] || fail "the WIM's mode and owner $mode became $(stat -c %a:%u:%g "$two")"
[ "$rc" = 0 ] && [ "$(head -n 1 "$tmp/out")" = "winpe-inject: updated image 2 (\"Setup\") of $two" ] ||
    fail "default image: status $rc"
extract 2 autodeploy.exe | cmp -s - "$prog" && extract 2 autodeploy-guard.exe | cmp -s - "$tmp/autodeploy-guard.exe" &&
    extract 2 autodeploy-watch.exe | cmp -s - "$tmp/autodeploy-watch.exe" && extract 2 autodeploy-launch.cmd >/dev/null &&
    ! extract 2 autodeploy-server.txt >/dev/null || fail "image 2 lacks the program, the guard or the watch beside it, or the launch script"
printf '[LaunchApps]\r\n%%SYSTEMDRIVE%%\\Windows\\System32\\cmd.exe, /k %%SYSTEMDRIVE%%\\Windows\\System32\\autodeploy-launch.cmd\r\n' |
    cmp -s - <(extract 2 winpeshl.ini) || fail "winpeshl.ini is [$(extract 2 winpeshl.ini | od -c)]"
# shellcheck disable=SC2012 # the names are the fixtures' own
[ "$(ls -A "$in" "$TMPDIR" | paste -s -d ' ')" = "$in: clash.wim random.wim ro.wim two.wim  $TMPDIR:" ] ||
    fail "left files: $(ls -A "$in" "$TMPDIR")"
ok "the bootable image gets the program, the guard and the watch beside it, the launch script and winpeshl.ini (CRLF); nothing left over"

# Again with another program: it is replaced; a third run with it does not grow the WIM.
run "$script" --program "$prog2" "$two" && size=$(stat -c %s "$two")
extract 2 autodeploy.exe | cmp -s - "$prog2" && ln "$two" "$in/hard.wim" && run "$script" --program "$prog2" "$two" &&
    [ "$rc" = 0 ] && [ "$(stat -c %s "$two")" = "$size" ] && [ ! "$in/hard.wim" -ef "$two" ] && rm "$in/hard.wim" ||
    fail "running again: not replaced, or $size bytes became $(stat -c %s "$two")"
[ "$(sed -n 2p "$tmp/out")" = "winpe-inject: $two had 1 other hard link; those names still lead to the old content (the update is a new file): link them anew (ln -f) or update them too" ] || fail "a hard link to the WIM not said"
ok "running again replaces the program and does not grow the WIM; a hard link to it is said to keep the old content"

# The deliberate override: a marker beside the guard, which a run without the option takes out again.
run "$script" --program "$prog" --guard "$prog2" --override-disk-guard "$two" && extract 2 autodeploy-guard.exe | cmp -s - "$prog2" &&
    [ "$(extract 2 autodeploy-guard-override.txt | head -c 44)" = "Added by winpe-inject --override-disk-guard:" ] &&
    run "$script" --program "$prog" "$two" && [ "$rc" = 0 ] && ! extract 2 autodeploy-guard-override.txt >/dev/null ||
    fail "--guard, --override-disk-guard: status $rc, or the guard or the override marker not as asked"
ok "--guard names the guard; --override-disk-guard adds the override marker, and a run without it takes it out"

# The watch's files; the answer file gets ComputerName * (a medium serves any PC); a run without them takes them out.
sed 's/CHANGE-ME/First-Logon-1/; s|<ComputerName>\*<|<ComputerName>LAB-01<|' "$(dirname "$script")/../assets/unattend.xml" \
    >"$tmp/unattend.xml" || fail "the answer file"
run "$script" --program "$prog" --server 10.0.0.1:8081 --stall-seconds 030 --unattend "$tmp/unattend.xml" \
    --pe-drivers "$tmp/it's drv" "$two" &&
    grep -qxF "  added \\Windows\\System32\\autodeploy.exe ($(wc -c <"$prog") bytes, from $prog)" "$tmp/out" &&
    [ "$(tail -n 1 "$tmp/out")" = "winpe-inject: --pe-drivers: 2 driver packages (2 .inf files) add 0.0 MB to the boot \
image before compression: every PC downloads it with WinPE" ] && extract 2 "autodeploy-drivers/all/net 1/a.inf" | cmp -s - \
    "$tmp/it's drv/net 1/a.inf" && extract 2 "autodeploy-drivers/by-model/Dell Inc./M1/b.inf" >/dev/null &&
    grep -qxF '  added \Windows\System32\autodeploy-watch.txt (stall time 30 s)' "$tmp/out" &&
    [ "$(extract 2 autodeploy-server.txt)" = $'server=10.0.0.1:8081\r' ] && [ "$(extract 2 autodeploy-watch.txt)" = $'stall-seconds=30\r' ] &&
    [ "$(extract 2 autodeploy-unattend.xml | grep -c '<ComputerName>\*</ComputerName>')" = 1 ] &&
    extract 2 autodeploy-unattend.xml | python3 -c 'import sys, xml.etree.ElementTree as t; t.parse(sys.stdin)' &&
    run "$script" --program "$prog" "$two" && ! extract 2 autodeploy-server.txt >/dev/null && ! extract 2 autodeploy-watch.txt >/dev/null &&
    ! extract 2 autodeploy-unattend.xml >/dev/null && ! extract 2 "autodeploy-drivers/all/net 1/a.inf" >/dev/null ||
    fail "--server, --stall-seconds, --unattend, --pe-drivers: status $rc, or the files not as asked"
ok "--server, --stall-seconds, --unattend, --pe-drivers write the watch's files (the answer file's ComputerName *) and the \
drivers (all/, by-model/, their size said), a run without them takes them out"

refusals "$script" --program "$prog" <<'EOF'
2|"$two" --index|--index needs a value (see --help)
2|"$two" --guard|--guard needs a value (see --help)
2|--server 10.0.0.1:0 "$two"|--server needs ADDRESS[:PORT], an IPv4 address and an optional port (e.g. 10.0.0.1:8080), got '10.0.0.1:0'
2|--stall-seconds 5 "$two"|--stall-seconds needs a whole number from 10 to 86400, got '5'
2|--unattend "$two" "$two"|the answer file $two is not UTF-8 text (byte 9): save it as UTF-8, or start again from assets/unattend.xml
2|--force "$two"|unknown option: --force (see --help)
2||missing BOOT.WIM (see --help)
2|"$two" "$ro"|too many arguments (see --help)
2|--index 0 "$two"|--index needs a whole number of 1 or more, got '0'
2|--index= "$two"|--index needs a whole number of 1 or more, got nothing
1|"$in/none.wim"|no such file: $in/none.wim
1|"$in"|not a regular file: $in
1|"$in/random.wim"|not a WIM file: $in/random.wim
1|--index 3 "$two"|image 3 does not exist in $two (it has 2 images)
1|--index 1 "$two"|image 1 of $two has no \\Windows\\System32 folder (not a WinPE image?)
1|--program "$tmp/none.exe" "$two"|program not found: $tmp/none.exe
1|--program "$tmp/elf.exe" "$two"|not a Windows program (no PE header): $tmp/elf.exe; $instead
1|--program "$tmp/mz.exe" "$two"|not a Windows program (no PE header): $tmp/mz.exe; $instead
1|--program "$tmp/x86.exe" "$two"|$tmp/x86.exe is a 32-bit (x86) program, which 64-bit WinPE cannot start; $instead
1|--program "$tmp/dll.exe" "$two"|$tmp/dll.exe is a DLL, not a program; $instead
1|--program "$tmp/gui.exe" "$two"|$tmp/gui.exe is a windowed (GUI) program: it would show nothing on WinPE's console; $instead
1|--program "$tmp/lone/autodeploy.exe" "$two"|no disk guard beside $tmp/lone/autodeploy.exe ($tmp/lone/autodeploy-guard.exe; the release build makes both): run 'make release' first, or name it with --guard
1|--guard "$tmp/none.exe" "$two"|guard not found: $tmp/none.exe
2|--pe-drivers "$tmp/lone" "$two"|--pe-drivers $tmp/lone: no .inf file in it: not a folder of drivers
2|--pe-drivers "$tmp/drv86" "$two"|--pe-drivers $tmp/drv86/x/c.inf: no models for x64: its [Manufacturer] section names x86 only (no NTamd64): give the x64 driver
1|--guard "$tmp/elf.exe" "$two"|not a Windows program (no MZ header): $tmp/elf.exe
1|"$ro"|$ro is read-only; make it writable (chmod u+w) if it may be changed, or give a copy
1|"$clash"|wimupdate could not update image 1 of $clash: \"/Windows/System32/autodeploy.exe\" is a directory! Specify the path at which to place the file inside this directory. Exiting with error code 32: One of the specified paths to delete was a directory.; fix that and run again ($clash is left as it was)
EOF

ln -s two.wim "$in/-two.wim" && run env -C "$in" "$script" --program "$prog" -- -two.wim &&
    [ "$(head -n 1 "$tmp/out")" = 'winpe-inject: updated image 2 ("Setup") of -two.wim' ] || fail "-two.wim: status $rc"

# A capture boot image: the capture program, its script and stamp, nothing of a deployment; each kind refused as
# the other, so neither is ever taken for the other.
pe_file "$tmp/autodeploy-capture.exe" && wimcapture "$tmp/pe" "$in/cap.wim" PE --boot >/dev/null &&
    run "$script" --capture --program "$prog" --server 10.0.0.9 "$in/cap.wim" && [ "$rc" = 0 ] || fail "--capture: status $rc"
[ "$(wimdir "$in/cap.wim" 1 | grep -i -c -e '/autodeploy-capture\.exe$' -e '/autodeploy-capture\.txt$' \
    -e '/autodeploy-capture-launch\.cmd$' -e '/autodeploy-server\.txt$' -e '/autodeploy\(-guard\|-watch\|-launch\)\?\.[a-z]*$')" = 4 ] &&
    WIMLIB_IMAGEX_IGNORE_CASE=1 wimextract "$in/cap.wim" 1 /Windows/System32/winpeshl.ini --to-stdout | grep -q 'autodeploy-capture-launch\.cmd' ||
    fail "--capture: $(wimdir "$in/cap.wim" 1)"
refusals "$script" --program "$prog" <<'EOF'
1|"$in/cap.wim"|image 1 of $in/cap.wim is a capture boot image (it holds \\Windows\\System32\\autodeploy-capture.txt): make a deployment one from the Windows medium's own sources/boot.wim
1|--capture --index 2 "$two"|image 2 of $two holds autodeploy.exe (a deployment boot image): make the capture one from the Windows medium's own sources/boot.wim
2|--capture --guard "$prog" "$in/cap.wim"|--guard does not go with --capture (a capture boot image has no deployment in it)
EOF
ok "--capture: the capture program, its script, winpeshl.ini and stamp, no autodeploy, guard or watch; each kind refused as the other"

# Interrupted while wimupdate writes (a stand-in that makes its partial file beside the copy, as
# wimlib does, and waits): HUP, INT and TERM to the process group leave nothing behind.
mkdir -p "$tmp/slow" "$tmp/bin" && ln -s /bin/true "$tmp/bin/wimextract" || fail "fixtures"
# shellcheck disable=SC2016 # the stand-in's own expansions
printf '#!/bin/sh\nhead -c 1000 /dev/zero >"$1.partial"\nexec sleep 30\n' >"$tmp/slow/wimupdate" && chmod +x "$tmp/slow/wimupdate"
for signal in HUP INT TERM; do
    before=$(inputs) && set -m # a process group of its own, where INT is not ignored
    PATH="$tmp/slow:$PATH" "$script" --program "$prog" "$two" &>/dev/null </dev/null &
    pid=$! && set +m && within 120 writes '*.partial' "$pid"
    run "$script" --program "$prog2" "$two"
    [ "$rc" = 1 ] && [ "$(cat "$tmp/err")" = "winpe-inject: $two is being changed by another run (pid $pid: /bin/bash $script --program $prog $two); wait until it has ended, then run again" ] || fail "a second run at once: status $rc"
    kill -s "$signal" -- "-$pid" && ! wait "$pid" && [ "$(inputs)" = "$before" ] ||
        fail "$signal: status 0, or left files: $(diff <(echo "$before") <(inputs))"
done
ok "interrupted by HUP, INT or TERM to its process group, it leaves the WIM as it was and nothing beside it; a second run meanwhile is refused with the first one's pid"

# With a stand-in wimextract that reads back nothing:
refusals env PATH="$tmp/bin:$PATH" "$script" --program "$prog" <<'EOF'
1|--index 2 "$two"|the updated image does not read back \\Windows\\System32\\autodeploy.exe correctly; $two left as it was
EOF
# lab/demo checks what it is given with the same helpers.
script=${script%/scripts/*}/lab/demo && refusals env -C "$in" "$script" <<'EOF'
2|--machines|--machines needs a value (see --help)
2|--firmware=|--firmware needs uefi or bios, got nothing
2|--image -two.wim --index 3|--index must be from 1 to 2 (the images of -two.wim), not '3'
EOF
finish
