#!/usr/bin/env bash
# Checks that quorin's man page and bash completion keep up with the program: every command,
# subcommand and option that `quorin ... --help` lists is in the page and offered by the
# completion, and the page renders without a warning.
#
#   check_docs.sh QUORIN MAN-PAGE COMPLETION
set -euo pipefail
quorin=${1:?usage: check_docs.sh QUORIN MAN-PAGE COMPLETION}
page=${2:?usage: check_docs.sh QUORIN MAN-PAGE COMPLETION}
completion=${3:?usage: check_docs.sh QUORIN MAN-PAGE COMPLETION}

warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[[ -z "$warnings" ]] || { echo "$page: $warnings" >&2; exit 1; }
text=$(MANWIDTH=200 man -l "$page" 2>/dev/null)

# shellcheck source=/dev/null
source "$completion"
completions() {  # what the completion offers after `quorin WORDS... CURRENT`
  COMP_WORDS=(quorin "$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _quorin
  printf '%s\n' "${COMPREPLY[@]}"
}

failures=0
missing() { echo "$1" >&2; failures=$((failures + 1)); }

# Walks the command tree from `quorin --help` down.
check() {
  local path=("$@") help offered name option
  help=$("$quorin" "${path[@]}" --help)
  offered=$(completions "${path[@]}" --)
  # shellcheck disable=SC2013  # one word a line
  for option in $(sed -n '/^Options:/,/^$/s/^ *\(-[a-z],\)\{0,1\}\(--[a-z-]*\).*/\2/p' <<<"$help"); do
    grep -q -- "$option" <<<"$text" || missing "man page: no $option (quorin ${path[*]})"
    grep -qx -- "$option" <<<"$offered" || missing "completion: no $option after 'quorin ${path[*]}'"
  done
  offered=$(completions "${path[@]}" "")
  # shellcheck disable=SC2013  # one word a line
  for name in $(sed -n '/^Subcommands:/,/^$/s/^  \([a-z-]*\) .*/\1/p' <<<"$help"); do
    grep -qE "^ +(quorin )?${path[*]}${path[*]:+ }$name( |$)" <<<"$text" ||
      missing "man page: no entry for 'quorin ${path[*]}${path[*]:+ }$name'"
    grep -qx -- "$name" <<<"$offered" || missing "completion: no $name after 'quorin ${path[*]}'"
    check "${path[@]}" "$name"
  done
}
check
[[ $failures -eq 0 ]] || { echo "$failures missing from the man page or completion" >&2; exit 1; }
echo "man page and completion cover every command and option"
