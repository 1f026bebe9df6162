# bash completion for consolew: options, profile names from the config file,
# serial devices, files for the options that take one.

# The profile names (INI sections) of the config file in effect: --config's
# file when the line names one, else the user's, else the machine's.
_consolew_profiles() {
    local config="" i
    for ((i = 1; i < ${#COMP_WORDS[@]}; i++)); do
        case ${COMP_WORDS[i]} in
            --config) config=${COMP_WORDS[i + 1]} ;;
            --config=*) config=${COMP_WORDS[i]#--config=} ;;
        esac
    done
    config=${config/#\~/$HOME}
    if [[ -z $config ]]; then
        for config in "${XDG_CONFIG_HOME:-$HOME/.config}/consolew/consolew.conf" \
                      /etc/consolew/consolew.conf; do
            [[ -r $config ]] && break
        done
    fi
    [[ -r $config ]] || return 0
    # "[ name ]" is the profile "name", as consolew reads it.
    sed -n 's/^[[:space:]]*\[[[:space:]]*\([^]]*[^][:space:]]\)[[:space:]]*\][[:space:]]*$/\1/p' -- "$config" 2>/dev/null
}

# Serial devices: stable by-id names first, then the ttys themselves.
_consolew_devices() {
    local d
    for d in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS*; do
        [[ -e $d ]] && printf '%s\n' "$d"
    done
    printf '%s\n' rfc2217:// tcp://
}

_consolew() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=""
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    local opts="--com1 --com2 --port1 --port2 --image --connect --no-keyboard --no-video
        --no-reconnect --no-auto-refresh --read-only --full-keys --terminal --headless --pty
        --log --log-timestamps --trace --trace-data --record --screen-at-exit --control
        --control-read-only --control-mode --attach --take --serve --config --profile
        --print-config --list --version --help"

    # --name=value: complete the value after the '=' (bash splits words at
    # '=' unless COMP_WORDBREAKS was changed).
    if [[ $cur == --*=* ]]; then
        prev=${cur%%=*}
        cur=${cur#*=}
    elif [[ $cur == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        cur=""
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi

    case $prev in
        --com1 | --com2)
            local IFS=$'\n'
            COMPREPLY=($(compgen -W "$(_consolew_devices)" -- "$cur"))
            return 0 ;;
        --profile)
            local IFS=$'\n'
            COMPREPLY=($(compgen -W "$(_consolew_profiles)" -- "$cur"))
            return 0 ;;
        --image | --log | --trace | --record | --screen-at-exit | --config | --pty | \
        --control | --control-read-only | --attach)
            local IFS=$'\n'
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return 0 ;;
        --control-mode)
            COMPREPLY=($(compgen -W "0600 0660" -- "$cur"))
            return 0 ;;
        --serve)
            COMPREPLY=($(compgen -W "127.0.0.1:8080 0.0.0.0:8080" -- "$cur"))
            return 0 ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$opts" -- "$cur"))
    elif ((COMP_CWORD == 1)); then
        # `consolew NAME`: a profile as the first argument.
        local IFS=$'\n'
        COMPREPLY=($(compgen -W "$(_consolew_profiles)" -- "$cur"))
    fi
    return 0
}
complete -F _consolew consolew
