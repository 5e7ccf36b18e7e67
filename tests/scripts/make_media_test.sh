#!/bin/bash
# scripts/make-media on a Windows-setup-shaped tree in the mixed case of real media (stand-in boot
# images, a two-image sources/boot.wim, an install image), as a folder and as a UDF ISO (whose ISO 9660
# names are 8.3 capitals: only UDF has the names as they are).
set -u -o pipefail
name=make_media_test
. "$(dirname "$0")/test_lib.sh"
script=$(cd "$(dirname "$0")/../.." && pwd -P)/scripts/make-media
needs xorriso genisoimage 7zz wimcapture wimappend wimextract
unset WIMLIB_IMAGEX_IGNORE_CASE

win=$in/win iso=$in/-win.iso prog=$tmp/autodeploy.exe
mkdir -p "$win/BOOT" "$win/efi/microsoft/boot" "$win/efi/boot" "$win/sources" "$tmp/pe/Windows/System32" "$in/full"
for f in BOOT/ETFSBOOT.COM:4096 efi/microsoft/boot/efisys.bin:65536 efi/boot/bootx64.efi:3000 sources/Install.WIM:9000 \
    sources/setup.exe:1000; do head -c "${f#*:}" /dev/urandom >"$win/${f%:*}"; done
echo x | tee "$tmp/pe/Windows/System32/cmd.exe" >"$in/full/x"
pe_file "$prog" && printf MZ >"$tmp/mz.exe" && { printf MZ; head -c 900 /dev/urandom; } >"$tmp/autodeploy-guard.exe" &&
    { printf MZ; head -c 700 /dev/urandom; } >"$tmp/autodeploy-watch.exe" && mkdir -p "$tmp/drv/net" &&
    printf '[Manufacturer]\n%%M%% = M, NTamd64\n' >"$tmp/drv/net/a.inf"
{ wimcapture "$tmp/pe" "$win/sources/boot.wim" PE && wimappend "$tmp/pe" "$win/sources/boot.wim" Setup --boot &&
    genisoimage -quiet -udf -o "$iso" "$win" &&
    cp -r "$win" "$in/noefi" && rm "$in/noefi/efi/microsoft/boot/efisys.bin"; } >/dev/null 2>&1 || fail "fixtures"
# Names as data (tar options, a newline, links followed) in a folder named like an option.
cp -a "$win" "$in/-odd" && mkdir "$in/dangling" && ln -s none "$in/dangling/x" && ln -s ../full/x "$in/-odd/link" &&
    for f in -dash.txt --exclude=setup.exe $'new\nline'; do echo "$f" >"$in/-odd/$f"; done || fail "fixtures"

for input in "$in/-odd" "$iso"; do
    o="$tmp/from ${input##*/}" && mkdir -p "$o" && touch "$o/new.iso" && before=$(inputs) && ref=${input/%-win.iso/win}
    run env -C "$in" "$script" --force --program "$prog" --server 10.0.0.1 --usb-folder "$o/usb" \
        --pe-drivers "$tmp/drv" -- "${input##*/}" "$o/new.iso"
    [ "$rc" = 0 ] && [ "$(inputs)" = "$before" ] || fail "from ${input##*/}: status $rc, or the input changed"
    # Each El Torito entry without its LBA.
    [ "$(xorriso -indev "$o/new.iso" -report_el_torito plain 2>/dev/null | awk '/^El Torito boot img /{ $NF = ""; print }
        /^El Torito img path/ { $1 = $1; print }')" = "El Torito boot img : 1 BIOS y none 0x0000 0x00 8 
El Torito boot img : 2 UEFI y none 0x0000 0x00 128 
El Torito img path : 1 /BOOT/ETFSBOOT.COM
El Torito img path : 2 /efi/microsoft/boot/efisys.bin" ] || fail "from ${input##*/}: El Torito entries"
    xorriso -osirrox on -indev "$o/new.iso" -extract / "$o/iso" >/dev/null 2>&1 || fail "from ${input##*/}: extract the ISO"
    for medium in "$o/iso" "$o/usb"; do
        [ "$(diff -r -x boot.wim "$ref" "$medium")" = "Only in $ref/sources: Install.WIM" ] ||
            fail "$medium: not the input's files unchanged, less the install image: $(diff -r -x boot.wim "$ref" "$medium")"
        wimextract "$medium/sources/boot.wim" 2 /Windows/System32/autodeploy.exe --to-stdout 2>/dev/null | cmp -s - "$prog" &&
            ! wimextract "$medium/sources/boot.wim" 1 /Windows/System32/autodeploy.exe --to-stdout >/dev/null 2>&1 ||
            fail "$medium: autodeploy.exe not in image 2 of boot.wim alone"
        [ "$(wimdir "$medium/sources/boot.wim" 2 --path=/Windows/System32 | grep -c '/autodeploy\(-guard\|-watch\)\?\.exe$')" = 3 ] &&
            [ "$(wimextract "$medium/sources/boot.wim" 2 /Windows/System32/autodeploy-server.txt --to-stdout)" = $'server=10.0.0.1\r' ] &&
            wimdir "$medium/sources/boot.wim" 2 | grep -qx /Windows/System32/autodeploy-drivers/all/net/a.inf ||
            fail "$medium: image 2 of boot.wim lacks the guard, the watch, its server or the drivers: $(wimdir "$medium/sources/boot.wim" 2 --path=/Windows/System32)"
    done
    ok "from ${input##*/}: an ISO for BIOS (no emulation, load size 8) and UEFI and a USB folder, with the input's files" \
        "unchanged but for the install image and autodeploy, its guard, its watch (with --server) and the drivers in the" \
        "bootable image"
done

# shellcheck disable=SC2034 # read by the refusal rows below
device="is a device or a system file; the script writes only files: for a USB stick, give --usb-folder a new folder, then copy its contents onto the stick's mounted FAT32 file system"
mknod "$in/disk" b 7 250 2>/dev/null || skip "cannot make a device node (mknod needs root): device refusals not tested"
refusals "$script" --program "$prog" < <(if [ -b "$in/disk" ]; then cat; else grep -v disk; fi <<'EOF'
2|"$win"|missing WINDOWS_ISO_OR_FOLDER or OUTPUT.iso (see --help)
2|--usb-folder "" "$win" "$in/x.iso"|--usb-folder needs a value, got nothing
1|"$in/dangling" "$in/x.iso"|$in/dangling/x is a symbolic link that leads nowhere, or not a file or folder; remove it, or give a folder without it
1|--program "$tmp/mz.exe" "$win" "$in/x.iso"|not a Windows program (no PE header): $tmp/mz.exe; give the 64-bit console build (make release: build/release/src/autodeploy.exe)
1|"$in/none" "$in/x.iso"|no such file or folder: $in/none
2|--pe-drivers "$tmp/pe" "$win" "$in/x.iso"|--pe-drivers $tmp/pe: no .inf file in it: not a folder of drivers
2|--capture "$win" "$in/x.iso"|--capture needs --server ADDRESS[:PORT]: the capture command's, which gives the PC its share
2|--capture --server 10.0.0.1 --unattend "$in/x.xml" "$win" "$in/x.iso"|--stall-seconds and --unattend do not go with --capture (a capture medium deploys nothing)
1|"$win/sources/boot.wim" "$in/x.iso"|not an ISO file: $win/sources/boot.wim (give a Windows installation ISO or its folder)
1|"$iso" "$iso"|OUTPUT.iso $iso is $iso, which this run reads; give another name
1|"$win" "$win/sources/boot.wim"|OUTPUT.iso $win/sources/boot.wim is inside $win, which this run reads; write it outside that folder
1|"$win" "$win/new.iso"|OUTPUT.iso $win/new.iso is inside $win, which this run reads; write it outside that folder
1|"$win" "$prog"|OUTPUT.iso $prog is $prog, which this run reads; give another name
1|"$win" "$in/full/x"|$in/full/x exists; give --force to replace it, or another name
1|--usb-folder "$win/usb" "$win" "$in/x.iso"|--usb-folder $win/usb is inside $win, which this run reads; write it outside that folder
1|"$win" /dev/sdz|OUTPUT.iso /dev/sdz $device
1|--usb-folder /dev/sda "$win" "$in/x.iso"|--usb-folder /dev/sda $device
1|"$win" "$in/full"|$in/full is a folder; give the ISO file's name
1|--usb-folder "$in/full" "$win" "$in/x.iso"|--usb-folder $in/full is not empty; give a new or empty folder
1|"$in/full" "$in/x.iso"|$in/full has no sources/boot.wim: not a Windows installation medium
1|"$in/noefi" "$in/x.iso"|$in/noefi has no efi/microsoft/boot/efisys.bin, so the ISO could not boot on UEFI: give 64-bit Windows setup media
1|"$win" "$in/disk"|OUTPUT.iso $in/disk $device
1|--usb-folder "$in/disk" "$win" "$in/x.iso"|--usb-folder $in/disk $device
EOF
)

# No room for the run's peak (a 64 KiB tmpfs in a mount namespace of our own), a read-only disk and folder.
mkdir "$in/small" "$in/small-ro" "$in/ro" && chmod 555 "$in/ro" || fail "fixtures"
# shellcheck disable=SC2016 # expanded by that shell
if unshare -m true 2>/dev/null; then refusals unshare -m sh -c 'mount -t tmpfs -o size=64k tmpfs "$0" && mount -t tmpfs -o ro tmpfs "$0-ro" && exec env "$@"' "$in/small" <<'EOF'
1|TMPDIR="$in/small" "$script" --program "$prog" "$win" "$in/x.iso"|56KiB free on the disk of $in/small, but this run needs 252KiB there at its peak (the medium's files and two more copies of boot.wim while it is rebuilt, in TMPDIR $in/small): free some room there, or set TMPDIR to a folder on a disk with more room
1|"$script" --program "$prog" "$win" "$in/small/x.iso"|64KiB free on the disk of $in/small, but this run needs 1.2MiB there at its peak (OUTPUT.iso $in/small/x.iso): free some room there, or give an OUTPUT.iso on another disk
1|"$script" --program "$prog" --usb-folder "$in/small-ro/usb" "$win" "$in/x.iso"|--usb-folder $in/small-ro/usb is on a read-only file system ($in/small-ro); give a place on a writable disk, or mount that one read-write
1|"$script" --program "$prog" --usb-folder "$in/ro/usb" "$win" "$in/x.iso"|--usb-folder $in/ro/usb cannot be written: $in/ro is read-only (dr-xr-xr-x); make it writable (chmod u+w) or give another place
EOF
else skip "no mount namespace (unshare -m needs root): a lack of room or a read-only disk not tested"; fi

# Interrupted while the ISO is written (a stand-in xorriso writes part of it and waits): nothing is left.
# shellcheck disable=SC2016 # the stand-in's own expansions
mkdir "$tmp/slow" && printf '#!/bin/sh\nwhile [ "$1" != -o ]; do shift; done\nhead -c 1000 /dev/zero >"$2"; exec sleep 30\n' >"$tmp/slow/xorriso" && chmod +x "$tmp/slow/xorriso" || fail "fixtures"
for signal in HUP INT TERM; do
    before=$(inputs) && set -m # a process group of its own, where INT is not ignored
    PATH="$tmp/slow:$PATH" "$script" --program "$prog" --usb-folder "$in/usb" "$win" "$in/x.iso" &>/dev/null </dev/null &
    pid=$! && set +m
    within 120 writes '.x.iso.make-media.*' "$pid"
    kill -s "$signal" -- "-$pid" && ! wait "$pid" && [ "$(inputs)" = "$before" ] || fail "$signal: status 0, or left files: $(diff <(echo "$before") <(inputs))"
done
ok "interrupted while the ISO is written, it leaves nothing behind"
finish
