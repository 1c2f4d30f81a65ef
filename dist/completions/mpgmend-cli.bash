# bash completion for mpgmend-cli: its commands, their options, the values
# of --apply, --lang, --charset and --width, and, where a stream is expected,
# folders and the stream files in them (.mpg .mpeg .vob .dat in any case).
# Uses bash's own compgen, complete and compopt only, so it works without
# the bash-completion package: source it, or put it where that package
# looks (/usr/share/bash-completion/completions/mpgmend-cli).

# The folders and stream files that start with $1, into COMPREPLY.
_mpgmend_cli_streams() {
  local name
  COMPREPLY=()
  compopt -o filenames 2>/dev/null
  while IFS= read -r name; do
    if [[ -d $name ]]; then
      COMPREPLY+=("$name")
      continue
    fi
    case ${name,,} in
      *.mpg | *.mpeg | *.vob | *.dat) COMPREPLY+=("$name") ;;
    esac
  done < <(compgen -f -- "$1")
}

_mpgmend_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD - 1]}
  local command="" i
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      scan | repair | dump | join)
        command=${COMP_WORDS[i]}
        break
        ;;
    esac
  done

  local values=""
  case $prev in
    --apply) values="eq rescan sizes auto" ;;
    --lang) values="ru en" ;;
    --charset) values="ascii cp1251" ;;
    --width) values="16 24 32" ;;
    --min-run | --block)
      COMPREPLY=()
      return
      ;;
    --output-dir)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
    -o | --output | --report)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return
      ;;
  esac
  if [[ -n $values ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$values" -- "$cur")
    return
  fi

  # The options every command takes, before or behind its name.
  local global="-q --quiet --lang --literal -h --help"
  if [[ -z $command ]]; then
    if [[ $cur == -* ]]; then
      mapfile -t COMPREPLY < <(compgen -W "$global --version" -- "$cur")
    else
      mapfile -t COMPREPLY < <(compgen -W "scan repair dump join" -- "$cur")
    fi
    return
  fi

  local options=""
  case $command in
    scan) options="-r --recursive --save-index --json --decode" ;;
    repair)
      options="-r --recursive -o --output --output-dir --skip-clean --wrap-dat --force --apply --any-byte
        --any-delta --min-run --cut-pad --from-index --resume --json --report --dry-run --verify"
      ;;
    dump) options="--block --width --apply --charset" ;;
    join) options="-o --output --force --glue --one-system-header --one-padding" ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options $global" -- "$cur")
    return
  fi
  _mpgmend_cli_streams "$cur"
}

complete -F _mpgmend_cli mpgmend-cli
