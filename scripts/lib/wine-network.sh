# The network backend's test server for the Win32 suites: plain HTTP and
# WebSocket, and the same over TLS with a certificate of a throwaway CA
# (tests/wine/network_server.py on Debian's python3-eventlet).
# Source after throwaway-ca.sh; messages start "wine-network:".
#
#   qn_net_start DIR     start the server, export QN_TEST_NET_* for the tests
#   qn_net_stop
#   qn_net_trusted CMD.. run CMD with the throwaway CA in the system's trust
#                        store (then out of it again); QN_TEST_NET_TLS=trusted

QN_NET_PID=
QN_NET_DIR=

qn_net_start() {
    local dir=$1 root
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    QN_NET_DIR=$dir
    rm -rf "$dir"
    mkdir -p "$dir"
    # Debian's Python: the python3 on the PATH may be another build that does
    # not see Debian's packages.
    if ! /usr/bin/python3 -c 'import eventlet' 2>/dev/null; then
        echo "wine-network: /usr/bin/python3 has no eventlet (python3-eventlet): network tests skipped" >&2
        return 1
    fi
    local tls_args=()
    if qn_tca_make "$dir/ca"; then
        tls_args=("$dir/ca/server.crt" "$dir/ca/server.key")
    fi
    /usr/bin/python3 "$root/tests/wine/network_server.py" "$dir/ready" "${tls_args[@]}" \
        >"$dir/server.log" 2>&1 &
    QN_NET_PID=$!
    local i
    for ((i = 0; i < 100; i++)); do
        [[ -f $dir/ready ]] && break
        kill -0 "$QN_NET_PID" 2>/dev/null || break
        sleep 0.1
    done
    if [[ ! -f $dir/ready ]]; then
        echo "wine-network: the test server did not start (see $dir/server.log)" >&2
        qn_net_stop
        return 1
    fi
    local ports
    ports=$(<"$dir/ready")
    export QN_TEST_NET_HTTP_PORT QN_TEST_NET_TLS_PORT QN_TEST_NET_TLS=untrusted
    QN_TEST_NET_HTTP_PORT=$(sed -nE 's/.*http=([0-9]+).*/\1/p' <<<"$ports")
    QN_TEST_NET_TLS_PORT=$(sed -nE 's/.*tls=([0-9]+).*/\1/p' <<<"$ports")
}

qn_net_stop() {
    if [[ -n $QN_NET_PID ]]; then
        kill "$QN_NET_PID" 2>/dev/null || true
        wait "$QN_NET_PID" 2>/dev/null || true
    fi
    QN_NET_PID=
    if [[ -n $QN_NET_DIR ]]; then rm -rf "$QN_NET_DIR/ca"; fi
}

qn_net_trusted() {
    [[ -n $QN_NET_PID && -n ${QN_TEST_NET_TLS_PORT:-} ]] || return 0
    if [[ $(id -u) != 0 ]]; then
        echo "wine-network: not root: the test with the CA trusted is skipped" >&2
        return 0
    fi
    qn_tca_install "$QN_NET_DIR/ca" || return 1
    local status=0
    QN_TEST_NET_TLS=trusted "$@" || status=$?
    qn_tca_remove
    return "$status"
}
