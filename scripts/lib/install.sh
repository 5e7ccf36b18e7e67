# shellcheck shell=bash
# install.sh: the Windows image to send, from where an operator has it: a Windows ISO or the folder it was
# extracted to (its sources/install.wim or sources/install.esd, as Microsoft's media tool makes it), or such
# a file itself; the edition picked by name or number. Source msg.sh, check.sh, cleanup.sh, workcopy.sh,
# wim.sh and media.sh first.
#
#   install_options              the option rows --edition and --list-editions (options.sh)
#   install_open SOURCE          INSTALL_FILE: the install image to read (an ISO's is copied out first, into
#                                a working folder in WORKCOPY_PLACE), INSTALL_NAME: its name for messages;
#                                refuses (exit 1) what holds none
#   install_editions             the editions of INSTALL_FILE, one a line: "INDEX  NAME  SIZE" (what a
#                                terminal acts on in a name escaped: wim_images)
#   install_pick EDITION         INSTALL_INDEX: the image EDITION names (its index; its name in any case,
#                                or without "Windows" and the version, "Pro" for "Windows 11 Pro"; or
#                                a part of one name only); without one, the only image; refuses (exit 1)
#                                a missing or ambiguous one, naming every edition

install_options() {
    options_row edition text 'NAME|INDEX' 'the edition to send: its index, or its name in any case,' \
        'whole or without "Windows" and its version (Pro for' \
        '"Windows 11 Pro"), or a part that only it has. Needed when' \
        'the image holds more than one.'
    options_row list-editions flag - 'list the editions (index, name, size) and exit.'
}

install_open() {
    local source=$1 list found
    if [ -f "$source" ] && wiminfo -- "$source" >/dev/null 2>&1; then
        INSTALL_FILE=$source INSTALL_NAME=$source
    elif media_kind "$source" >/dev/null; then
        list=$(media_list "$source") || msg_die 1 "cannot list the files of $source"
        found=$(media_find "$list" sources/install.wim) || found=$(media_find "$list" sources/install.esd) ||
            msg_die 1 "$source has neither sources/install.wim nor sources/install.esd: give a Windows installation \
ISO or its folder, or the image itself"
        INSTALL_NAME="$found of $source"
        if [ "$(media_kind "$source")" = folder ]; then
            INSTALL_FILE=$source/$found
        else
            workcopy_make install || msg_die 1 "cannot create a temporary folder"
            INSTALL_FILE=$WORKCOPY/${found##*/}
            msg_say 'copying %s out of %s' "$found" "$source"
            cleanup_wait media_read "$source" "$found" >"$INSTALL_FILE" ||
                msg_die 1 "cannot copy $found out of $source into $WORKCOPY_PLACE (is its disk full? \
$WORKCOPY_ADVICE a folder with room)"
        fi
    else
        [ -e "$source" ] || msg_die 1 "no such file or folder: $source"
        msg_die 1 "not a Windows ISO, its folder, or a WIM or ESD image: $source"
    fi
    wim_open "$INSTALL_FILE"
}

install_editions() { wim_images "$INSTALL_FILE" list; }

install_list() { sed -e 's/^ *//' -e '$!s/$/;/' <<<"$1" | paste -s -d ' '; } # the editions on one line

# shellcheck disable=SC2034 # INSTALL_INDEX is for the caller
install_pick() {
    local edition=$1 list picked
    list=$(install_editions)
    if [ -z "$edition" ]; then
        [ "$WIM_COUNT" != 1 ] ||  { INSTALL_INDEX=1; return; }
        msg_die 1 "$INSTALL_NAME holds $WIM_COUNT editions: $(install_list "$list"); choose one with \
--edition NAME|INDEX"
    fi
    if check_value count "$edition" >/dev/null; then
        wim_check_index "$INSTALL_NAME" "$(check_value count "$edition")"
        INSTALL_INDEX=$(check_value count "$edition")
        return
    fi
    picked=$(wim_images "$INSTALL_FILE" pick "$edition")
    if check_value count "$picked" >/dev/null; then
        INSTALL_INDEX=$picked
    else
        msg_die 1 "$([ "$picked" = several ] && echo "more than one edition" || echo "no edition") of $INSTALL_NAME is \
called '$edition': $(install_list "$list"); give its index or its whole name with --edition"
    fi
}
