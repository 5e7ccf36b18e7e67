#!/bin/bash
# A room that heals itself on serve-room: three Wine machines (the real program, watch and receiver; stand-in
# tools) with the server named, a 3 MB image at 2 Mbit/s, a stall time of 10 s. udp-sender, then serve-room itself
# (started again) are killed mid-transfer; nobody touching a PC, two end deployed byte for byte, each writing its own
# answer file between dism and the restart (pc1 by its room-list name, pc2 as '*'), and pc3's dism fails, its Error
# line on the page and in the summary. Drivers ride pc1's and pc4's images: pc1's firmware names a model, whose
# drivers WinPE loads and dism adds (10 s, autodeploy held meanwhile); pc4's dism /Add-Driver fails and it holds.
# Prints the seconds from each death to every PC waiting again and to the end.
# Usage: room_heal_test.sh PROGRAM STANDIN TEMPLATE-PREFIX WIMBOOT-DIR WATCH   (77: skipped, with the reason)
# shellcheck disable=SC2016 # within gets conditions in single quotes, evaluated each time
set -uo pipefail
name=room_heal_test
here=$(cd "$(dirname "$0")" && pwd -P)
. "$here/../../lab/lib/handover.sh"
ROOM_PROGRAM=$1 ROOM_STANDIN=$2 ROOM_TEMPLATE=$3 ROOM_WATCH=$5 ROOM_STALL=10
export AUTODEPLOY_WIMBOOT_DIR=$4
why=$(room_unavailable)
[ -n "$why" ] || command -v curl >/dev/null || why="curl is not installed (make deps)"
[ -z "$why" ] || { echo "SKIP: $why"; exit 77; }
. "$here/../scripts/test_lib.sh"

room_open "adh$$" "$tmp/room" || fail "cannot make the namespaces"
room_sample_image 3000000 && mkdir -p "$tmp/pe/Windows/System32" "$tmp/medium/sources" &&
    wimcapture "$tmp/pe" "$tmp/medium/sources/boot.wim" PE --boot >/dev/null || fail "the image and the medium"
label() { [ "$1" = pc2 ] && echo - || echo "$1"; } # its name in the room list; pc2 has none
for pc in pc1:uefi pc2:bios pc3:bios pc4:bios; do
    n=${pc:2:1} mac=52:54:00:55:00:0${pc:2:1} listed=$(label "${pc%:*}")
    room_add_machine "${pc%:*}" "${pc#*:}" "$mac" && echo "$mac ${listed#-}" >>"$tmp/room.txt" &&
        printf 'server=10.77.0.1:8080\r\nmac=%s\r\nname=%s\r\n' "$mac" "${listed#-}" \
            >"$ROOM_DIR/${pc%:*}/prefix/drive_c/autodeploy/autodeploy-server.txt" &&
        printf 'STANDIN_DISM_MILLISECONDS=1000\nSTANDIN_LOOKS_AT=C:\\Windows\\Panther\\unattend.xml\n' \
            >"$ROOM_DIR/${pc%:*}/env" && room_connect "${pc%:*}" "10.77.0.1$n" || fail "cannot set up ${pc%:*}"
done
echo STANDIN_DISM_EXIT=2 >>"$ROOM_DIR/pc3/env"
on() { wine_env "$ROOM_DIR/$1/prefix" ip netns exec "$(cat "$ROOM_DIR/$1/namespace")" wine "${@:2}" >/dev/null 2>&1; }
# Its running wineserver keeps the key wineboot made (volatile, as Windows' own HARDWARE).
bios='HKLM\HARDWARE\DESCRIPTION\System\BIOS' added=('C:\autodeploy-drivers\all' 'C:\autodeploy-drivers\by-model\LENOVO\X1 Gen 9')
on pc1 reg add "$bios" /v SystemManufacturer /d ' lenovo ' /f && on pc1 reg add "$bios" /v SystemProductName /d 'X1 Gen 9' /f &&
    for c in "$ROOM_DIR"/pc{1,4}/prefix/drive_c{,/autodeploy}; do
        mkdir -p "$c"/autodeploy-drivers/{all/net,"by-model/LENOVO/X1 Gen 9/gpu",by-model/LENOVO/X2} &&
            touch "$c"/autodeploy-drivers/{all/net/n.inf,"by-model/LENOVO/X1 Gen 9/gpu/g.inf",by-model/LENOVO/X2/x.inf}
    done && cp "$ROOM_STANDIN" "$ROOM_DIR/pc1/prefix/drive_c/autodeploy/drvload.exe" &&
    on pc1 'C:\autodeploy\autodeploy-watch.exe' --load-drivers &&
    printf 'STANDIN_DISM_ADD_DRIVER_%s\n' MILLISECONDS=10000 EXIT=0 >>"$ROOM_DIR/pc1/env" &&
    printf 'STANDIN_DISM_ADD_DRIVER_%s\n' MILLISECONDS=5000 EXIT=87 'STDOUT=Error: 87' \
        'STDERR=The add-driver option is unknown.' >>"$ROOM_DIR/pc4/env" || fail "pc1's model, the drivers"
sed 's/CHANGE-ME/First-Logon-1/' "$here/../../assets/unattend.xml" >"$tmp/unattend.xml" || fail "the answer file"
serve() { # serve LOG: serve-room in the sender's namespace, always with the same arguments
    handover_serve "$1" "serving on eth0" "$here/../../scripts/serve-room" --interface eth0 --room "$tmp/room.txt" \
        --late-wait 10 --max-bitrate 2m --unattend "$tmp/unattend.xml" --program "$ROOM_PROGRAM" --work-dir "$tmp/work" "$tmp/medium" "$ROOM_DIR/image.wim" ||
        fail "serve-room did not start: $(cat "$1")"
}
within() { for ((i = 0; i < $1 * 2; i++)); do eval "$2" && return; sleep 0.5; done; false; }
sending() { grep -a -q "^transfer $2: sending to 4 PCs, [2-9][0-9]%" "$1"; } # sending LOG N: N at 20% or more
# Every PC waits for the image again: each has reported "waiting" (or, that report lost while no server listened,
# "receiving") in serve-room's journal since its line $1.
waiting_again() { [ "$(tail -n +"$1" "$tmp/work/journal" | awk -F'\t' '$3 ~ /^(waiting|receiving)$/ { print $2 }' | sort -u | wc -l)" = 4 ]; }
since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.0f", b - a }'; }

serve "$tmp/serve1.log"
for pc in pc1 pc2 pc3 pc4; do room_boot "$pc"; done
within 120 'sending "$tmp/serve1.log" 1' || fail "transfer 1 did not start: $(cat "$tmp/serve1.log")"
lines=$(wc -l <"$tmp/work/journal")
ip netns pids "$ROOM_ID-snd" | xargs -r ps -o pid=,comm= -p | awk '$2 == "udp-sender" { print $1 }' | xargs -r kill -KILL
killed=$EPOCHREALTIME
within 60 "waiting_again $((lines + 1))" || fail "after udp-sender's death the PCs did not wait again: $(cat "$tmp/serve1.log")"
figure_sender=$(since "$killed")
grep -a -q '^[-pc1-4]\+ .*transfer broke off: starting over (try 2)$' "$tmp/serve1.log" &&
    grep -a -q '^[-pc1-4]\+ .*transfer 1 broke off: it starts over by itself$' "$tmp/serve1.log" || fail "no 'starting over (try 2)' shown: $(cat "$tmp/serve1.log")"
ok "udp-sender killed mid-transfer: every PC starts over (try 2) by itself, serve-room shows it"

within 120 'sending "$tmp/serve1.log" 2' || fail "transfer 2 did not start: $(cat "$tmp/serve1.log")"
kill -KILL "$handover_server" && { wait "$handover_server"; } 2>/dev/null
killed=$EPOCHREALTIME
within 10 '[ -z "$(ip netns pids "$ROOM_ID-snd")" ]' || fail "serve-room killed: its children live on"
serve "$tmp/serve2.log"
within 60 'waiting_again 1' || fail "after serve-room's death the PCs did not wait again: $(cat "$tmp/serve2.log")"
figure_server=$(since "$killed")
within 120 'grep -a -q "^pc3 .*FAILED: Error: dism failed" "$tmp/serve2.log"' || fail "pc3's failure not shown"
ip netns exec "$ROOM_ID-snd" curl -s http://10.77.0.1:8080/ >"$tmp/page.html"
grep -A1 '<tr><th>' "$tmp/page.html" | grep -q '^<tr class="failed"><td>pc3</td>.*<td>FAILED: Error: dism failed: ExitStatus(ExitStatus(2)) (0x80004005)</td></tr>$' ||
    fail "the page: $(cat "$tmp/page.html")"
ok "pc3's dism fails: its Error line in full, first on the page"
handover_wait 120
status=$?
figure_end=$(since "$killed")
cat "$tmp/serve2.log"

for pc in pc1 pc2; do
    [ "$(cat "$ROOM_DIR/$pc/status")" = 0 ] && [ "$(tr -d '\r\n' <"$ROOM_DIR/$pc/prefix/drive_c/image.sha256")" = "$ROOM_IMAGE_SHA" ] &&
        grep -a -q 'Transfer broke off: starting over (try 3 of 3)' "$ROOM_DIR/$pc/console.txt" ||
        fail "$pc: exit status $(cat "$ROOM_DIR/$pc/status"), not the image sent, or no third try: $(cat "$ROOM_DIR/$pc/console.txt")"
    # pc1's make and model as its firmware says them, trimmed (pc2's: Wine's, from its host's firmware, if any).
    grep -a -q "^$(label $pc)  *52:54:00:55:00:0${pc:2:1}  10\.77\.0\.1[1-3]  *USB  *$([ $pc = pc1 ] && echo 'lenovo X1 Gen 9' ||
        echo '.*')  *deployed: restarting" "$tmp/serve2.log" || fail "$pc: no summary row"
    # Written after dism and its drivers (absent as they end), before the restart (present as wpeutil reboot runs).
    tools=$(tr -d '\r' <"$ROOM_DIR/$pc/prefix/drive_c/journal.txt")
    [ "$(awk -F'\t' '/Apply-Image/ { on = 1 } on { print $1, $3 == "/Add-Driver" ? substr($4, 9) : "-", $NF }' <<<"$tools")" = \
        "dism - absent$([ $pc = pc2 ] || printf '\ndism %s absent' "${added[@]}")
bcdboot - present
wpeutil - present" ] && [ ! -e "$ROOM_DIR/$pc/prefix/drive_c/autodeploy-drivers" ] ||
        fail "$pc: the answer file not written between dism (and its drivers) and the restart: $tools"
    given=$(python3 -c 'import sys, xml.etree.ElementTree as t
print(t.parse(sys.argv[1]).getroot().find(".//{urn:schemas-microsoft-com:unattend}ComputerName").text)' \
        "$ROOM_DIR/$pc/prefix/drive_c/windows/Panther/unattend.xml") && [ "$given" = "$(label $pc | tr - '*')" ] &&
        grep -a -q "	52:54:00:55:00:0${pc:2:1}	answer-file	" "$tmp/work/journal" ||
        fail "$pc: its answer file names it [${given:-}], or no 'answer file written' report"
done
[ ! -e "$ROOM_DIR/pc3/prefix/drive_c/windows/Panther/unattend.xml" ] || fail "pc3, whose dism failed, has an answer file"
[ "$(cat "$tmp/work/journal.1" "$tmp/work/journal" | awk -F'\t' '$2 == "52:54:00:55:00:01" && $3 ~ /^(drivers-|guard-)/ { print $3 }')" = \
    "drivers-loaded"$'\n'"guard-allowed"$'\n'"drivers-added" ] || fail "pc1: no drivers-loaded before guard-allowed"
ok "pc1's drivers: WinPE's loaded and reported before the guard, its model's and all added by dism before the restart"
pc4=$(tr -d '\r' <"$ROOM_DIR/pc4/prefix/drive_c/journal.txt")
[ "$(cat "$ROOM_DIR/pc4/status")" = 1 ] && [ "$(tail -n 1 <<<"$pc4" | cut -f 3)" = /Add-Driver ] &&
    [ ! -e "$ROOM_DIR/pc4/prefix/drive_c/windows/Panther/unattend.xml" ] &&
    grep -a -q '^pc4  .*FAILED: adding drivers: Error: 87 (The add-driver option is unknown.)$' "$tmp/serve2.log" ||
    fail "pc4: exit status $(cat "$ROOM_DIR/pc4/status"), its tools [$pc4], or no failed report"
ok "pc4's dism /Add-Driver fails: reported with its Error line, no restart, no answer file, the PC holds"
grep -a -q '^answer files written, each PC named as in the room list: pc1$' "$tmp/serve2.log" &&
    grep -a -q '^answer files written with ComputerName \* (Windows picks a name; name them in the room list): 52:54:00:55:00:02$' "$tmp/serve2.log" ||
    fail "the summary does not say which PC got which name"
ok "each deployed PC writes its own answer file between dism and the restart: pc1 by its name, pc2 as *; the summary says so"
[ "$(cat "$ROOM_DIR/pc3/status")" = 1 ] && grep -a -q '^Error: dism failed' "$ROOM_DIR/pc3/console.txt" ||
    fail "pc3: exit status $(cat "$ROOM_DIR/pc3/status")"
[ "$status" = 1 ] && grep -a -q '^pc3  .*FAILED: Error: dism failed: ExitStatus(ExitStatus(2)) (0x80004005)' "$tmp/serve2.log" &&
    grep -a -q '^2 of 4 PCs that joined were deployed; not: .*pc3 (FAILED: Error: dism failed' "$tmp/serve2.log" ||
    fail "serve-room's exit status $status, or its summary"
ok "serve-room killed outright and started again: the room finishes, byte for byte, exit status 1 for pc3, which holds"
echo "figure: udp-sender's death to every PC waiting again: $figure_sender s (stall time 10 s)"
echo "figure: serve-room's death to every PC waiting again: $figure_server s, to the room finished: $figure_end s"
finish
