# shellcheck shell=bash
# wim.sh: a WIM file given by the operator, read with wiminfo (wimtools), its name passed after
# "--" so that no name is taken for an option.
#
#   wim_open WIM            refuses (exit 1) a WIM that is missing, not a regular or readable
#                           file, not a WIM, or one part of a split WIM; sets WIM_INFO and
#                           WIM_COUNT (its number of images)
#   wim_field NAME          a field of WIM_INFO ("Boot Index", ...)
#   wim_image_count WIM     prints the number of images, or fails: for a caller with its own words
#   wim_check_index WIM N   refuses (exit 1) an image N that WIM_COUNT does not reach
#   wim_image_name WIM N    the image's name, to show (escaped as wim_images shows it)
#   wim_image_digest WIM N  the SHA-1 of image N's metadata resource, which holds every name of the image and the
#                           hash of each file's data: its whole content in 40 hex digits, wherever it is kept
#   wim_images WIM ARGS...  wim_images.py ARGS on the images of WIM as its XML holds them: a name is data,
#                           never a line, so that no name makes another image

wim_field() { printf '%s\n' "$WIM_INFO" | sed -n "s/^$1:[[:space:]]*//p" | head -n 1; }

wim_open() {
    local wim=$1 part
    [ -e "$wim" ] || msg_die 1 "no such file: $wim"
    [ -f "$wim" ] || msg_die 1 "not a regular file: $wim"
    [ -r "$wim" ] || msg_die 1 "cannot read $wim"
    WIM_INFO=$(wiminfo -- "$wim" 2>/dev/null) || msg_die 1 "not a WIM file: $wim"
    WIM_COUNT=$(wim_field 'Image Count')
    part=$(wim_field 'Part Number')
    check_value count "$WIM_COUNT" >/dev/null || msg_die 1 "not a WIM file: $wim"
    case $part in
        '' | 1/1) ;;
        *) msg_die 1 "$wim is one part of a split WIM (part $part); join the parts with wimjoin first" ;;
    esac
}

wim_image_count() {
    local count
    count=$(wiminfo -- "$1" 2>/dev/null | sed -n 's/^Image Count:[[:space:]]*//p') && [[ $count =~ ^[0-9]+$ ]] ||
        return 1
    echo "$count"
}

wim_check_index() {
    if [ ${#2} -gt 9 ] || [ "$2" -gt "$WIM_COUNT" ]; then
        msg_die 1 "image $2 does not exist in $1 (it has $(msg_count "$WIM_COUNT" image))"
    fi
}

wim_images() { wiminfo --xml -- "$1" 2>/dev/null | python3 "${BASH_SOURCE[0]%/*}/wim_images.py" "${@:2}"; }

wim_image_name() { wim_images "$1" name "$2"; }

# wimlib lists the images' metadata resources first, in the images' order.
wim_image_digest() {
    wiminfo --blobs -- "$1" 2>/dev/null |
        awk -v n="$2" '/^Hash/ { hash = $3 } /WIM_RESHDR_FLAG_METADATA/ && ++seen == n { print substr(hash, 3) }' |
        grep -x '[0-9a-f]\{40\}'
}
