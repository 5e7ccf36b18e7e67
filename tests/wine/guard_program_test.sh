#!/bin/bash
# The real autodeploy-guard.exe under Wine, whose disk 0 cannot be checked (Wine answers no disk
# size): it refuses with exit status 1, and only the override marker beside it lets the disk pass.
# Usage: guard_program_test.sh GUARD.exe   (WINE_RUN: the project's Wine wrapper)
set -u
name=guard_program_test
. "$(dirname "$0")/../scripts/test_lib.sh"
cp "$1" "$tmp/autodeploy-guard.exe" || fail "cannot copy $1"
# guard: runs it, sets $rc and $line, the failed step and Windows error (Wine's) cut out as (…).
guard() {
    (cd "$tmp" && TMPDIR=$outer_tmpdir exec "$WINE_RUN" autodeploy-guard.exe >out 2>err </dev/null)
    rc=$?
    line=$(sed -E 's/（[^）]*失败，Windows 错误 [0-9]+）/（…）/; s/\([^)]* failed: Windows error [0-9]+\)/(…)/' "$tmp/out")
}
guard
[ "$rc" = 1 ] && [ "$line" = "磁盘 0 不会被清除：无法检查它（…）。请在命令提示符下用 diskpart 的 list disk 检查（没有磁盘：\
在映像中加入存储驱动或将控制器设为 AHCI），然后重启。Disk 0 will NOT be wiped: it cannot be checked (…). Check it at the \
prompt with diskpart, list disk (no disk: add its storage driver to the image or set the controller to AHCI), then restart." ] ||
    fail "no marker: status $rc, [$line]"
ok "disk 0 cannot be checked: the guard refuses with its line and status 1"
echo marker >"$tmp/autodeploy-guard-override.txt"
guard
[ "$rc" = 0 ] && [ "$line" = "磁盘 0 将被清除：虽然无法检查它（…），但本映像带有覆盖标记（winpe-inject --override-disk-guard）。\
Disk 0 will be wiped although it cannot be checked (…): this image carries the override (winpe-inject --override-disk-guard)." ] ||
    fail "marker beside it: status $rc, [$line]"
ok "with the override marker beside it, the guard lets the disk pass and says why"
finish
