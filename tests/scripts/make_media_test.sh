#!/bin/bash
# Tests of scripts/make-media on a Windows-setup-shaped tree that the test makes (stand-in boot
# images, a two-image sources/boot.wim, an install.wim), given as a folder and packed into an ISO
# with Joliet names only (no Rock Ridge), like media made for Windows.
# Stops at the first failure; removes everything it made, also on failure.

set -u
set -o pipefail

name=make_media_test
here=$(cd "$(dirname "$0")" && pwd -P)
repo=$(cd "$here/../.." && pwd -P)
make_media="$repo/scripts/make-media"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/$name.XXXXXX") || { echo "$name: cannot create a temporary folder" >&2; exit 1; }
trap 'rm -rf -- "$tmp"' EXIT
. "$here/test_lib.sh"
skipped=0

for tool in xorriso wimcapture wimappend wimdir wimextract sha256sum; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is not installed (Debian packages xorriso, wimtools, coreutils)"
done
export TMPDIR="$tmp/tmpdir"
mkdir -p "$TMPDIR"
unset WIMLIB_IMAGEX_IGNORE_CASE

# --- fixtures: path names in the mixed case that real media have --------------------------
win="$tmp/win"
mkdir -p "$win/BOOT" "$win/efi/microsoft/boot" "$win/efi/boot" "$win/sources" "$tmp/pe/Windows/System32"
head -c 4096 /dev/urandom >"$win/BOOT/ETFSBOOT.COM"
head -c 65536 /dev/urandom >"$win/efi/microsoft/boot/efisys.bin"
head -c 3000 /dev/urandom >"$win/efi/boot/bootx64.efi"
head -c 2000 /dev/urandom >"$win/bootmgr"
head -c 200000 /dev/urandom >"$win/sources/Install.WIM"
head -c 1000 /dev/urandom >"$win/sources/setup.exe"
echo cmd >"$tmp/pe/Windows/System32/cmd.exe"
wimcapture "$tmp/pe" "$win/sources/boot.wim" "Microsoft Windows PE (amd64)" >/dev/null 2>&1 || fail wimcapture
wimappend "$tmp/pe" "$win/sources/boot.wim" "Microsoft Windows Setup (amd64)" --boot >/dev/null 2>&1 || fail wimappend
xorriso -as mkisofs -J -joliet-long -b BOOT/ETFSBOOT.COM -no-emul-boot -boot-load-size 8 --boot-catalog-hide \
    -o "$tmp/win.iso" "$win" >/dev/null 2>&1 || fail "xorriso: packing the fixture"
prog="$tmp/autodeploy.exe"
{ printf 'MZ'; head -c 50000 /dev/urandom; } >"$prog"
sums_before=$(cd "$tmp" && find win win.iso -type f -exec sha256sum {} + | sort)
# What the medium must hold: the tree's files less the install image.
expected_files=$(cd "$win" && find . -type f ! -name Install.WIM | sed 's|^\./||' | sort)

run() { # run ARGS...: runs the script, sets $rc, stdout in $tmp/out, stderr in $tmp/err
    "$make_media" "$@" >"$tmp/out" 2>"$tmp/err" </dev/null
    rc=$?
}
iso_files() { xorriso -indev "$1" -find / -type f 2>/dev/null | sed -e "s/^'\\///" -e "s/'\$//" | sort; }
from_iso() { xorriso -osirrox on -indev "$1" -extract "/$2" "$3" >/dev/null 2>&1; }
expect_clean() { # inputs unchanged, TMPDIR empty
    [ "$(cd "$tmp" && find win win.iso -type f -exec sha256sum {} + | sort)" = "$sums_before" ] || fail "$1: the input changed"
    [ -z "$(ls -A "$TMPDIR")" ] || fail "$1: left files behind in TMPDIR: $(ls -A "$TMPDIR" | tr '\n' ' ')"
}
expect_injected() { # expect_injected BOOT.WIM WHAT: autodeploy in image 2 (bootable) only
    wimextract "$1" 2 /Windows/System32/autodeploy.exe --to-stdout 2>/dev/null | cmp -s - "$prog" ||
        fail "$2: image 2 of boot.wim lacks the program"
    wimdir "$1" 2 --path=/Windows/System32/winpeshl.ini >/dev/null 2>&1 || fail "$2: image 2 lacks winpeshl.ini"
    ! wimdir "$1" 1 --path=/Windows/System32/autodeploy.exe >/dev/null 2>&1 || fail "$2: image 1 was changed"
}

# --- from a folder and from an ISO: ISO and USB folder --------------------------------------
for input in "$win" "$tmp/win.iso"; do
    what="from ${input##*/}"
    out="$tmp/out $RANDOM.iso"
    usb="$tmp/usb $RANDOM"
    run --program "$prog" --usb-folder "$usb" "$input" "$out"
    [ "$rc" = 0 ] || fail "$what: exit status $rc"
    # Each entry without its LBA: platform, bootable, emulation, load segment, header, load size.
    xorriso -indev "$out" -report_el_torito plain 2>/dev/null |
        awk '/^El Torito boot img/ { $NF = ""; print } /^El Torito img path/ { $1 = $1; print }' >"$tmp/boot"
    [ "$(cat "$tmp/boot")" = "El Torito boot img : 1 BIOS y none 0x0000 0x00 8 
El Torito boot img : 2 UEFI y none 0x0000 0x00 128 
El Torito img path : 1 /BOOT/ETFSBOOT.COM
El Torito img path : 2 /efi/microsoft/boot/efisys.bin" ] || fail "$what: El Torito entries: $(cat "$tmp/boot")"
    for f in BOOT/ETFSBOOT.COM efi/microsoft/boot/efisys.bin; do
        rm -f "$tmp/got"
        from_iso "$out" "$f" "$tmp/got" && cmp -s "$tmp/got" "$win/$f" || fail "$what: $f in the ISO differs (patched?)"
    done
    ok "$what: ISO boots on BIOS (etfsboot, no emulation, load size 8, unpatched) and UEFI (efisys.bin)"

    [ "$(iso_files "$out")" = "$expected_files" ] || fail "$what: ISO holds [$(iso_files "$out")]"
    [ "$(cd "$usb" && find . -type f | sed 's|^\./||' | sort)" = "$expected_files" ] || fail "$what: USB folder holds other files"
    rm -f "$tmp/boot.wim"
    from_iso "$out" sources/boot.wim "$tmp/boot.wim" || fail "$what: no sources/boot.wim in the ISO"
    expect_injected "$tmp/boot.wim" "$what: ISO"
    cmp -s "$tmp/boot.wim" "$usb/sources/boot.wim" || fail "$what: the USB folder's boot.wim differs from the ISO's"
    cmp -s "$usb/efi/boot/bootx64.efi" "$win/efi/boot/bootx64.efi" || fail "$what: USB folder lacks bootx64.efi"
    expect_clean "$what"
    ok "$what: ISO and USB folder hold the medium without the install image, autodeploy in the bootable image"
done

# --- refusals -------------------------------------------------------------------------------
refuse() { # refuse WHAT EXPECTED_STDERR ARGS...: status 1, nothing written
    local what=$1 message=$2
    shift 2
    run "$@"
    [ "$rc" = 1 ] || fail "$what: exit status $rc, expected 1"
    [ "$(cat "$tmp/err")" = "$message" ] || fail "$what: stderr [$(cat "$tmp/err")], expected [$message]"
    [ ! -e "$tmp/refused.iso" ] || fail "$what: wrote an ISO"
    expect_clean "$what"
    ok "$what"
}
mkdir -p "$tmp/full" "$tmp/nowim/sources"
echo x >"$tmp/full/file"
cp -r "$win/BOOT" "$win/efi" "$tmp/nowim/"
cp -r "$win" "$tmp/noefi" && rm "$tmp/noefi/efi/microsoft/boot/efisys.bin"
refuse "USB folder not empty" "make-media: --usb-folder $tmp/full is not empty; give a new or empty folder" \
    --program "$prog" --usb-folder "$tmp/full" "$win" "$tmp/refused.iso"
refuse "no sources/boot.wim" "make-media: $tmp/nowim has no sources/boot.wim: not a Windows installation medium" \
    --program "$prog" "$tmp/nowim" "$tmp/refused.iso"
refuse "no efisys.bin" "make-media: $tmp/noefi has no efi/microsoft/boot/efisys.bin, so the ISO could not boot on UEFI: give 64-bit Windows setup media" \
    --program "$prog" "$tmp/noefi" "$tmp/refused.iso"
# A device node of a loop device that does not exist: nothing could be written to it anyway.
if mknod "$tmp/disk" b 7 250 2>/dev/null; then
    device_refusal="make-media: $tmp/disk is a device; make-media writes only files: give a file name for the ISO and a folder on the stick's mounted file system for --usb-folder"
    refuse "OUTPUT is a block device" "$device_refusal" --program "$prog" "$win" "$tmp/disk"
    refuse "USB folder is a block device" "$device_refusal" --program "$prog" --usb-folder "$tmp/disk" "$win" "$tmp/refused.iso"
    [ -b "$tmp/disk" ] || fail "the device node was replaced"
else
    echo "SKIP: cannot make a device node (mknod needs root); block-device refusals not tested"
    skipped=$((skipped + 1))
fi

if [ $skipped -gt 0 ]; then
    printf '%s: %s passed, 0 failed, %s skipped\n' "$name" "$passed" "$skipped"
else
    printf '%s: %s passed, 0 failed\n' "$name" "$passed"
fi
