#!/usr/bin/env bash
# A join onto a disk that fills up: a small tmpfs, mounted in a mount
# namespace of our own, so that no privileges are needed. Both joins fail
# with the piece, the offset and the system's reason, leave nothing on the
# full disk, and the pieces stay as they were. Skipped (77) where the system
# gives no such namespace.
set -euo pipefail
cli=${1:?mpgmend-cli}
data=${2:?fixture folder}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unshare -rm true 2>/dev/null || exit 77

mkdir "$work/disk"
pieces=("$data/vcd.mpg" "$data/av.mpg" "$data/vcd.mpg")
sums=$(md5sum "${pieces[@]}")
status=0
LC_ALL=C unshare -rm bash -c '
    cli=$1 disk=$2; shift 2
    mount -t tmpfs -o size=256k none "$disk" || exit 77
    for how in "" --glue; do
        rc=0
        "$cli" join $how -q -o "$disk/joined.mpg" "$@" 2>"$disk/../err$how.txt" || rc=$?
        [ "$rc" -ne 0 ] || { echo "FAIL: join $how onto a full disk succeeded"; exit 1; }
        left=$(ls -A "$disk")
        [ -z "$left" ] || { echo "FAIL: join $how left $left on the full disk"; exit 1; }
    done
' - "$cli" "$work/disk" "${pieces[@]}" || status=$?
[ "$status" -ne 77 ] || exit 77
[ "$status" -eq 0 ] || exit 1
for how in "" --glue; do
    grep -q "No space left on device" "$work/err$how.txt" ||
        { echo "FAIL: join $how does not give the system's reason:"; cat "$work/err$how.txt"; exit 1; }
done
# The structured join names the piece being copied and its offset.
grep -q "ошибка сохранения файла: $data/.*, позиция" "$work/err.txt" ||
    { echo "FAIL: the structured join does not name the piece:"; cat "$work/err.txt"; exit 1; }
[ "$(md5sum "${pieces[@]}")" = "$sums" ] || { echo "FAIL: a piece changed"; exit 1; }
