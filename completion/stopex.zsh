#compdef stopex
# zsh completion for stopex: the names of the running processes, taken from
# the program's own list (the very names it matches), then -t and -ts. A name
# that cannot be typed back (empty, "." or "..", or shown with a "?") is not
# offered; one that begins with "-" is offered as a path, ./NAME.
# Names are offered as they are, quoted where the shell needs it: none of
# them is ever expanded or run, whatever it holds.

_stopex() {
  local word named=
  for word in "${(@)words[2,CURRENT-1]}"; do
    [[ $word == -* ]] || named=1
  done
  if [[ -n $named || $PREFIX == -* ]]; then
    compadd -- -t -ts
    return
  fi
  local -a offers
  local name
  for name in "${(@f)$(command -- "${(Q)words[1]}" 2>/dev/null)}"; do
    case $name in
      ('' | . | .. | *'?'*) continue ;;
      (-*) name=./$name ;;
    esac
    offers+=("$name")
  done
  compadd -- "${(@u)offers}"
}

_stopex "$@"
