#!/usr/bin/env bash
# Makes the release files from the last commit (HEAD), never from the work
# tree, so that what is shipped is exactly what is committed:
#
#   lindrel-<version>-linux-x86_64.tar.gz    static binary, README.md, LICENSE, lindrel.1
#   lindrel-<version>-linux-aarch64.tar.gz   the same, cross-built for 64-bit ARM
#   lindrel-<version>-windows-x86_64.zip     lindrel.exe, README.md, LICENSE, the manual
#                                            as lindrel.txt, all with CR LF line ends
#   lindrel_<version>_amd64.deb              the Debian package (cpack -G DEB)
#   SHA256SUMS                               of the four above
#
#   bash dist/release.sh [OUTDIR]            default dist/out
#
# Installs what it lacks through scripts/setup.sh. Each binary is checked
# before it is packed: linked statically, and its records of the Northridge
# example equal to the committed head of them (the AArch64 one under
# qemu-aarch64 and the Windows one under wine, when those are installed).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/dist/out}
jobs=${JOBS:-$(nproc)}
export LC_ALL=C

bash "$top/scripts/setup.sh" release
mkdir -p "$out"
out=$(cd "$out" && pwd)
# generated files: keep them out of git whatever the .gitignore says
[ -f "$out/.gitignore" ] || [ "$out" != "$top/dist/out" ] || printf '*\n' > "$out/.gitignore"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
commit=$(git -C "$top" rev-parse --short HEAD)
stamp=$(git -C "$top" log -1 --format=%ct HEAD)
mkdir "$work/src"
git -C "$top" archive --format=tar HEAD | tar -x -C "$work/src"
[ -z "$(git -C "$top" status --porcelain --untracked-files=no)" ] ||
    echo "release: the work tree has uncommitted changes; they are not in the release (HEAD is $commit)"

# build NAME CMAKE-ARGS...: a Release build of the program alone, installed
# stripped into $work/NAME/stage
build() {
    local name=$1; shift
    echo "=== $name"
    cmake -S "$work/src" -B "$work/$name" -DCMAKE_BUILD_TYPE=Release -DLINDREL_TESTS=OFF "$@" >/dev/null
    cmake --build "$work/$name" -j "$jobs" --target lindrel
    cmake --install "$work/$name" --prefix "$work/$name/stage" --strip >/dev/null
}
build linux-x86_64 -DCMAKE_EXE_LINKER_FLAGS=-static
build linux-aarch64 -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/aarch64-linux-gnu.cmake"
build windows-x86_64 -DCMAKE_TOOLCHAIN_FILE="$work/src/cmake/x86_64-w64-mingw32.cmake"
build deb
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/deb/CMakeCache.txt")
[ -n "$version" ] || { echo "release: no version in the build's cache"; exit 1; }

# check NAME RUNNER...: the binary runs the example, and its records start as
# the committed head of them and number as many as they should
example=northridge1994_la116th_ch1_uneven
check() {
    local name=$1 bin=$2; shift 2
    mkdir "$work/run-$name"
    (cd "$work/run-$name" && "$@" "$bin" "$work/src/examples/$example.txt" > console.txt)
    local head=$work/src/examples/$example.head.out
    cmp -s -n "$(stat -c %s "$head")" "$head" "$work/run-$name/a.out" ||
        { echo "release: $name: a.out differs from $example.head.out"; exit 1; }
    local n
    n=$(tr -cd '\n' < "$work/run-$name/a.out" | wc -c)
    [ "$n" -eq 1199961 ] || { echo "release: $name: $n records, not 1199961"; exit 1; }
    echo "$name: the example gives the expected records ($n)"
    rm "$work/run-$name/a.out"
}
static_elf() {
    if readelf -d "$1" | grep -q NEEDED; then
        echo "release: $1 is not linked statically:"; readelf -d "$1" | grep NEEDED; exit 1
    fi
}
static_elf "$work/linux-x86_64/stage/bin/lindrel"
static_elf "$work/linux-aarch64/stage/bin/lindrel"
# only the DLLs that come with Windows
dlls=$(x86_64-w64-mingw32-objdump -p "$work/windows-x86_64/stage/bin/lindrel.exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
for d in $dlls; do
    case $d in
        kernel32.dll | msvcrt.dll | shell32.dll | user32.dll | advapi32.dll | api-ms-win-*) ;;
        *) echo "release: lindrel.exe needs $d, which Windows does not have"; exit 1 ;;
    esac
done
echo "lindrel.exe imports: $dlls"

check linux-x86_64 "$work/linux-x86_64/stage/bin/lindrel"
if command -v qemu-aarch64 >/dev/null; then
    check linux-aarch64 "$work/linux-aarch64/stage/bin/lindrel" qemu-aarch64
else
    echo "linux-aarch64: not run (no qemu-aarch64)"
fi
wine=$(command -v wine64 || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; } || true)
if [ -n "$wine" ]; then
    # wine's own notes on setting up its prefix go to a log
    export WINEDEBUG=-all WINEPREFIX="$work/wine"
    check windows-x86_64 "$work/windows-x86_64/stage/bin/lindrel.exe" "$wine" 2>"$work/wine.log"
    # its server outlives the run by a few seconds: wait, before the prefix goes
    "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
else
    echo "windows-x86_64: not run (no wine64)"
fi

# The archives hold one folder named as the archive; owners, times and order
# are fixed, so the same commit gives the same bytes.
crlf() { sed 's/\r*$/\r/' "$1" > "$2"; }
pack() {
    local name=lindrel-$version-$1 stage=$work/$1/stage
    local dir=$work/pack/$name
    mkdir -p "$dir"
    if [ "$1" = windows-x86_64 ]; then
        cp "$stage/bin/lindrel.exe" "$dir/"
        crlf "$work/src/README.md" "$dir/README.md"
        crlf "$work/src/LICENSE" "$dir/LICENSE"
        # the manual as plain ASCII text, without the overstrikes of a
        # terminal; the micro sign, which ASCII lacks, is spelt u (50 us)
        { printf '.fchar \\(mc u\n'; cat "$work/src/lindrel.1"; } |
            groff -man -Tascii -P -cbou 2>"$work/groff.err" > "$work/lindrel.txt"
        [ ! -s "$work/groff.err" ] || { echo "release: groff:"; cat "$work/groff.err"; exit 1; }
        crlf "$work/lindrel.txt" "$dir/lindrel.txt"
        find "$dir" -exec touch -d "@$stamp" {} +
        rm -f "$out/$name.zip"
        (cd "$work/pack" && zip -q -X -9 -r "$out/$name.zip" "$name")
    else
        cp "$stage/bin/lindrel" "$work/src/README.md" "$work/src/LICENSE" "$work/src/lindrel.1" "$dir/"
        tar -C "$work/pack" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$stamp" \
            -c "$name" | gzip -9n > "$out/$name.tar.gz"
    fi
}
pack linux-x86_64
pack linux-aarch64
pack windows-x86_64
(cd "$work/deb" && cpack -G DEB >/dev/null)
cp "$work/deb/lindrel_${version}_amd64.deb" "$out/"

cd "$out"
files=("lindrel-$version-linux-x86_64.tar.gz" "lindrel-$version-linux-aarch64.tar.gz"
       "lindrel-$version-windows-x86_64.zip" "lindrel_${version}_amd64.deb")
sha256sum "${files[@]}" > SHA256SUMS
echo "=== release $version from $commit in $out"
ls -l "${files[@]}" SHA256SUMS | awk '{ printf "%10d  %s\n", $5, $9 }'
