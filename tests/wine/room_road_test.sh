#!/bin/bash
# A small room on serve-room from power-on: a BIOS and a UEFI QEMU PC boot from the network (real firmware,
# iPXE, wimboot; stand-in boot managers) and are handed over to Wine machines running the program through its
# watch with the real receiver; a third PC powered on during the first transfer gets the second, which serve-room
# starts by itself. The page, read with headless Chromium meanwhile, must show the terminal's table.
# Usage: room_road_test.sh PROGRAM STANDIN TEMPLATE-PREFIX WIMBOOT-DIR WATCH   (77: skipped, with the reason)
set -uo pipefail
name=room_road_test
here=$(cd "$(dirname "$0")" && pwd -P)
. "$here/../../lab/lib/handover.sh"
ROOM_PROGRAM=$1 ROOM_STANDIN=$2 ROOM_TEMPLATE=$3 ROOM_WATCH=$5
export AUTODEPLOY_WIMBOOT_DIR=$4
why=$(handover_unavailable)
[ -n "$why" ] || command -v chromium >/dev/null || why="chromium is not installed (make deps)"
[ -z "$why" ] || { echo "SKIP: $why"; exit 77; }
. "$here/../scripts/test_lib.sh"
serve_log=$tmp/serve.log

room_open "adr$$" "$tmp/room" || fail "cannot make the namespaces"
room_sample_image 3000000 || fail "the sample image"
standin_boot_medium "$tmp/standin" "$tmp/medium.iso" || fail "the stand-in medium"
for pc in pc1:bios pc2:uefi pc3:bios; do handover_add "${pc%:*}" "${pc#*:}" || fail "cannot set up ${pc%:*}"; done
handover_site_dhcp || fail "the site's DHCP server"
# 3 MB at 2 Mbit/s: the first transfer lasts long enough for the third PC to be seen late.
handover_serve "$serve_log" "serving on eth0" "$here/../../scripts/serve-room" --interface eth0 --dhcp proxy \
    --room "$ROOM_DIR/room" --machines 2 --late-wait 15 --max-bitrate 2m --program "$ROOM_PROGRAM" --work-dir "$tmp/pxe" \
    "$tmp/medium.iso" "$ROOM_DIR/image.wim" || fail "serve-room did not start: $(cat "$serve_log")"
run_dir=$(handover_run_folder)

# The terminal's table as it stands: its latest top line, then the latest line of each PC, sorted,
# cells a tab apart; the page's the same way (Chromium's DOM after the page has loaded).
terminal_table() {
    grep -a -v -e '^serve-room: ' -e '^Power on' -e '^UEFI PCs' "$serve_log" | grep -a -v '^pc[1-3] ' | tail -n 1
    grep -a '^pc[1-3] ' "$serve_log" | awk '{ last[$1] = $0 } END { for (m in last) print last[m] }' | sed 's/  \+/\t/g' | sort
}
page_table() {
    # From another host on the room's network (the site's DHCP server's), as a phone would.
    ip netns exec "$ROOM_ID-site" timeout 60 chromium --headless --no-sandbox --disable-gpu \
        --user-data-dir="$tmp/chromium" --dump-dom http://10.77.0.1:8080/ 2>/dev/null >"$tmp/page.html"
    sed -i 's|<progress[^>]*></progress>||g' "$tmp/page.html"
    sed -n 's|.*<h1[^>]*>\(.*\)</h1>.*|\1|p' "$tmp/page.html"
    grep -o '<tr[^>]*><td>.*</td></tr>' "$tmp/page.html" | sed -e 's|<tr[^>]*><td>||' -e 's|</td></tr>||' \
        -e 's|</td><td>|\t|g' | sort
}
# The stages a PC's lines went through, in order, without the percentages, each once.
road() { sed '/^serve-room: summary/q' "$serve_log" | grep -a "^$1 " | sed -E 's/^.*  +//; s/ [0-9]+%//' | uniq | paste -s -d '|'; }
ended() { [ -s "$ROOM_DIR/$1/status" ]; }

handover_power_on pc1 && handover_power_on pc2 || fail "cannot power on the PCs"
late='' compared=''
for ((i = 0; i < 1200; i++)); do
    handover_step pc1 pc2 pc3
    if [ -z "$late" ] && grep -a -q '^transfer 1: sending' "$serve_log"; then
        handover_power_on pc3 || fail "cannot power on pc3"
        late=1
    fi
    # While the room waits for the late PC's transfer, the page must show the terminal's table.
    if [ -z "$compared" ] && grep -a -q '^transfer 2: 1 late PC joined' "$serve_log"; then
        for ((try = 0; try < 5; try++)); do
            [ "$(page_table)" = "$(terminal_table)" ] && compared=1 && break
        done
        [ -n "$compared" ] || fail "the page [$(page_table)] is not the terminal's table [$(terminal_table)]"
        ok "the page shows the terminal's table: $(terminal_table | paste -s -d '/' | tr '\t' ' ')"
    fi
    ended pc1 && ended pc2 && ended pc3 && break
    kill -0 "$handover_server" 2>/dev/null || break
    sleep 0.5
done
ended pc1 && ended pc2 && ended pc3 || fail "not every PC ended within 600 s: $(cat "$serve_log")"
[ -n "$compared" ] || fail "the second transfer never waited for the late PC: $(cat "$serve_log")"
timeout 60 tail --pid="$handover_server" -f /dev/null || fail "serve-room did not end by itself 60 s after the last PC"
handover_wait 1
status=$?
printf '%s\n' "--- serve-room's output:" && cat "$serve_log"

for pc in pc1:BIOS pc2:UEFI pc3:BIOS; do
    mac=$(cat "$ROOM_DIR/${pc%:*}/mac")
    [ "$(cat "$ROOM_DIR/${pc%:*}/status")" = 0 ] &&
        [ "$(tr -d '\r\n' <"$ROOM_DIR/${pc%:*}/prefix/drive_c/image.sha256")" = "$ROOM_IMAGE_SHA" ] ||
        fail "${pc%:*}: exit status $(cat "$ROOM_DIR/${pc%:*}/status"), or not the image sent"
    after='receiving\|image received\|applying image\|writing boot files\|deployed: restarting'
    # The PC's own reports and udp-sender's lines race: a stage reported after the next one came is not shown.
    want="offered\|(loading WinPE\|)?WinPE started\|disk guard: disk 0 may be wiped\|(disk prepared\|)?(waiting for the image\|)?joined the multicast\|$after"
    [ "${pc%:*}" != pc3 ] ||
        want="offered.*late: waits for the next transfer.*\|joined the multicast \(transfer 2\)\|$after"
    [[ $(road "${pc%:*}") =~ ^$want$ ]] || fail "${pc%:*}: the stages shown: $(road "${pc%:*}")"
    # Every stage the PC reported, in order (the journal keeps them all).
    [ "$(awk -F'\t' -v mac="$mac" '$2 == mac && $3 ~ /^(guard|disk-|waiting|receiving|applying|boot|deployed)/ { print $3 }' \
        "$tmp/pxe/journal" | uniq | paste -s -d ' ')" = "guard-allowed disk-prepared waiting receiving applying boot-files deployed" ] ||
        fail "${pc%:*}: the reports in the journal: $(grep -a "$mac" "$tmp/pxe/journal")"
    grep -a -q "^${pc%:*}  *$mac  10\.77\.0\.1[0-9][0-9]  ${pc#*:}  *deployed: restarting  [0-9]*$" "$serve_log" ||
        fail "${pc%:*}: no summary row"
done
ok "BIOS and UEFI PCs from power-on: offered, WinPE started, each stage their watch reported, to deployed; byte for byte"
grep -a -q '^transfer 1: 3[0-9]* bytes to 2 PCs in ' "$serve_log" && grep -a -q '^transfer 2: 3[0-9]* bytes to 1 PC in ' "$serve_log" ||
    fail "the sender's figures"
ok "the late PC waits while the first transfer is sent and gets the second, started by serve-room itself"
[ "$status" = 0 ] && grep -a -q '^every PC that joined was deployed: 3 of 3$' "$serve_log" ||
    fail "exit status $status, or no outcome line"
[ -z "$(ip netns pids "$ROOM_ID-snd")" ] && [ -n "$run_dir" ] && [ ! -e "$run_dir" ] ||
    fail "serve-room left processes or its run folder"
ok "the room ends by itself: exit status 0, a summary row per PC, nothing of it left"
finish
