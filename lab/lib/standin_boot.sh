# shellcheck shell=bash
# standin_boot.sh: a made-up Windows medium for booting PCs from the network where no Windows is
# at hand (the demo, the tests): a UDF ISO whose sources/boot.wim has, as its bootable second
# image, WinPE's boot files with boot managers of our own (lab/standin-boot) in place of
# Windows' own. wimboot starts them as it would start Windows': each prints one line on the serial
# port and halts. Needs i686-w64-mingw32-gcc, x86_64-w64-mingw32-gcc, wimtools and genisoimage.
#
#   standin_boot_medium DIR ISO   builds the boot managers in DIR (a new folder), writes the medium to ISO
#   STANDIN_BOOT_LINE_BIOS, STANDIN_BOOT_LINE_UEFI   the line each boot manager prints

standin_boot_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../standin-boot" && pwd)
# shellcheck disable=SC2034 # for the scripts that source this file
STANDIN_BOOT_LINE_BIOS='autodeploy stand-in bootmgr.exe started'
# shellcheck disable=SC2034
STANDIN_BOOT_LINE_UEFI='autodeploy stand-in bootmgfw.efi started'

standin_boot_medium() {
    local dir=$1 iso=$2 pe=$1/pe/Windows/Boot d
    local cflags=(-Os -ffreestanding -nostdlib -Wall -Wextra -Werror)
    mkdir -p "$pe/EFI" "$pe/PXE" "$pe/DVD/PCAT" "$pe/DVD/EFI" "$dir/pe/Windows/System32" "$dir/medium/sources" ||
        return 1
    # The BIOS one is a 32-bit boot application (subsystem 16), the UEFI one an EFI application (10).
    i686-w64-mingw32-gcc "${cflags[@]}" -Wl,--subsystem,16 -Wl,-e,_bootmgr_entry -o "$pe/PXE/bootmgr.exe" \
        "$standin_boot_dir/bootmgr.c" || return 1
    x86_64-w64-mingw32-gcc "${cflags[@]}" -mno-red-zone -Wl,--subsystem,10 -Wl,-e,efi_main -o "$pe/EFI/bootmgfw.efi" \
        "$standin_boot_dir/bootmgfw.c" || return 1
    for d in PCAT EFI; do
        echo "stand-in BCD" >"$pe/DVD/$d/BCD" && head -c 4096 /dev/zero >"$pe/DVD/$d/boot.sdi" || return 1
    done
    echo x >"$dir/pe/Windows/System32/cmd.exe"
    { wimcapture "$dir/pe" "$dir/medium/sources/boot.wim" PE &&
        wimappend "$dir/pe" "$dir/medium/sources/boot.wim" Setup --boot &&
        genisoimage -quiet -udf -o "$iso" "$dir/medium"; } >/dev/null 2>&1
}
