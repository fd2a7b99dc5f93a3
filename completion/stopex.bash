# bash completion for stopex: the names of the running processes, taken from
# the program's own list (the very names it matches), then -t and -ts. A name
# that cannot be typed back (empty, "." or "..", or shown with a "?") is not
# offered; one that begins with "-" is offered as a path, ./NAME.
# Names are compared and offered as they are: none of them is ever expanded
# or run, whatever it holds.

_stopex() {
  local cur=${COMP_WORDS[COMP_CWORD]} word i named=
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    [[ $word == -* ]] || named=1
  done
  COMPREPLY=()
  if [[ -n $named || $cur == -* ]]; then
    for word in -t -ts; do
      [[ $word == "$cur"* ]] && COMPREPLY+=("$word")
    done
    return 0
  fi
  local program=${COMP_WORDS[0]} name quoted
  while IFS= read -r name; do
    case $name in
      '' | . | .. | *'?'*) continue ;;
      -*) name=./$name ;;
    esac
    if [[ $name == "$cur"* ]]; then
      printf -v quoted '%q' "$name"
      COMPREPLY+=("$quoted")
    fi
  done < <(command "$program" 2>/dev/null | LC_ALL=C sort -u)
  return 0
}
complete -F _stopex stopex
