# Bash completion for vorlo and vorlo-sim. Installed as
# share/bash-completion/completions/vorlo and .../vorlo-sim (the same file).

_vorlo_ports() {
    # by-id names first: they stay the same when a cable moves to another socket.
    local p
    for p in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* /dev/ttyAMA*; do
        [ -e "$p" ] && printf '%s\n' "$p"
    done
}

# Bash splits the line at its word-break characters (COMP_WORDBREAKS: '=' and ':' among
# them), so "--driver=ms" reaches a completion function as three words and only "ms" is
# replaced. The functions below work on the whole word under the cursor, as the user
# sees it, and _vorlo_trim then cuts from each answer what bash keeps.
_vorlo_word() {
    local line=${COMP_LINE:0:COMP_POINT}
    _vorlo_cur=${line##*[[:space:]]}
    local tail=$_vorlo_cur c i
    for ((i = 0; i < ${#COMP_WORDBREAKS}; i++)); do
        c=${COMP_WORDBREAKS:i:1}
        case "$c" in [[:space:]] | \" | \') continue ;; esac
        tail=${tail##*"$c"}
    done
    _vorlo_kept=$((${#_vorlo_cur} - ${#tail}))
}

_vorlo_trim() {
    local i
    for i in "${!COMPREPLY[@]}"; do COMPREPLY[i]=${COMPREPLY[i]:_vorlo_kept}; done
}

# The program's own lists: "vorlo --complete=WHAT" (commands, drivers, formats, topics)
# prints the words to offer, one a line, so a new command, driver or format needs no edit
# here. $1 is the program as typed; one run per TAB. Nothing when it cannot tell.
_vorlo_words() {
    local words
    words=$("${1/#\~/$HOME}" --complete="$2" 2>/dev/null </dev/null) && printf '%s\n' "$words"
}

_vorlo() {
    local cur
    _vorlo_word
    cur=$_vorlo_cur
    compopt -o nospace 2>/dev/null
    case "$cur" in
    --driver=*)
        COMPREPLY=($(compgen -P "--driver=" -W "$(_vorlo_words "$1" drivers)" -- "${cur#--driver=}"))
        ;;
    --format=*)
        COMPREPLY=($(compgen -P "--format=" -W "$(_vorlo_words "$1" formats)" -- "${cur#--format=}"))
        ;;
    --progress=*)
        COMPREPLY=($(compgen -P "--progress=" -W "plain bar" -- "${cur#--progress=}"))
        ;;
    --help=*)
        COMPREPLY=($(compgen -P "--help=" -W "$(_vorlo_words "$1" topics)" -- "${cur#--help=}"))
        ;;
    --resetctrl=* | --pgmenctrl=*)
        local option=${cur%%=*}
        COMPREPLY=($(compgen -P "$option=" -W "DTR,0 DTR,1 RTS,0 RTS,1 CP2103GPIO_0,0 CP2103GPIO_1,0 CP2103GPIO_2,0
            CP2103GPIO_3,0" -- "${cur#*=}"))
        ;;
    --connection=*)
        local ports
        ports=$( (_vorlo_ports; echo AUTO) | sed 's/$/,115200,8,N,1/')
        COMPREPLY=($(compgen -P "--connection=" -W "$ports" -- "${cur#--connection=}"))
        ;;
    --gang=*)
        local ports
        ports=$( (echo AUTO; _vorlo_ports) )
        COMPREPLY=($(compgen -P "--gang=" -W "$ports" -- "${cur#--gang=}"))
        ;;
    --importcode=* | --exportcode=* | --cmdfile=* | --redirout=* | --debuglog=* | --driverbin=* | --secretfile=* | --gangreport=* | --bslpassword=*)
        local option=${cur%%=*}
        COMPREPLY=($(compgen -P "$option=" -f -- "${cur#*=}"))
        ;;
    *)
        COMPREPLY=($(compgen -W "$(_vorlo_words "$1" commands)" -- "$cur"))
        ;;
    esac
    _vorlo_trim
}

_vorlo_sim() {
    local cur
    _vorlo_word
    cur=$_vorlo_cur
    # The options and the protocols ("Protocol NAME:" sections) from its help.
    local help options
    help=$(vorlo-sim --help 2>/dev/null </dev/null)
    options=$(grep -oE '^ +--[a-z0-9-]+=?' <<<"$help" | tr -d ' ')
    compopt -o nospace 2>/dev/null
    case "$cur" in
    --protocol=*)
        COMPREPLY=($(compgen -P "--protocol=" -W "$(sed -n 's/^Protocol \([a-z0-9_]*\):$/\1/p' <<<"$help")" \
            -- "${cur#--protocol=}"))
        ;;
    --dump=* | --dump-bin=* | --log=* | --load=* | --link=*)
        local option=${cur%%=*}
        COMPREPLY=($(compgen -P "$option=" -f -- "${cur#*=}"))
        ;;
    *)
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        ;;
    esac
    _vorlo_trim
}

complete -F _vorlo vorlo
complete -F _vorlo_sim vorlo-sim
