#!/usr/bin/env bash
# The man pages and the bash completion made from kvt's usage texts: every option a command's
# --help names survives into its rendered page, groff reads the pages without a warning, and
# the completion offers commands, a command's own options and the words an option takes.
#   usage_docs_test.sh KVT MANDIR
set -euo pipefail
kvt=$1 man=$2
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

commands=$("$kvt" --help | sed -n 's/^  \([a-z]*\)  .*/\1/p')
[ -n "$commands" ] || fail "kvt --help lists no command"
for page in "$man"/*.1; do
  warnings=$(groff -man -Tascii -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "groff warns about $(basename "$page"): $warnings"
done
for command in $commands; do
  page="$man/kvt-$command.1"
  [ -f "$page" ] || { fail "no page for kvt $command"; continue; }
  rendered=$(MANWIDTH=200 groff -man -Tascii -P-cbou "$page" 2>/dev/null)
  for option in $("$kvt" "$command" --help | grep -oE '(^|[ [(|])--?[a-z][a-z0-9-]*' | tr -d ' [(|' | sort -u); do
    grep -qe "$option" <<<"$rendered" || fail "kvt-$command.1 lacks $option"
  done
done

# shellcheck source=/dev/null
source "$man/kvt.bash"
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _kvt
  echo "${COMPREPLY[*]}"
}
expect() {
  local want=$1
  shift
  local got
  got=$(complete_words "$@")
  [ "$got" = "$want" ] || fail "completing '$*': got '$got', want '$want'"
}
expect "compress compare" kvt comp
expect "--kvt6" kvt compress --kv
expect "randomized" kvt compress --solver r
expect "--evals --evec" kvt query --ev
expect "" kvt select --sol
expect "none nojump" kvt convert -i run.dcd --pbc no
[ "$failures" -eq 0 ] || exit 1
echo "usage docs: pages of $(wc -w <<<"$commands") commands and the completion agree with kvt --help"
