# shellcheck shell=bash
# winimage.sh: is an image fit to be applied to a room of PCs? Each PC wipes its disk before dism
# sees the image, so what would fail there is refused here. Needs wimtools. Source it from bash.
#
#   winimage_install_problem WIM INDEX   nothing and status 0 when image INDEX holds a Windows
#                                        installation with the files bcdboot reads; else what is
#                                        missing, in one line, and status 1
#   winimage_intact_problem WIM          nothing and status 0 when wimverify finds every resource
#                                        intact; else wimlib's reason, in one line, and status 1
#   winimage_reason FILE                 wimlib's error output in FILE on one line
#   winimage_sample_tree DIR             the least a made-up image (demo, bench, tests) needs to
#                                        pass as an installation: the folders and boot files, empty

# What `bcdboot C:\Windows /f UEFI|BIOS` copies or reads: the boot managers of both firmware kinds
# (the room mixes them) and the template of the boot configuration store.
winimage_boot_files=(
    /Windows/System32/config/BCD-Template
    /Windows/Boot/EFI/bootmgfw.efi
    /Windows/Boot/PCAT/bootmgr
)

winimage_sample_tree() {
    local file
    mkdir -p "$1/Windows/System32" || return 1
    for file in "${winimage_boot_files[@]}"; do
        mkdir -p "$1${file%/*}" && : >"$1$file" || return 1
    done
}

winimage_reason() {
    # "[ERROR] ...", "ERROR: Exiting with error code N:", the code's text; progress after carriage
    # returns. The lines that say why, joined.
    tr '\r' '\n' <"$1" | sed -n -e 's/^\[ERROR\][[:space:]]*//p' -e '/^ERROR: Exiting/{n;s/^[[:space:]]*//p;}' |
        paste -s -d ' '
}

winimage_install_problem() {
    local wim=$1 index=$2 path
    if ! WIMLIB_IMAGEX_IGNORE_CASE=1 wimdir --path=/Windows/System32 -- "$wim" "$index" >/dev/null 2>&1; then
        echo "image $index of $wim is not a Windows installation (it has no \\Windows\\System32)"
        return 1
    fi
    for path in "${winimage_boot_files[@]}"; do
        if ! WIMLIB_IMAGEX_IGNORE_CASE=1 wimdir --path="$path" -- "$wim" "$index" >/dev/null 2>&1; then
            echo "image $index of $wim lacks ${path//\//\\}, which bcdboot needs to make the PCs bootable"
            return 1
        fi
    done
}

winimage_intact_problem() {
    local wim=$1 errors status=0
    errors=$(mktemp "${TMPDIR:-/tmp}/winimage.XXXXXX") || { echo "cannot create a temporary file"; return 1; }
    wimverify -- "$wim" >/dev/null 2>"$errors" || status=$?
    [ "$status" = 0 ] || echo "$wim fails wimverify: $(winimage_reason "$errors")"
    rm -f -- "$errors"
    [ "$status" = 0 ]
}
