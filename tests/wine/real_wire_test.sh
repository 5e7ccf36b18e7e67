#!/bin/bash
# autodeploy.exe with its real, embedded udpcast receiver, under Wine, fed by Debian's udp-sender
# through scripts/send-image across network namespaces that this test makes (scripts/lib/room.sh).
# The WinPE tools are stand-ins; the stand-in dism records the SHA-256 of the image it applies.
# Usage: real_wire_test.sh PROGRAM STANDIN RECEIVER TEMPLATE-PREFIX   (exit 77: skipped)
set -u
set -o pipefail

name=real_wire_test
here=$(cd "$(dirname "$0")" && pwd -P)
. "$here/../../scripts/lib/room.sh"
ROOM_PROGRAM=$1 ROOM_STANDIN=$2 ROOM_TEMPLATE=$4
receiver=$3

if reason=$(room_unavailable) && [ -n "$reason" ]; then
    echo "SKIP: $reason; the real-wire tests need their own network namespaces"
    exit 77
fi
tmp=$(mktemp -d "${TMPDIR:-/tmp}/$name.XXXXXX")
. "$here/../scripts/test_lib.sh"
room_open "adw$$" "$tmp/room" || fail "cannot set up the namespaces"
trap 'room_close; rm -rf "$tmp"' EXIT

mkdir -p "$tmp/tree"
head -c 3000000 /dev/urandom >"$tmp/tree/payload.bin"
wimcapture "$tmp/tree" "$tmp/image.wim" "sample" --compress=none >/dev/null || fail "wimcapture"
sent_sha=$(sha256sum <"$tmp/image.wim" | cut -d' ' -f1)

room_add_machine pc uefi || fail "cannot set up the machine"
pc=$tmp/room/pc
drive_c=$pc/prefix/drive_c
console() { tr '\r' '\n' <"$pc/console.txt" | sed '/^$/d'; }
wait_for() { # wait_for SECONDS CONDITION...: polls CONDITION every 0.2 s
    local seconds=$1 i
    shift
    for ((i = 0; i < seconds * 5; i++)); do "$@" && return 0; sleep 0.2; done
    return 1
}
finished() { [ -s "$pc/status" ]; }
waiting() { console | tail -n 1 | grep -q '^UDP receiver for C:\\system.wim at '; }
transfer() { # transfer SEND-IMAGE-ARGS...: sends in the background, output in $tmp/out and $tmp/err
    ROOM_SEND_LIMIT=60 room_send "$@" >"$tmp/out" 2>"$tmp/err" </dev/null &
    sender=$!
}
expect_whole_run() { # expect_whole_run WHAT
    wait_for 60 finished || fail "$1: the run did not end within 60 s"
    [ "$(cat "$pc/status")" = 0 ] || fail "$1: exit status $(cat "$pc/status"); console: $(console)"
    [ "$(cat "$drive_c/image.sha256" 2>/dev/null | tr -d '\r\n')" = "$sent_sha" ] ||
        fail "$1: dism was not given the image that was sent"
    [ ! -e "$drive_c/system.wim" ] || fail "$1: C:\\system.wim was left behind"
    console | awk '/^\[INFO\] 等待网络发送 system.wim/ { w = NR } /^Udp-receiver 20230924$/ { v = NR }
        /^bytes= / { b = NR } /^\[INFO\] system.wim 已接收/ { r = NR }
        END { exit !(w && v > w && b > v && r > b) }' ||
        fail "$1: the receiver's own lines are not between the waiting and the received line: $(console)"
    tail -n 1 "$drive_c/journal.txt" | tr -d '\r' | grep -qx "wpeutil	reboot" || fail "$1: no restart was requested"
    wait "$sender" || fail "$1: send-image exit status $?"
}

# A whole run: the image arrives byte for byte and is applied; the receiver that ran is the one
# the build made.
room_boot pc
wait_for 30 waiting || fail "the receiver did not start: $(console)"
transfer --nokbd --min-receivers 1 "$tmp/image.wim"
expect_whole_run "whole run"
cmp -s "$drive_c/users/root/Temp/udp-receiver.exe" "$receiver" ||
    fail "the receiver autodeploy.exe staged is not the one the build made ($receiver)"
ok "whole run: the image arrives byte for byte, is applied, removed, and the restart requested"

# No sender yet: the run waits at the waiting line and applies nothing; a sender that starts late
# still completes it.
room_boot pc
wait_for 30 waiting || fail "late sender: the receiver did not start"
sleep 6
! finished || fail "no sender: the run ended: $(console)"
waiting || fail "no sender: not at the waiting line after 6 s: $(console)"
[ "$(cut -f1 "$drive_c/journal.txt" | tr -d '\r' | tr '\n' ' ')" = "wpeutil diskpart " ] ||
    fail "no sender: tools ran while waiting: $(cat "$drive_c/journal.txt")"
ok "no sender: still at the waiting line after 6 s, nothing applied"
transfer --nokbd --min-receivers 1 "$tmp/image.wim"
expect_whole_run "late sender"
ok "late sender: the run completes"

# The sender dies mid-transfer: the receiver keeps waiting (udpcast's Windows receiver has no
# time-out), so the image is never applied and no restart is requested. The test ends it.
room_boot pc
wait_for 30 waiting || fail "killed sender: the receiver did not start"
transfer --nokbd --min-receivers 1 --max-bitrate 8m "$tmp/image.wim"
wait_for 30 grep -q 'bytes= ' "$pc/console.txt" || fail "killed sender: no data arrived: $(console)"
ip netns pids "$ROOM_ID-snd" | xargs -r kill -KILL
wait "$sender"
sleep 4
! finished || fail "killed sender: the run ended: $(console)"
! cut -f1 "$drive_c/journal.txt" | grep -q '^dism\|^bcdboot' || fail "killed sender: the image was applied"
! grep -q 'reboot' "$drive_c/journal.txt" || fail "killed sender: a restart was requested"
room_halt pc
ok "killed sender: after 4 s still receiving, nothing applied, no restart (the test ended the run)"

printf '%s: %s passed, 0 failed\n' "$name" "$passed"
