#compdef stopex
# zsh completion for stopex: the names of the running processes, taken from
# the program's own list (the very names it matches), then -t and -ts.
# Names are offered as they are, quoted where the shell needs it: none of
# them is ever expanded or run, whatever it holds.

_stopex() {
  local word named=
  for word in "${(@)words[2,CURRENT-1]}"; do
    [[ $word == [-/]* ]] || named=1
  done
  if [[ -n $named || $PREFIX == -* ]]; then
    compadd -- -t -ts
    return
  fi
  local -a names
  names=("${(@f)$(command -- "${(Q)words[1]}" 2>/dev/null)}")
  compadd -- "${(@u)names:#}"
}

_stopex "$@"
