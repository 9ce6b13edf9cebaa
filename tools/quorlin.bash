# bash completion for quorlin: its commands, their options, paths, and after "--" the
# command to run. The commands and options are read from "quorlin --help" (and
# "quorlin COMMAND --help"), so they are always those of the quorlin being completed.
# Installed as share/bash-completion/completions/quorlin.

# The first column of a section of help text, one name per line: for "Options:" each
# spelling of an option ("-v", "--verbose"), marked "=" when it takes a value; for
# "Subcommands:" each command.
_quorlin_help_names() {
    local section=$1 line names type inside=0
    while IFS= read -r line; do
        if [[ $line == "$section" ]]; then
            inside=1
        elif ((inside)); then
            [[ -n $line && $line == " "* ]] || break
            [[ $line == "  "[![:space:]]* ]] || continue # a description on a line of its own
            line=${line#  }
            line=${line%%  *}
            names=${line%% *}
            type=
            [[ $line == *" "* ]] && type="="
            local IFS=,
            printf "%s$type\n" $names
        fi
    done
}

_quorlin() {
    local cur=${COMP_WORDS[COMP_CWORD]} program=${COMP_WORDS[0]} word command= i
    local -a options
    COMPREPLY=()
    mapfile -t options < <("$program" --help 2>/dev/null | _quorlin_help_names "Options:")
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $word == -- ]]; then
            # The command to run and its arguments, as bash completes a command line.
            if declare -F _command_offset >/dev/null; then
                _command_offset $((i + 1))
            elif ((i + 1 == COMP_CWORD)); then
                mapfile -t COMPREPLY < <(compgen -c -- "$cur")
            else
                compopt -o filenames 2>/dev/null
                mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            fi
            return 0
        elif [[ " ${options[*]} " == *" $word= "* ]]; then
            ((i++))  # the option's value
        elif [[ -z $command && $word != -* ]]; then
            command=$word
            mapfile -t options < <("$program" "$command" --help 2>/dev/null |
                _quorlin_help_names "Options:")
        fi
    done
    if ((COMP_CWORD > 1)) && [[ " ${options[*]} " == *" ${COMP_WORDS[COMP_CWORD - 1]}= "* ]]; then
        return 0  # a value: nothing to offer
    fi
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${options[*]//=/}" -- "$cur")
    elif [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$("$program" --help 2>/dev/null |
            _quorlin_help_names "Subcommands:")" -- "$cur")
    else
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
    return 0
}

complete -F _quorlin quorlin
