#!/usr/bin/env bash
# A stream past 4 GiB end to end through mpgmend-cli, on sparse files that
# take a few hundred kilobytes of disk: a real stream at the start, then
# sector fill (a hole, which reads as zeros) up to a glued copy of it whose
# blocks cross the 4 GiB mark, with a run of zeros inserted into one of its
# packets past 4 GiB. The scan lists exactly that block, eq restores the
# stream, and the index (in the wide format) loads to the same table. The
# repaired stream goes through a pipe and is compared with the expected one,
# never written to disk.
set -euo pipefail
cli=${1:?mpgmend-cli}
piece=${2:?a stream whose packs lie on a 2,048-byte grid}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

size=$(stat -c %s "$piece")
# The copy starts on the piece's grid, 100,000 bytes or so before 4 GiB.
copyAt=$(( (4294967296 - 100000) / 2048 * 2048 ))
# A packet of the copy that starts past 4 GiB: the run goes 500 bytes into it.
at=$(python3 - "$piece" "$copyAt" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
base = int(sys.argv[2])
i = data.find(b'\x00\x00\x01\xe0')
while i >= 0 and base + i <= 4294967296:
    i = data.find(b'\x00\x00\x01\xe0', i + 1)
print(base + i + 500)
PY
)
run=1234
expected="$work/expected.mpg"
damaged="$work/damaged.mpg"
# Sparse copies: the piece, a hole, the piece again.
cp "$piece" "$expected"
dd if="$piece" of="$expected" bs=1M seek="$copyAt" oflag=seek_bytes conv=notrunc status=none
cp --sparse=always "$expected" "$damaged"
# The damaged one: the bytes from `at` on move `run` bytes up, zeros between.
dd if="$expected" of="$damaged" bs=1M skip="$at" seek=$((at + run)) iflag=skip_bytes \
  oflag=seek_bytes conv=notrunc status=none
dd if=/dev/zero of="$damaged" bs="$run" count=1 seek="$at" oflag=seek_bytes conv=notrunc \
  status=none
printf '\x00\x00\x01\xb9' >>"$expected"  # the end code the save closes it with

fail() { echo "FAIL: $*" >&2; exit 1; }

# A scan that finds broken blocks exits 3.
scan() {
  local rc=0
  "$cli" "$@" || rc=$?
  [ "$rc" = 3 ] || fail "scan $*: exit status $rc, not 3"
}

# The block rows (findings of the content, whose rows begin with their kind,
# name the zeros between the two copies as well).
rows=$(scan scan -q "$damaged" | grep -v '^[a-z]')
[ "$(printf '%s\n' "$rows" | grep -c .)" = 1 ] || fail "rows: $rows"
offset=$(printf '%s' "$rows" | cut -f 4)
delta=$(printf '%s' "$rows" | cut -f 7)
[ "$offset" -gt 4294967296 ] && [ "$delta" = "$run" ] || fail "row: $rows"

"$cli" repair -q "$damaged" -o - | cmp - "$expected" || fail "repaired stream"

scan scan -q --save-index "$damaged" >/dev/null
[ "$(head -c 8 "$damaged.index")" = MPGINDEX ] || fail "index format"
"$cli" repair -q --from-index "$damaged" -o - | cmp - "$expected" || fail "repair from the index"
"$cli" repair -q --json "$damaged" -o /dev/null >"$work/scanned.json"
"$cli" repair -q --from-index --json "$damaged" -o /dev/null >"$work/loaded.json"
cmp "$work/scanned.json" "$work/loaded.json" || fail "the index gives another table"

# A wide index cut short, or one for an input of another size, is refused.
head -c -7 "$damaged.index" >"$work/cut" && mv "$work/cut" "$damaged.index"
if "$cli" repair -q --from-index "$damaged" -o /dev/null 2>/dev/null; then fail "cut index"; fi
scan scan -q --save-index "$damaged" >/dev/null
truncate -s +2048 "$damaged"
if "$cli" repair -q --from-index "$damaged" -o /dev/null 2>/dev/null; then fail "other size"; fi
# 2.5 GiB and a bit of zeros behind the piece: no start code for longer than
# one entry spans. The block before them is listed up to that length and the
# rest goes on in an entry of its own, listed too; the index takes both, and
# eq cuts both runs out. Walked by the strict rules, which know no fill: the
# sound ones take as much of such zeros as lies on the grid for whole
# sectors of fill.
gap="$work/gap.mpg"
cp "$piece" "$gap"
truncate -s $((size + 2684354560 + 100)) "$gap"
rows=$(scan --literal scan -q --save-index "$gap")
[ "$(printf '%s\n' "$rows" | grep -c .)" = 2 ] || fail "rows of the gap: $rows"
[ "$(printf '%s\n' "$rows" | sed -n 1p | cut -f 6)" = 2147483647 ] || fail "gap: $rows"
[ "$(printf '%s\n' "$rows" | sed -n 2p | cut -f 3,5)" = "$(printf '00000000\t0')" ] || fail "gap: $rows"
"$cli" --literal repair -q --from-index "$gap" -o - | cmp - <(cat "$piece"; printf '\x00\x00\x01\xb9') ||
  fail "the gap cut out"
echo "ok"
