# The Windows setup program: the mingw64 preset's quennick.exe and CPack's
# NSIS generator (makensis, Debian's nsis). qn_build_setup OUTDIR builds it,
# puts quennick-<version>-setup.exe in OUTDIR and prints its path.
qn_build_setup() {
    local out=$1 exe
    cmake --preset mingw64 >/dev/null
    cmake --build --preset mingw64 -j2 --target quennick >/dev/null
    rm -rf "$root/build/mingw64/package"
    (cd "$root/build/mingw64" && cpack -G NSIS -B "$root/build/mingw64/package" >/dev/null)
    exe=$(find "$root/build/mingw64/package" -maxdepth 1 -name 'quennick-*-setup.exe' | head -1)
    [ -n "$exe" ] || { echo "setup: CPack made no setup program (see build/mingw64/package)" >&2; return 1; }
    mkdir -p "$out"
    cp "$exe" "$out/"
    echo "$out/$(basename "$exe")"
}
