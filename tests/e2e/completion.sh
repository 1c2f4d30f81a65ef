#!/usr/bin/env bash
# The shell completions of dist/completions: the bash one, sourced into a
# bash without the bash-completion package, registers itself and completes
# commands, option values and stream files; the zsh one parses, where zsh
# is installed.
set -euo pipefail
dir=$(realpath "${1:?the folder of the completion scripts}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# The completions of the last word of a command line, sorted, one a line,
# made in $work.
reply() {
  bash --norc --noprofile -c '
    source "$1"
    cd "$2"
    shift 2
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    _mpgmend_cli
    printf "%s\n" "${COMPREPLY[@]}"' _ "$dir/mpgmend-cli.bash" "$work" "$@" | sort | grep .
}

expect() {
  local want=$1
  shift
  local got
  got=$(reply "$@" | tr '\n' ' ')
  [ "$got" = "$want " ] || fail "$*: '$got', not '$want '"
}

registered=$(bash --norc --noprofile -c 'source "$1"; complete -p mpgmend-cli' _ "$dir/mpgmend-cli.bash")
[ "$registered" = "complete -F _mpgmend_cli mpgmend-cli" ] || fail "registered: $registered"

expect "repair" mpgmend-cli re
expect "dump join repair scan" mpgmend-cli ""
expect "repair" mpgmend-cli -q --lang en re
expect "en ru" mpgmend-cli --lang ""
expect "auto" mpgmend-cli repair x.mpg --apply a
expect "ascii cp1251" mpgmend-cli dump x.mpg --charset ""
expect "--skip-clean" mpgmend-cli repair --sk
expect "--recursive" mpgmend-cli scan --rec

mkdir "$work/sub" "$work/out"
touch "$work/A.MPG" "$work/b.vob" "$work/c.txt" "$work/d.Dat" "$work/e.mpeg" "$work/f.mpg.index"
expect "A.MPG b.vob d.Dat e.mpeg out sub" mpgmend-cli scan ""
expect "A.MPG" mpgmend-cli repair --output-dir out A
expect "out sub" mpgmend-cli repair --output-dir ""

if command -v zsh >/dev/null; then
  zsh -n "$dir/_mpgmend-cli" || fail "zsh syntax"
fi
echo ok
