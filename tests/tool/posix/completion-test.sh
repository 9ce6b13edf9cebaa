#!/usr/bin/env bash
# The bash completion of quorlin: it parses, it is registered for quorlin, and it
# completes what a user types, driven as bash drives it (COMP_WORDS, COMP_CWORD).
# Usage: completion-test.sh QUORLIN COMPLETION-SCRIPT
set -uo pipefail
program=$1
script=$2

bash -n "$script" || { echo "the completion script does not parse"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/data" "$work/data/a folder"
touch "$work/data/alpha.txt"
ln -s "$program" "$work/bin/quorlin"
export PATH="$work/bin:$PATH"
cd "$work/data" || exit 1
# shellcheck source=/dev/null
source "$script"
[[ $(complete -p quorlin) == "complete -F _quorlin quorlin" ]] ||
  { echo "not registered for quorlin: $(complete -p quorlin 2>&1)"; exit 1; }

failures=0
# The words typed, the last one being completed | the replies, exactly (sorted).
while IFS='|' read -r typed expected; do
  read -r -a COMP_WORDS <<<"$typed"
  [[ $typed == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  _quorlin
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort -u | paste -sd' ')
  if [[ $got != "$expected" ]]; then
    echo "\"$typed\": expected \"$expected\", got \"$got\""
    failures=$((failures + 1))
  fi
done <<'CASES'
quorlin sn|snapshot
quorlin |copy delete list snapshot
quorlin delete --or|--orphans
quorlin --json c|copy
quorlin --tim|--timeout --timings
quorlin snapshot --j|--json
quorlin copy --no|--no-writers
quorlin --timeout |
quorlin --timeout 30 sn|snapshot
quorlin -vv snapshot al|alpha.txt
quorlin snapshot a|a folder alpha.txt
quorlin snapshot alpha.txt -- quorlin-no-such-prog|
quorlin snapshot alpha.txt -- cat al|alpha.txt
CASES
# After "--" the name of a command: one that is surely there.
COMP_WORDS=(quorlin snapshot alpha.txt -- quorli)
COMP_CWORD=4
_quorlin
[[ " ${COMPREPLY[*]} " == *" quorlin "* ]] || { echo "no command after --: ${COMPREPLY[*]}"; failures=$((failures + 1)); }
exit $((failures > 0))
