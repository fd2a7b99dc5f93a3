# fish completion for stopex: the names of the running processes, taken from
# the program's own list (the very names it matches), then -t and -ts. A name
# that cannot be typed back (empty, "." or "..", or shown with a "?") is not
# offered; one that begins with "-" is offered as a path, ./NAME.
# Names are offered as they are, escaped where the shell needs it: none of
# them is ever expanded or run, whatever it holds.

function __stopex_names
    set -l program (commandline -opc)[1]
    command $program 2>/dev/null | LC_ALL=C sort -u | string match -v -r -- '^(\.\.?)?$|\?' |
        string replace -r -- '^-' './-'
end

# True once a name has been given before the word being completed.
function __stopex_named
    for word in (commandline -opc)[2..-1]
        string match -q -- '-*' $word; or return 0
    end
    return 1
end

complete -c stopex -f
complete -c stopex -n 'not __stopex_named' -a '(__stopex_names)'
complete -c stopex -n __stopex_named -a '-t -ts'
complete -c stopex -o t -d 'test: is a process with the name running?'
complete -c stopex -o ts -d 'test silently: only the exit status tells'
