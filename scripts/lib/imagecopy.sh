# shellcheck shell=bash
# imagecopy.sh: the operator's drivers (--drivers DIR) and files (--add-files DIR) in the image the PCs apply:
# a working copy of the one image (send_export) with the trees added by wimupdate, the source never changed.
# The copy is kept for the next run in WORKCOPY_PLACE as image-copy.KEY.wim and used again while its key is the
# same: this user, the image's content (wim_image_digest, wherever the image comes from), its index and
# compression, what wimupdate is told, and each tree's names, kinds, sizes and times of change (not its bytes:
# reading gigabytes of drivers each run would cost what keeping saves). Source msg.sh, check.sh, options.sh,
# cleanup.sh, workcopy.sh, wim.sh, winimage.sh, paths.sh, space.sh, drivers.sh and send.sh (its caller) too.
#
#   imagecopy_options          the option rows --drivers and --add-files (options.sh)
#   imagecopy_check            refuses (exit 2) a tree that cannot be added, before anything is made; sets what
#                              wimupdate will be told
#   imagecopy_wanted           status 0 when a tree is to be added
#   imagecopy_kept WIM INDEX   status 0 when the copy is kept already: SEND_FILE (in this run's working folder)
#                              is made a link to it; else room for a new one is checked (exit 1 without)
#   imagecopy_add INDEX        adds the trees to SEND_FILE (image INDEX exported) and keeps it; exit 1 on failure

IMAGECOPY_COMMANDS=
IMAGECOPY_STARTED=

imagecopy_options() {
    options_row drivers text DIR "driver packages (folders holding a .inf) for Windows," \
        "added to the image at \\autodeploy-drivers; each PC adds" \
        'them with dism once the image is applied, those under' \
        'DIR/by-model/MAKE/MODEL only where its firmware names' \
        'that make and model.'
    options_row add-files text DIR "files for each PC: DIR's tree is added at \\ of the" \
        'image (DIR/Setup/setup.cmd becomes C:\Setup\setup.cmd).'
}

imagecopy_wanted() { [ -n "${OPTION[drivers]}${OPTION[add-files]}" ]; }

# What the copy holds, for its line.
imagecopy_what() {
    local what=${OPTION[drivers]:+drivers}
    [ -z "${OPTION[add-files]}" ] || what+=${what:+ and }files
    echo "$what"
}

imagecopy_check() {
    local dir=${OPTION[add-files]} entry option drivers
    IMAGECOPY_COMMANDS=
    if [ -n "$dir" ]; then
        [ -d "$dir" ] || msg_die 2 "--add-files $dir is not a folder: give the folder whose tree each PC gets at C:\\"
        [ -r "$dir" ] && [ -x "$dir" ] || msg_die 2 "--add-files $dir cannot be read"
        [ -n "$(find "$dir" -mindepth 1 -print -quit)" ] || msg_die 2 "--add-files $dir is empty: nothing to add"
        entry=$(find "$dir" -mindepth 1 \( ! -readable -o -type d ! -executable \) -print -quit 2>/dev/null)
        [ -z "$entry" ] || msg_die 2 "--add-files $dir holds $entry, which cannot be read"
        # wimupdate runs in DIR: no name of it need be quoted for wimupdate's command line.
        IMAGECOPY_COMMANDS+=$'add . /\n'
    fi
    if [ -n "${OPTION[drivers]}" ]; then
        drivers_check --drivers "${OPTION[drivers]}"
        drivers=$(drivers_commands --drivers "${OPTION[drivers]}" /autodeploy-drivers) || exit
        IMAGECOPY_COMMANDS+=$drivers$'\n'
    fi
    for option in add-files drivers; do
        [ -z "${OPTION[$option]}" ] || ! paths_within "$WORKCOPY_PLACE" "${OPTION[$option]}" ||
            msg_die 2 "--$option ${OPTION[$option]} holds $WORKCOPY_PLACE, where the working copy is made: \
$WORKCOPY_ADVICE a folder outside it"
    done
}

imagecopy_key() {
    local digest dir
    digest=$(wim_image_digest "$1" "$2") || return 1
    {
        printf 'user %s image %s index %s compression %s\n%s' "$(id -u)" "$digest" "$2" "$(wim_field Compression)" \
            "$IMAGECOPY_COMMANDS"
        for dir in "${OPTION[add-files]}" "${OPTION[drivers]}"; do
            [ -z "$dir" ] || { printf 'tree %s\0' "$dir" && find "$dir" -printf '%P %y %s %T@\0' | sort -z; }
        done
    } | sha256sum | cut -c 1-32
}

# imagecopy_ours FILE: FILE is a kept copy that this user made: a regular file (no link) none other may write.
imagecopy_ours() { [ -f "$1" ] && [ ! -L "$1" ] && [ -O "$1" ] && [ -z "$(find "$1" -maxdepth 0 -perm /022)" ]; }

imagecopy_kept() {
    local wim=$1 index=$2 key old dir bytes problem
    key=$(imagecopy_key "$wim" "$index") || msg_die 1 "cannot read image $index of $wim"
    IMAGECOPY_KEPT=$WORKCOPY_PLACE/image-copy.$key.wim
    if imagecopy_ours "$IMAGECOPY_KEPT" && ln -- "$IMAGECOPY_KEPT" "$SEND_FILE" 2>/dev/null; then
        msg_say 'working copy with %s: reused' "$(imagecopy_what)"
        return 0
    fi
    # One copy is kept: the one made for another key gives its room to the new one.
    for old in "$WORKCOPY_PLACE"/image-copy.*.wim; do ! imagecopy_ours "$old" || rm -f -- "$old"; done
    bytes=$(stat -c %s -- "$wim")
    # An ESD's LZMS image grows as LZX (1.7 times in lab/bench-esd).
    [ "$(wim_field Compression)" != LZMS ] || bytes=$((bytes * 2))
    for dir in "${OPTION[add-files]}" "${OPTION[drivers]}"; do
        [ -z "$dir" ] || bytes=$((bytes + $(du -s -b -- "$dir" | cut -f 1)))
    done
    space_place copy "$WORKCOPY_PLACE" "the working copy of image $index with $(imagecopy_what)" \
        "$WORKCOPY_ADVICE a folder on a disk with room"
    space_step copy="$bytes"
    problem=$(space_problem) || msg_die 1 "$problem; nothing was sent"
    IMAGECOPY_STARTED=$SECONDS
    return 1
}

imagecopy_add() {
    local index=$1 wim
    wim=$(realpath -- "$SEND_FILE") && printf '%s' "$IMAGECOPY_COMMANDS" >"$WORKCOPY/commands" ||
        msg_die 1 "cannot write to $WORKCOPY"
    # shellcheck disable=SC2016 # expanded by sh; cleanup_wait's command has no standard input of its own
    if ! cleanup_wait sh -c 'cd "$0" && exec wimupdate "$1" 1 <"$2" >/dev/null' "${OPTION[add-files]:-/}" "$wim" \
        "$WORKCOPY/commands" 2>"$WORKCOPY/errors"; then
        send_no_room "$index"
        msg_die 1 "wimupdate could not add the $(imagecopy_what) to image $index: $(winimage_reason \
"$WORKCOPY/errors"); nothing was sent"
    fi
    ln -- "$SEND_FILE" "$IMAGECOPY_KEPT" 2>/dev/null ||
        msg_say 'cannot keep the working copy as %s: the next run makes it again' "$IMAGECOPY_KEPT"
    msg_say 'working copy with %s: made in %s s' "$(imagecopy_what)" "$((SECONDS - IMAGECOPY_STARTED))"
}
