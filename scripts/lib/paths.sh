# shellcheck shell=bash
# paths.sh: may a script write to a path? Never into the system's own trees, never over or into
# what the same run reads. Source it from bash.
#
#   paths_output_problem WHAT PATH INPUT...   nothing and status 0 when PATH (a file or folder
#                                             the run will write, called WHAT in messages) is
#                                             safe to write; else one line and status 1
#   paths_write_problem WHAT PATH             nothing and status 0 when PATH (a file or folder to
#                                             write, or where one is made) may be written; else
#                                             one line (read-only disk or folder) and status 1
#   paths_resolved PATH                       PATH absolute, every link resolved (it may not exist)
#   paths_existing PATH                       PATH resolved, or the nearest folder above it that exists

paths_resolved() { realpath -m -- "$1"; }

paths_existing() {
    local folder
    folder=$(paths_resolved "$1")
    until [ -e "$folder" ]; do folder=${folder%/*} folder=${folder:-/}; done
    printf '%s\n' "$folder"
}

# A read-only file system is told apart from a read-only folder. As root [ -w ] holds for every
# folder on a writable file system, so a folder's mode is read as well: none may write it.
paths_write_problem() {
    local what=$1 path=$2 place
    place=$(paths_existing "$([ -d "$path" ] && echo "$path" || dirname -- "$path")")
    if findmnt -n -o OPTIONS -T "$place" | tr , '\n' | grep -q -x ro; then
        echo "$what $path is on a read-only file system ($(findmnt -n -o TARGET -T "$place")); give a place on a" \
            "writable disk, or mount that one read-write"
        return 1
    fi
    if [ ! -w "$place" ] || [[ $(stat -c %A -- "$place") != *w* ]]; then
        echo "$what $path cannot be written: $place is read-only ($(stat -c %A -- "$place")); make it writable" \
            "(chmod u+w) or give another place"
        return 1
    fi
}

# paths_within PATH FOLDER: PATH is FOLDER or lies somewhere under it (both resolved).
paths_within() {
    local path folder
    path=$(paths_resolved "$1") folder=$(paths_resolved "$2")
    [ "$folder" = / ] || [ "$path" = "$folder" ] || [[ $path == "$folder"/* ]]
}

paths_output_problem() {
    local what=$1 path=$2 input system
    shift 2
    # Device nodes, the kernel's files: a "file" written there is no medium (and may be a disk).
    for system in /dev /proc /sys; do
        if paths_within "$path" "$system" || [ -b "$path" ] || [ -c "$path" ]; then
            echo "$what $path is a device or a system file; the script writes only files: for a USB stick," \
                "give --usb-folder a new folder, then copy its contents onto the stick's mounted FAT32 file system"
            return 1
        fi
    done
    for input in "$@"; do
        if [ -d "$input" ] && paths_within "$path" "$input"; then
            echo "$what $path is inside $input, which this run reads; write it outside that folder"
            return 1
        fi
        if [ -e "$path" ] && [ "$path" -ef "$input" ]; then
            echo "$what $path is $input, which this run reads; give another name"
            return 1
        fi
        if [ -e "$input" ] && paths_within "$input" "$path"; then
            echo "$what $path holds $input, which this run reads; give another place"
            return 1
        fi
    done
}
