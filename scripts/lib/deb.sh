# The Debian package: the linux-release preset (the two programs alone,
# stripped) and CPack. qn_build_deb OUTDIR builds it, puts the .deb in
# OUTDIR and prints its path. The release build is a second full build, so
# it goes through ccache when there is one; without -g in its flags, the
# cached objects serve any checkout of the tree.
qn_build_deb() {
    local out=$1 launcher=() deb
    if command -v ccache >/dev/null; then
        launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
    fi
    cmake --preset linux-release "${launcher[@]}" >/dev/null
    cmake --build --preset linux-release -j2 >/dev/null
    rm -rf "$root/build/linux-release/package"
    (cd "$root/build/linux-release" && cpack -G DEB -B "$root/build/linux-release/package" >/dev/null)
    deb=$(find "$root/build/linux-release/package" -maxdepth 1 -name 'quennick_*.deb' | head -1)
    [ -n "$deb" ] || { echo "package: CPack made no .deb (see build/linux-release/package)" >&2; return 1; }
    mkdir -p "$out"
    cp "$deb" "$out/"
    echo "$out/$(basename "$deb")"
}
