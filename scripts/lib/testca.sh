# shellcheck shell=bash
# A certificate authority for tests, and a server certificate it signs, so
# a test server can speak TLS that the program verifies as it verifies any
# other: against the system's store. Nothing here touches verification in
# the program; the test trusts the CA by one of two test-only means:
#
#   qn_testca_make DIR
#       Makes DIR/ca.pem (the CA), DIR/server.pem and DIR/server.key (for
#       DNS:localhost: connect to "localhost", not 127.0.0.1; Wine matches
#       only DNS names) and DIR/trust.pem (the system's bundle plus the CA).
#   qn_testca_env DIR
#       Prints SSL_CERT_FILE=DIR/trust.pem, for `env $(qn_testca_env DIR) prog`:
#       OpenSSL programs (the Linux program, Python) then trust the CA, and
#       nothing else on the machine does.
#   qn_testca_install DIR
#       Adds the CA to the system's store (/usr/local/share/ca-certificates and
#       update-ca-certificates), for programs that read only the store (Wine's
#       WinHTTP). Needs root. Call qn_testca_remove when the test ends, also on
#       failure (trap).
#   qn_testca_remove
#       Takes the CA out of the system's store again. Safe to call twice.

_qn_testca_name=quennick-test-ca.crt

qn_testca_make() {
    local dir=$1
    mkdir -p "$dir"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quennick test CA" \
        -keyout "$dir/ca.key" -out "$dir/ca.pem" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
        >/dev/null 2>&1 || { echo "qn_testca_make: openssl req failed" >&2; return 1; }
    openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
        -keyout "$dir/server.key" -out "$dir/server.csr" >/dev/null 2>&1 ||
        { echo "qn_testca_make: openssl req (server) failed" >&2; return 1; }
    printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' >"$dir/server.ext"
    openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial \
        -days 2 -extfile "$dir/server.ext" -out "$dir/server.pem" >/dev/null 2>&1 ||
        { echo "qn_testca_make: openssl x509 failed" >&2; return 1; }
    local bundle=/etc/ssl/certs/ca-certificates.crt
    { [[ -f $bundle ]] && cat "$bundle"; cat "$dir/ca.pem"; } >"$dir/trust.pem"
}

qn_testca_env() {
    echo "SSL_CERT_FILE=$1/trust.pem"
}

qn_testca_install() {
    cp "$1/ca.pem" "/usr/local/share/ca-certificates/$_qn_testca_name"
    update-ca-certificates >/dev/null 2>&1
}

qn_testca_remove() {
    if [[ -f /usr/local/share/ca-certificates/$_qn_testca_name ]]; then
        rm -f "/usr/local/share/ca-certificates/$_qn_testca_name"
        update-ca-certificates --fresh >/dev/null 2>&1
    fi
}
