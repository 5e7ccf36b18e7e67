#!/bin/bash
# A room of three simulated PCs (lab/lib/room.sh) on the real wire: autodeploy.exe with its
# real receiver under Wine, served through scripts/send-image; the stand-in dism records the image's SHA-256.
# Usage: real_wire_test.sh PROGRAM STANDIN RECEIVER TEMPLATE-PREFIX GPT-SCRIPT MBR-SCRIPT  (77: skipped)
set -uo pipefail
name=real_wire_test
here=$(cd "$(dirname "$0")" && pwd -P)
. "$here/../../lab/lib/room.sh"
ROOM_PROGRAM=$1 ROOM_STANDIN=$2 ROOM_TEMPLATE=$4
receiver=$3 gpt_script=$5 mbr_script=$6

why=$(room_unavailable) && [ -n "$why" ] && { echo "SKIP: $why; the real-wire tests need network namespaces of their own"; exit 77; }
. "$here/../scripts/test_lib.sh"
room_open "adw$$" "$tmp/room" || fail "cannot make the namespaces"
trap 'room_close; rm -rf "$tmp"' EXIT

room_sample_image 3000000 || fail "the sample image"
for pc in uefi1:uefi bios2:bios late3:uefi; do room_add_machine "${pc%:*}" "${pc#*:}" || fail "cannot set up ${pc%:*}"; done

console() { tr '\r' '\n' <"$tmp/room/$1/console.txt" | sed '/^$/d'; }
journal() { tr -d '\r' <"$tmp/room/$1/prefix/drive_c/journal.txt" 2>/dev/null; }
ended() { [ -s "$tmp/room/$1/status" ]; }
waiting() { [ "$(room_stage "$1")" = waiting ] && console "$1" | tail -n 1 | grep -q '^UDP receiver for '; }
send() { # send SEND-IMAGE-ARGS...: in the background, output in $tmp/out and $tmp/err
    ROOM_SEND_LIMIT=60 room_send --nokbd "$@" "$ROOM_DIR/image.wim" >"$tmp/out" 2>"$tmp/err" </dev/null &
    sender=$!
}
expect_deployed() { # expect_deployed PC GPT|MBR SYSTEM-PARTITION FIRMWARE
    local pc=$1 drive_c=$tmp/room/$1/prefix/drive_c script=$mbr_script
    [ "$2" = GPT ] && script=$gpt_script
    within 60 ended "$pc" || fail "$pc: the run did not end within 60 s"
    [ "$(cat "$tmp/room/$pc/status")" = 0 ] || fail "$pc: exit status $(cat "$tmp/room/$pc/status"): $(console "$pc")"
    [ "$(tr -d '\r\n' <"$drive_c/image.sha256")" = "$ROOM_IMAGE_SHA" ] || fail "$pc: dism was not given the image sent"
    [ ! -e "$drive_c/system.wim" ] || fail "$pc: C:\\system.wim was left behind"
    sed 's/\r*$/\r/' "$script" | cmp -s - "$drive_c/users/root/Temp/prep_disk.txt" ||
        fail "$pc: diskpart was not given the $2 script"
    journal "$pc" | grep -qx "bcdboot	C:\\\\Windows	/s	$3	/f	$4" || fail "$pc: bcdboot not asked for $3 $4: $(journal "$pc")"
    [ "$(journal "$pc" | tail -n 1)" = "wpeutil	reboot" ] || fail "$pc: no restart requested last"
    console "$pc" | awk '/^\[INFO\] 等待网络发送 system.wim/ { w = NR } /^Udp-receiver 20230924$/ { v = NR }
        /^bytes= / { b = NR } /^\[INFO\] system.wim 已接收/ { r = NR } END { exit !(w && v > w && b > v && r > b) }' ||
        fail "$pc: the receiver's own lines are not between the waiting and the received line: $(console "$pc")"
    cmp -s "$drive_c/users/root/Temp/udp-receiver.exe" "$receiver" || fail "$pc: the staged receiver is not $receiver"
}

# No sender yet: both PCs wait at the waiting line and nothing is applied.
room_boot uefi1 && room_boot bios2
within 30 waiting uefi1 && within 30 waiting bios2 && sleep 5 || fail "the receivers did not start: $(console uefi1)"
for pc in uefi1 bios2; do
    ! ended $pc && waiting $pc && [ "$(journal $pc | cut -f1 | tr '\n' ' ')" = "wpeutil diskpart " ] ||
        fail "$pc: not waiting after 5 s without a sender, or tools ran: $(console $pc)"
done
ok "no sender: after 5 s both PCs still wait, nothing applied"

# The sender starts late, for two PCs; a third boots once the transfer has begun.
send --min-receivers 2 --max-bitrate 10m
within 30 grep -q '^Starting transfer' "$tmp/err" || fail "the transfer did not start: $(cat "$tmp/err")"
room_boot late3
wait "$sender" || fail "send-image exit status $?"
expect_deployed uefi1 GPT S: UEFI
expect_deployed bios2 MBR C: BIOS
ok "late sender: UEFI and BIOS PCs get the image byte for byte, their own script and boot target"
within 30 waiting late3 || fail "late3: not waiting: $(console late3)"
! ended late3 && [ "$(journal late3 | cut -f1 | tr '\n' ' ')" = "wpeutil diskpart " ] ||
    fail "late3: joined a transfer that had begun: $(console late3)"
send --min-receivers 1
wait "$sender" || fail "second send-image exit status $?"
expect_deployed late3 GPT S: UEFI
ok "a PC that boots during a transfer waits for the next one, and gets it"

# The sender dies mid-transfer: udpcast's Windows receiver has no time-out, so it waits; the image
# is never applied and no restart is requested. The test ends the run.
room_boot uefi1
within 30 waiting uefi1 || fail "killed sender: the receiver did not start"
send --min-receivers 1 --max-bitrate 8m
within 30 grep -q 'bytes= ' "$tmp/room/uefi1/console.txt" || fail "killed sender: no data arrived: $(console uefi1)"
ip netns pids "$ROOM_ID-snd" | xargs -r kill -KILL
wait "$sender"
sleep 4
! ended uefi1 || fail "killed sender: the run ended: $(console uefi1)"
[ "$(journal uefi1 | cut -f1 | tr '\n' ' ')" = "wpeutil diskpart " ] || fail "killed sender: tools ran: $(journal uefi1)"
room_halt uefi1
ok "killed sender: 4 s later still receiving, nothing applied, no restart (the test ended the run)"
finish
