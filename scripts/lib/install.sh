# shellcheck shell=bash
# install.sh: the Windows image to send, from where an operator has it: a Windows ISO or the folder it was
# extracted to (its sources/install.wim or sources/install.esd, as Microsoft's media tool makes it), or such
# a file itself; the edition picked by name or number. Source msg.sh, check.sh, cleanup.sh, wim.sh and
# media.sh first.
#
#   install_options              the option rows --edition and --list-editions (options.sh)
#   install_open SOURCE          INSTALL_FILE: the install image to read (an ISO's is copied out first, into
#                                a folder removed at exit), INSTALL_NAME: its name for messages; refuses
#                                (exit 1) what holds none
#   install_editions             the editions of INSTALL_FILE, one a line: "INDEX  NAME  SIZE"
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
    local source=$1 list found folder
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
            folder=$(mktemp -d "${TMPDIR:-/var/tmp}/install.XXXXXX") || msg_die 1 "cannot create a temporary folder"
            cleanup_later "$folder"
            INSTALL_FILE=$folder/${found##*/}
            msg_say 'copying %s out of %s' "$found" "$source"
            media_read "$source" "$found" >"$INSTALL_FILE" ||
                msg_die 1 "cannot copy $found out of $source into ${TMPDIR:-/var/tmp} (is its disk full? set TMPDIR \
to a folder with room)"
        fi
    else
        [ -e "$source" ] || msg_die 1 "no such file or folder: $source"
        msg_die 1 "not a Windows ISO, its folder, or a WIM or ESD image: $source"
    fi
    wim_open "$INSTALL_FILE"
}

install_editions() {
    wiminfo -- "$INSTALL_FILE" 2>/dev/null | awk -F': *' '
        /^Index:/ { index_ = $2 } /^Name:/ { name = $2 }
        /^Total Bytes:/ { size = $2 >= 1e9 ? sprintf("%.1f GB", $2 / 1e9) : sprintf("%.0f MB", $2 / 1e6)
                          printf "  %s  %s  %s\n", index_, name, size }'
}

install_list() { sed -e 's/^ *//' -e '$!s/$/;/' <<<"$1" | paste -s -d ' '; } # the editions on one line

# shellcheck disable=SC2034 # INSTALL_INDEX is for the caller
install_pick() {
    local edition=$1 list names exact short partial
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
    # Each edition's name alone (no index, no size), in lower case: whole, then without "windows 11 ".
    names=$(awk '{ i = $1; $1 = ""; $NF = ""; $(NF - 1) = ""; sub(/^ +/, ""); sub(/ +$/, ""); print i, tolower($0) }' \
        <<<"$list")
    exact=$(awk -v e="${edition,,}" '{ i = $1; $1 = ""; sub(/^ /, "") } $0 == e { print i }' <<<"$names")
    short=$(awk -v e="${edition,,}" '{ i = $1; $1 = ""; sub(/^ windows [0-9.]+ /, "") } $0 == e { print i }' \
        <<<"$names")
    partial=$(awk -v e="${edition,,}" 'index(tolower($0), e) { print $1 }' <<<"$list")
    if [ -n "$exact" ]; then
        INSTALL_INDEX=$exact
    elif [ -n "$short" ] && [ "$(grep -c . <<<"$short")" = 1 ]; then
        INSTALL_INDEX=$short
    elif [ "$(grep -c . <<<"$partial")" = 1 ]; then
        INSTALL_INDEX=$partial
    else
        msg_die 1 "$([ -n "$partial" ] && echo "more than one edition" || echo "no edition") of $INSTALL_NAME is \
called '$edition': $(install_list "$list"); give its index or its whole name with --edition"
    fi
}
