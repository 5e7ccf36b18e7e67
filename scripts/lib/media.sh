# shellcheck shell=bash
# media.sh: reading a Windows installation medium, either an ISO file (ISO 9660, Joliet or UDF: Windows
# ISOs keep their files in UDF and show other readers only a README) read with 7-Zip, nothing mounted,
# or the folder it was extracted to. Source it from bash; it needs 7zz (Debian package 7zip).
#
#   media_kind SOURCE              prints iso or folder; fails for anything else (a zip file too)
#   media_list SOURCE              every file of the medium, relative to its root, one a line
#   media_find LIST PATH           the medium's own spelling of PATH (case ignored) from media_list's output
#   media_read SOURCE PATH         the file's bytes on standard output
#   media_extract ISO LIST DIR     the ISO's files named in the file LIST (one a line, as media_list
#                                  spells them) into DIR, with their folders

media_kind() {
    if [ -d "$1" ]; then
        echo folder
    elif [ -f "$1" ] &&
        [[ $(7zz l -slt -- "$1" 2>/dev/null | sed -n 's/^Type = //p' | head -n 1) =~ ^(Iso|Udf)$ ]]; then
        echo iso
    else
        return 1
    fi
}

media_list() {
    if [ -d "$1" ]; then
        (cd "$1" && find . -type f | sed 's|^\./||')
    else
        # -slt gives each entry as "Path = ..." followed by "Folder = +" or "-".
        7zz l -ba -slt -- "$1" 2>/dev/null | awk '/^Path = / { path = substr($0, 8) } /^Folder = -/ { print path }'
    fi
}

media_find() { printf '%s\n' "$1" | grep -i -x -F -m 1 -- "$2"; }

media_read() {
    if [ -d "$1" ]; then
        cat -- "$1/$2"
    else
        # -spd: the path is a name, not a wildcard pattern.
        7zz e -so -spd -- "$1" "$2" 2>/dev/null
    fi
}

media_extract() {
    # -i@LIST: names, not patterns (-spd), in UTF-8, whatever they start with.
    7zz x -y -bso0 -bsp0 -spd -scsUTF-8 "-i@$2" "-o$3" -- "$1" >/dev/null
}
