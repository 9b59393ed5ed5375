# Debian packages the scripts need. qn_need_packages installs the missing ones
# when run as root; otherwise it prints the exact command and stops.

# What building the two programs needs (the README's one command), then
# what the tests and benchmarks need besides.
QN_PROGRAM_PACKAGES="cmake ninja-build g++ libx11-dev libxtst-dev libboost-dev libssl-dev nlohmann-json3-dev libcli11-dev"
QN_BUILD_PACKAGES="$QN_PROGRAM_PACKAGES make googletest libgtest-dev libgmock-dev libbenchmark-dev socat python3"
# The Linux desktop's tests: X servers with and without a window manager, a
# real browser, the program in a terminal.
QN_DESKTOP_PACKAGES="xvfb openbox chromium tmux xdotool x11-utils"
# RealtimeKit is asked through libsystemd's sd-bus, loaded at run time (the
# backend tests talk to a bus that is missing or silent through it).
QN_BUILD_PACKAGES="$QN_BUILD_PACKAGES libsystemd0"
# The tower link: Boost.Beast and OpenSSL (Linux), JSON (both programs); its
# tests run a tower server on python3-socketio and the program in tmux.
QN_LINK_PACKAGES="python3-socketio python3-eventlet python3-websocket openssl ca-certificates tmux"
QN_WINDOWS_PACKAGES="mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 xvfb xauth xdotool socat x11-apps imagemagick"
QN_FUZZ_PACKAGES="clang libclang-rt-14-dev"
# The Win32 network suites: their HTTP/WebSocket server and throwaway TLS CA;
# the end-to-end tower link: the tests' tower server and listener (Socket.IO).
QN_WINDOWS_PACKAGES="$QN_WINDOWS_PACKAGES python3-eventlet python3-socketio openssl ca-certificates"

# The Debian package: CPack's dependency look-up (dpkg-shlibdeps, file),
# lintian to check it; ccache keeps its second, release build short. The
# Windows setup program: CPack's NSIS generator runs makensis.
QN_PACKAGE_PACKAGES="dpkg-dev file lintian ccache nsis"

# The 32-bit Windows program runs under Wine's 32-bit half, which comes from
# Debian's i386 architecture.
qn_need_wine32() {
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" && return 0
    if [ "$(id -u)" -eq 0 ]; then
        dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
        qn_need_packages wine32:i386
    else
        echo "Wine's 32-bit part is missing. Install it with:" >&2
        echo "  sudo dpkg --add-architecture i386 && sudo apt-get update && sudo apt-get install wine32:i386" >&2
        exit 1
    fi
}

qn_need_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing missing packages: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    else
        echo "These packages are missing. Install them with:" >&2
        echo "  sudo apt-get install ${missing[*]}" >&2
        exit 1
    fi
}
