# Bash completion for vorlo and vorlo-sim. Installed as
# share/bash-completion/completions/vorlo and .../vorlo-sim (the same file).

_vorlo_ports() {
    # by-id names first: they stay the same when a cable moves to another socket.
    local p
    for p in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* /dev/ttyAMA*; do
        [ -e "$p" ] && printf '%s\n' "$p"
    done
}

_vorlo() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local commands="--version --help --history --redirout= --cmdfile= --silent --debug --debuglog= --daemon
        --localhostonly --persistent --secretfile= --progress= --driver= --drvlist --connection= --contout= --compress
        --seckey= --bootldr= --reqisp= --erase --write --verify --read --blankcheck --deviceinfo --exec
        --disconnect --resetctrl= --pgmenctrl= --resettime= --ispholdtime= --cp210xtest --looptest --portlist
        --importcode= --exportcode= --format= --listcode --listdata --compactcode --codeinfo --getentryaddr
        --driverbin= --testfunc --sleep= --echo= --exit --device --devtype --clockfreq= --nolocalecho
        --usermode --extmem --noexec --storectx --restorectx --gang= --gangreport= --gangtimeout="
    compopt -o nospace 2>/dev/null
    case "$cur" in
    --driver=*)
        local names="lpc2000_isp, lpc2000_iap gen_iap mic_extmem msp430bsl modbus, mec_iap"
        COMPREPLY=($(compgen -P "--driver=" -W "$names" -- "${cur#--driver=}"))
        ;;
    --format=*)
        COMPREPLY=($(compgen -P "--format=" -W "INTELHEX MOTSREC MOTSREC24 MOTSREC32 MOTBREC BINARY ELF" -- "${cur#--format=}"))
        ;;
    --progress=*)
        COMPREPLY=($(compgen -P "--progress=" -W "plain bar" -- "${cur#--progress=}"))
        ;;
    --help=*)
        COMPREPLY=($(compgen -P "--help=" -W "commands connection drivers formats daemon exit-codes lpc2000_isp gen_iap
            mic_extmem msp430bsl modbus lpc2000_iap mec_iap" -- "${cur#--help=}"))
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
    --importcode=* | --exportcode=* | --cmdfile=* | --redirout=* | --debuglog=* | --driverbin=* | --secretfile=* | --gangreport=*)
        local option=${cur%%=*}
        COMPREPLY=($(compgen -P "$option=" -f -- "${cur#*=}"))
        ;;
    *)
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        ;;
    esac
}

_vorlo_sim() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local options
    options=$(vorlo-sim --help 2>/dev/null | grep -oE '^ +--[a-z0-9-]+=?' | tr -d ' ')
    compopt -o nospace 2>/dev/null
    case "$cur" in
    --protocol=*)
        COMPREPLY=($(compgen -P "--protocol=" -W "gen_iap mic_extmem lpc_isp modbus lpc_iap mec_iap msp430_bsl" \
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
}

complete -F _vorlo vorlo
complete -F _vorlo_sim vorlo-sim
