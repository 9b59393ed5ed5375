# A throwaway certificate authority for tests of TLS with verification on:
# a CA and a server certificate for localhost signed by it, made with
# openssl, and the CA put into the system's trust store only for as long as
# a test needs it. Self-contained; source it. Messages start "throwaway-ca:".
#
#   qn_tca_make DIR        DIR/ca.crt, DIR/server.crt, DIR/server.key (new each time)
#   qn_tca_install DIR     trust DIR/ca.crt system-wide (root; update-ca-certificates)
#   qn_tca_remove          take it out again (safe to call when not installed)
#   qn_tca_sweep           take out CAs left by runs that were killed (root)
#   qn_tca_bundle DIR      DIR/trust.pem: the system's bundle and DIR/ca.crt, for
#                          SSL_CERT_FILE: an OpenSSL program (the Linux program,
#                          Python) given it trusts the CA, and nothing else does
#
# Install from a script that removes it again on every way out, e.g.
#   trap qn_tca_remove EXIT
# The certificate names the server only as DNS:localhost: clients connect to
# "localhost" (Wine's TLS checks DNS names only, never IP addresses).

QN_TCA_STORE=/usr/local/share/ca-certificates
QN_TCA_INSTALLED=

qn_tca_make() {
    local dir=$1
    mkdir -p "$dir"
    rm -f "$dir"/ca.* "$dir"/server.*
    if ! openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quennick test CA $$" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -keyout "$dir/ca.key" -out "$dir/ca.crt" >"$dir/openssl.log" 2>&1 ||
        ! openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
            -keyout "$dir/server.key" -out "$dir/server.csr" >>"$dir/openssl.log" 2>&1; then
        echo "throwaway-ca: openssl failed (see $dir/openssl.log)" >&2
        return 1
    fi
    printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' >"$dir/server.ext"
    if ! openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.crt" -CAkey "$dir/ca.key" -CAcreateserial \
        -days 2 -extfile "$dir/server.ext" -out "$dir/server.crt" >>"$dir/openssl.log" 2>&1; then
        echo "throwaway-ca: openssl could not sign the server certificate (see $dir/openssl.log)" >&2
        return 1
    fi
    # Nothing else is ever signed with it: should the CA be left trusted by
    # a run that was killed, no one holds its key.
    rm -f "$dir/ca.key" "$dir/ca.srl" "$dir/server.csr"
}

qn_tca_install() {
    local dir=$1
    if [ "$(id -u)" -ne 0 ] || ! command -v update-ca-certificates >/dev/null; then
        echo "throwaway-ca: installing a CA needs root and update-ca-certificates" >&2
        return 1
    fi
    # A name of this process's own, so runs side by side do not take out
    # each other's CA.
    QN_TCA_INSTALLED=$QN_TCA_STORE/quennick-throwaway-ca-$$.crt
    mkdir -p "$QN_TCA_STORE"
    qn_tca_sweep_files
    cp "$dir/ca.crt" "$QN_TCA_INSTALLED"
    if ! update-ca-certificates >/dev/null 2>&1; then
        echo "throwaway-ca: update-ca-certificates failed" >&2
        qn_tca_remove
        return 1
    fi
}

qn_tca_remove() {
    [ -n "$QN_TCA_INSTALLED" ] || return 0
    rm -f "$QN_TCA_INSTALLED"
    QN_TCA_INSTALLED=
    update-ca-certificates >/dev/null 2>&1 || true
}

# A CA is named after the process that put it in (the shell here, the
# Python harness of tests/link/ring60.py): one whose process is gone was
# left behind by a run killed before it could take it out.
qn_tca_sweep_files() {
    local old pid swept=1
    for old in "$QN_TCA_STORE"/quennick-throwaway-ca-*.crt; do
        [ -e "$old" ] || continue
        pid=${old##*-}
        pid=${pid%.crt}
        if ! kill -0 "$pid" 2>/dev/null; then
            rm -f "$old"
            swept=0
        fi
    done
    return $swept
}

qn_tca_sweep() {
    [ "$(id -u)" -eq 0 ] || return 0
    if qn_tca_sweep_files; then
        update-ca-certificates >/dev/null 2>&1 || true
    fi
}

qn_tca_bundle() {
    local dir=$1 system=/etc/ssl/certs/ca-certificates.crt
    { if [ -f "$system" ]; then cat "$system"; fi; cat "$dir/ca.crt"; } >"$dir/trust.pem"
}
