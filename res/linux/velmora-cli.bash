# bash completion for velmora-cli
#
# Subcommands, options and their choices are read from the program's own
# --help, so the completion always matches the installed version.

# Prints the subcommands that `PROGRAM --help` lists.
_velmora_cli_commands() {
    local line listing=
    "$1" --help 2>/dev/null | while IFS= read -r line; do
        if [[ $line =~ ^[A-Za-z].*:$ ]]; then
            listing=
            [[ ${line,,} == subcommands: ]] && listing=1
        elif [[ -n $listing && $line =~ ^\ \ ([a-z][a-z0-9-]*) ]]; then
            printf '%s\n' "${BASH_REMATCH[1]}"
        fi
    done
}

# Prints one line per option of `PROGRAM [COMMAND] --help`, separated by tabs:
# the names (-q,--quiet), the value's type (empty for a flag) and the comma
# list of its choices (empty when any value goes).
_velmora_cli_options() {
    local line
    "$@" --help 2>/dev/null | while IFS= read -r line; do
        if [[ $line =~ ^\ \ ((-[A-Za-z0-9],)?--[A-Za-z0-9-]+)(\ ([A-Z]+)(:\{([^}]*)\}|:[A-Z]+)?([=\ ]|$))? ]]; then
            printf '%s\t%s\t%s\n' "${BASH_REMATCH[1]}" "${BASH_REMATCH[4]}${BASH_REMATCH[5]}" \
                "${BASH_REMATCH[6]}"
        fi
    done
}

# Adds to COMPREPLY each argument that starts with $cur, quoted for the
# command line ("Db Import/Export" becomes Db\ Import/Export).
_velmora_cli_offer() {
    local plain=${cur//\\/} word
    plain=${plain#[\"\']}
    for word in "$@"; do
        [[ $word == "$plain"* ]] && COMPREPLY+=("$(printf '%q' "$word")")
    done
}

_velmora_cli_ports() {
    if [[ $cur == /* ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
    fi
    local devices=() device
    for device in /dev/ttyUSB* /dev/ttyACM* /dev/serial/by-id/*; do
        [[ -e $device ]] && devices+=("$device")
    done
    _velmora_cli_offer auto COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 "${devices[@]}"
}

# The ODBC data sources set up for this user and this machine, as DSN=name,
# for --record (unixODBC's odbcinst lists them).
_velmora_cli_data_sources() {
    local line sources=()
    while IFS= read -r line; do
        [[ $line =~ ^\[(.+)\]$ ]] && sources+=("DSN=${BASH_REMATCH[1]}")
    done < <(odbcinst -q -s 2>/dev/null)
    _velmora_cli_offer "${sources[@]}"
}

_velmora_cli() {
    local cword=$COMP_CWORD cur=${COMP_WORDS[COMP_CWORD]} prev=
    local -a words=("${COMP_WORDS[@]}")
    COMPREPLY=()
    # bash splits --option=value at the '='.
    if [[ $cur == = ]]; then
        prev=${words[cword - 1]}
        cur=
    elif ((cword > 1)) && [[ ${words[cword - 1]} == = ]]; then
        prev=${words[cword - 2]}
    elif ((cword > 0)); then
        prev=${words[cword - 1]}
    fi

    local program=${words[0]} command= i
    local -a commands
    mapfile -t commands < <(_velmora_cli_commands "$program")
    for ((i = 1; i < cword; i++)); do
        if [[ " ${commands[*]} " == *" ${words[i]} "* ]]; then
            command=${words[i]}
            break
        fi
    done

    local -a options
    mapfile -t options < <(_velmora_cli_options "$program" ${command:+"$command"})
    local entry names type choices
    local -a all_names=()
    for entry in "${options[@]}"; do
        IFS=$'\t' read -r names type choices <<<"$entry"
        all_names+=(${names//,/ })
        if [[ -n $type && ,$names, == *,"$prev",* ]]; then
            case $prev in
                --port) _velmora_cli_ports ;;
                --record) _velmora_cli_data_sources ;;
                *)
                    if [[ -n $choices ]]; then
                        local -a values
                        IFS=, read -r -a values <<<"$choices"
                        _velmora_cli_offer "${values[@]}"
                    elif [[ $prev == --work-dir || $type == *:DIR ]]; then
                        compopt -o filenames 2>/dev/null
                        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
                    elif [[ $type == *:FILE ]]; then
                        compopt -o filenames 2>/dev/null
                        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
                    fi
                    ;;
            esac
            return
        fi
    done

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${all_names[*]}" -- "$cur")
    elif [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${commands[*]}" -- "$cur")
    else
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}

complete -F _velmora_cli velmora-cli
