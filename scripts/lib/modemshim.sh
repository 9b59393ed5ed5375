# shellcheck shell=bash
# Serial ports with modem lines for tests: a socat pty pair, and the
# LD_PRELOAD shim libqnmodemshim.so (tests/shim/modemshim.c) that gives the
# program's side of the pair CTS, DSR, CD and RI from a timeline file.
#
# Source this file, then:
#
#   qn_shim_pty_pair DIR
#       Starts `socat -d -d pty,raw,echo=0,link=DIR/port pty,raw,echo=0,link=DIR/peer`
#       in the background (its log in DIR/socat.log) and waits up to 5 s for
#       both links. Sets QN_SHIM_SOCAT_PID, QN_SHIM_PORT (DIR/port: the
#       program's side) and QN_SHIM_PEER (DIR/peer: the test writes the
#       device's data bytes here and reads what the program sends).
#   qn_shim_stop_pair
#       Ends the socat started by qn_shim_pty_pair (safe to call twice).
#   qn_shim_device LINK
#       Prints the device behind a link, e.g. /dev/pts/7: the QN_SHIM_DEV
#       value. The shim matches descriptors by device number, so the program
#       may open the link, the device, or receive the descriptor from another
#       process (the wineserver).
#   qn_shim_now_us
#       Prints CLOCK_MONOTONIC now in microseconds: the timeline's time base.
#   qn_shim_timeline FILE [WORD]
#       Starts FILE afresh with WORD (default 0) in force from now.
#   qn_shim_at FILE AT_US WORD
#       Appends one entry: WORD in force from AT_US (absolute, as
#       qn_shim_now_us prints it).
#   qn_shim_after FILE AFTER_US WORD
#       Appends one relative entry: WORD in force AFTER_US after the shim
#       first reads the line (see below).
#   qn_shim_pulse FILE START_MS LENGTH_MS BITS [BASE]
#       Appends BASE|BITS at now + START_MS and BASE at now + START_MS +
#       LENGTH_MS (BASE default 0).
#   qn_shim_pulses FILE START_MS PERIOD_MS LENGTH_MS COUNT BITS [BASE]
#       COUNT such pulses PERIOD_MS apart, all timed from one reading of now.
#   qn_shim_pull FILE [AFTER_US]
#       Appends a relative "gone" entry: the device is unplugged AFTER_US
#       (default 0) after the shim first reads the line. From then on every
#       ioctl, read and write on it fails with EIO and poll reports
#       POLLERR | POLLHUP, as for a USB adapter pulled out; a later entry
#       with a word plugs it back in.
#   qn_shim_lib
#       Prints the path of libqnmodemshim.so: $QN_SHIM_LIB when set, else
#       build/linux/tests/libqnmodemshim.so of this checkout (the linux preset).
#   qn_shim_env DEVICE TIMELINE
#       Prints the environment for the program, for `env $(qn_shim_env ...) prog`:
#       LD_PRELOAD=<lib> QN_SHIM_DEV=DEVICE QN_SHIM_TIMELINE=TIMELINE
#
# The timeline file: one entry a line, "<CLOCK_MONOTONIC us> <word>", the
# word in TIOCM_ bits as decimal or 0x hex, in time order; '#' starts a
# comment. Lines are off before the first entry. The shim reads appended
# lines as they come, so entries may be added while the program runs, but
# write them ahead of their time: an entry already due when the shim first
# sees it is taken as in force and wakes no waiting TIOCMIWAIT.
# The word "gone" in place of a word unplugs the device (see qn_shim_pull).
# A line "+<us> <word>" is relative instead: the word takes effect that many
# microseconds after the moment the shim first reads the line, and lines
# read together (one append) count from the same moment. This is for writers
# without CLOCK_MONOTONIC, such as a Windows program under Wine; the shim
# keeps the entries in time order however they resolve.
# QN_SHIM_NO_ICOUNT=1 in the program's environment makes the shim leave
# TIOCGICOUNT to the driver (which refuses it on a pty). QN_SHIM_LATCH=1 is
# for programs that poll the lines with TIOCMGET (Wine does): each change is
# held until one TIOCMGET has returned it, so a pulse shorter than the
# polling gap is still seen, as a UART's interrupt would catch it.
#
# Line bits (TIOCM_), for the words:
# shellcheck disable=SC2034  # for the scripts that source this file
QN_TIOCM_CTS=0x020
# shellcheck disable=SC2034
QN_TIOCM_CD=0x040
# shellcheck disable=SC2034
QN_TIOCM_RI=0x080
# shellcheck disable=SC2034
QN_TIOCM_DSR=0x100
# (DTR 0x002 and RTS 0x004 are the program's outputs; the shim keeps what the
# program sets and ignores them in the timeline.)

_qn_shim_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

qn_shim_pty_pair() {
    local dir=$1
    mkdir -p "$dir"
    rm -f "$dir/port" "$dir/peer"
    socat -d -d "pty,raw,echo=0,link=$dir/port" "pty,raw,echo=0,link=$dir/peer" \
        2>"$dir/socat.log" &
    QN_SHIM_SOCAT_PID=$!
    QN_SHIM_PORT=$dir/port
    QN_SHIM_PEER=$dir/peer
    local i
    for ((i = 0; i < 500; i++)); do
        if [[ -e $QN_SHIM_PORT && -e $QN_SHIM_PEER ]]; then return 0; fi
        if ! kill -0 "$QN_SHIM_SOCAT_PID" 2>/dev/null; then break; fi
        sleep 0.01
    done
    echo "qn_shim_pty_pair: socat gave no ptys (see $dir/socat.log)" >&2
    qn_shim_stop_pair
    return 1
}

qn_shim_stop_pair() {
    if [[ -n ${QN_SHIM_SOCAT_PID:-} ]]; then
        kill "$QN_SHIM_SOCAT_PID" 2>/dev/null || true
        wait "$QN_SHIM_SOCAT_PID" 2>/dev/null || true
        QN_SHIM_SOCAT_PID=
    fi
}

qn_shim_device() {
    readlink -f "$1"
}

qn_shim_now_us() {
    python3 -c 'import time; print(time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000)'
}

qn_shim_timeline() {
    local file=$1 word=${2:-0}
    printf '# CLOCK_MONOTONIC us, TIOCM_ word\n%d %d\n' "$(qn_shim_now_us)" "$((word))" >"$file"
}

qn_shim_at() {
    printf '%d %d\n' "$2" "$(($3))" >>"$1"
}

qn_shim_after() {
    printf '+%d %d\n' "$2" "$(($3))" >>"$1"
}

qn_shim_pull() {
    printf '+%d gone\n' "${2:-0}" >>"$1"
}

qn_shim_pulse() {
    qn_shim_pulses "$1" "$2" 0 "$3" 1 "$4" "${5:-0}"
}

qn_shim_pulses() {
    local file=$1 start=$2 period=$3 length=$4 count=$5 bits=$6 base=${7:-0}
    local now i on lines=""
    now=$(qn_shim_now_us)
    for ((i = 0; i < count; i++)); do
        on=$((now + (start + i * period) * 1000))
        lines+="$on $((base | bits))"$'\n'"$((on + length * 1000)) $((base))"$'\n'
    done
    printf '%s' "$lines" >>"$file"
}

qn_shim_lib() {
    local lib=${QN_SHIM_LIB:-$_qn_shim_root/build/linux/tests/libqnmodemshim.so}
    if [[ ! -f $lib ]]; then
        echo "qn_shim_lib: $lib not built (cmake --build build/linux --target qnmodemshim)" >&2
        return 1
    fi
    echo "$lib"
}

qn_shim_env() {
    local lib
    lib=$(qn_shim_lib) || return 1
    echo "LD_PRELOAD=$lib QN_SHIM_DEV=$1 QN_SHIM_TIMELINE=$2"
}
