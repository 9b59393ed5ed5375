# Bash helpers for running the Windows build under Wine: a private prefix,
# one wineserver session, and serial ports made of pty pairs.
# Source this file; every function prefixes its messages with "wine-env:".
#
#   qn_wine_setup PREFIX_DIR     environment for that prefix (call first)
#   qn_wine_prefix_init          create the prefix once, wait for wineboot
#   qn_wine_prefix_check_loaders before ..._init: a prefix made with other
#                                Wine loaders is made again
#   qn_wine_prefix_record_loaders after ..._init
#   qn_wine_session_start        a wineserver that stays up until ..._stop
#   qn_wine_session_stop
#   qn_wine_add_com N DIR        COMn made of a pty pair in DIR (socat)
#   qn_wine_list_port NAME PORT  a SERIALCOMM value only (no device behind it)
#   qn_wine_remove_coms          ends the pty pairs and their COM links
#   qn_wine_unix_to_windows PATH the Z: form of a Unix path

# Wine's key names are fixed, but its messages are not useful in test logs.
qn_wine_setup() {
    local prefix=$1
    export WINEPREFIX=$prefix
    export WINEARCH=win64
    export WINEDEBUG=${QN_WINEDEBUG:--all}
    # No Mono or Gecko installer prompts: nothing here needs .NET or HTML.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    QN_WINE_PTY_PIDS=()
    QN_WINE_COMS=()
    qn_wine_pick_loader "$(dirname "$prefix")/wine-bin"
}

# Debian's wine commands take the 32-bit loader whenever wine32 is installed,
# but some kernels run no 32-bit programs at all ("Exec format error"). There
# the commands are wrapped to take the 64-bit loader, and QN_WINE_32BIT=0
# tells the suites that 32-bit Windows programs cannot run.
qn_kernel_runs_32bit() {
    [[ -x /usr/lib/wine/wine ]] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

qn_wine_pick_loader() {
    local bin=$1 tool
    export QN_WINE_32BIT=1
    qn_kernel_runs_32bit && return 0
    export QN_WINE_32BIT=0
    [[ -x /usr/lib/wine/wine ]] || return 0
    qn_wine_log "this kernel runs no 32-bit programs: Wine runs with its 64-bit loader only"
    mkdir -p "$bin"
    printf '#!/bin/sh\nWINELOADER=/usr/lib/wine/wine64 exec /usr/lib/wine/wine64 "$@"\n' >"$bin/wine"
    for tool in wineboot wineconsole winepath winecfg; do
        printf '#!/bin/sh\nWINELOADER=/usr/lib/wine/wine64 exec /usr/lib/wine/wine64 %s.exe "$@"\n' "$tool" >"$bin/$tool"
    done
    chmod +x "$bin"/*
    case ":$PATH:" in *":$bin:"*) ;; *) export PATH=$bin:$PATH ;; esac
}

qn_wine_log() { echo "wine-env: $*" >&2; }

# The prefix is made once and reused; a half-made one (wineboot killed
# part way) has no marker and is made again.
qn_wine_prefix_init() {
    local marker=$WINEPREFIX/.qn-prefix-ready
    [[ -f $marker ]] && return 0
    qn_wine_log "creating Wine prefix $WINEPREFIX (once; about 20 s)"
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    if ! wineboot -i >/dev/null 2>&1; then
        qn_wine_log "wineboot -i failed"
        return 1
    fi
    wineserver -w
    touch "$marker"
}

# A prefix belongs to the Wine loaders it was made with: once wine32 is
# installed beside wine64, `wine` takes the 32-bit loader, which starts no
# program in a prefix made without it ("could not load kernel32.dll").
qn_wine_loaders() {
    local f names=""
    for f in /usr/lib/wine/*; do names+="${f##*/} "; done
    echo "$names"
}

qn_wine_prefix_check_loaders() {
    local record=$WINEPREFIX/.qn-prefix-loaders
    [[ -f $WINEPREFIX/.qn-prefix-ready ]] || return 0
    if [[ ! -f $record || $(<"$record") != "$(qn_wine_loaders)" ]]; then
        qn_wine_log "the Wine loaders are not the ones $WINEPREFIX was made with: making it again"
        rm -f "$WINEPREFIX/.qn-prefix-ready"
    fi
}

qn_wine_prefix_record_loaders() {
    qn_wine_loaders >"$WINEPREFIX/.qn-prefix-loaders"
}

# Wine rebuilds HKLM\HARDWARE\DEVICEMAP\SERIALCOMM each time a wineserver
# starts, so keys added to it live only as long as one server: keep one
# running for the whole test session.
qn_wine_session_start() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    # The server outlives this shell's output: keep what it says (an object
    # dump when it is hung up on) out of the test log.
    wineserver -p >"$WINEPREFIX/wineserver.log" 2>&1
    # The first program starts the services (and the serial port list).
    wine cmd /c ver >/dev/null 2>&1
}

qn_wine_session_stop() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
}

# COMn whose other end is DIR/comN-peer: socat joins two ptys, the
# prefix's dosdevices/comN points at the first, the registry list names it.
# Must run inside the session (after qn_wine_session_start).
qn_wine_add_com() {
    local n=$1 dir=$2
    local port=$dir/com$n-port peer=$dir/com$n-peer
    mkdir -p "$dir"
    rm -f "$port" "$peer"
    socat pty,raw,echo=0,link="$port" pty,raw,echo=0,link="$peer" 2>"$dir/com$n-socat.log" &
    QN_WINE_PTY_PIDS+=($!)
    local i
    for ((i = 0; i < 100; i++)); do
        [[ -e $port && -e $peer ]] && break
        sleep 0.05
    done
    if [[ ! -e $port || ! -e $peer ]]; then
        qn_wine_log "socat did not make the pty pair for COM$n (see $dir/com$n-socat.log)"
        return 1
    fi
    ln -sfn "$(readlink -f "$port")" "$WINEPREFIX/dosdevices/com$n"
    QN_WINE_COMS+=("$n")
    qn_wine_list_port "QnTestSerial$n" "COM$n"
}

qn_wine_list_port() {
    local name=$1 port=$2
    if ! wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "$name" /t REG_SZ /d "$port" /f \
        >/dev/null 2>&1; then
        qn_wine_log "reg add of $port to SERIALCOMM failed"
        return 1
    fi
}

qn_wine_remove_coms() {
    local pid n
    for pid in "${QN_WINE_PTY_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    for n in "${QN_WINE_COMS[@]}"; do
        rm -f "$WINEPREFIX/dosdevices/com$n"
    done
    QN_WINE_PTY_PIDS=()
    QN_WINE_COMS=()
}

qn_wine_unix_to_windows() {
    local p
    p=$(readlink -f "$1")
    echo "Z:${p//\//\\}"
}
