#!/usr/bin/env bash
# The quick start on a new machine: a minimal Debian 12 made by debootstrap,
# holding nothing but a clone of this repository, as root.
#
#   1. as a user who is not root, scripts/setup.sh names what is missing in
#      one line and fails
#   2. the README's first quick-start command, taken from README.md as it
#      stands; it must leave the example's a.out, install no test tool and
#      build no test
#   3. scripts/setup.sh again: with the tools there it installs nothing
#   4. the README's second quick-start command: every test
#   5. the Debian package, made in that machine with cpack, installed with
#      apt-get on a second, untouched copy of the bare system (with man-db,
#      installed first so that `man` exists), run on the example, found by
#      `man -w`, then purged: nothing of it may be left
#
#   bash tests/fresh_machine.sh [--keep] [REPO]
#
# REPO (default: the repository holding this script) is cloned as committed:
# its work tree and build folders are not used. --keep leaves the two
# systems in /var/tmp for a look afterwards. Needs root, debootstrap (it is
# installed if missing) and the Debian mirror; downloads about 200 MB and
# takes 15 to 30 minutes, so it is run by hand before a release, not in CI.
set -euo pipefail
keep=0
[ "${1:-}" = --keep ] && { keep=1; shift; }
repo=$(cd "${1:-$(dirname "$0")/..}" && pwd)
mirror=http://deb.debian.org/debian
[ "$(id -u)" -eq 0 ] || { echo "fresh_machine: run as root (debootstrap and chroot need it)"; exit 1; }
command -v debootstrap >/dev/null || { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap; }

top=$(mktemp -d /var/tmp/lindrel-fresh.XXXXXX)
dev=$top/dev      # the machine the quick start runs on
bare=$top/bare    # an untouched copy of it, for the package
mounts=()
cleanup() {
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" || true
    done
    if [ "$keep" -eq 1 ]; then
        echo "fresh_machine: kept $top"
    elif ! grep -q " $top/" /proc/mounts; then
        rm -rf --one-file-system "$top"
    else
        echo "fresh_machine: $top still has mounts; not removed"
    fi
}
trap cleanup EXIT
mountin() {   # mountin ROOT: the kernel file systems a build and its tests use
    mount -t proc proc "$1/proc" && mounts+=("$1/proc")
    mount -t sysfs sysfs "$1/sys" && mounts+=("$1/sys")
    mount --bind /dev "$1/dev" && mounts+=("$1/dev")
    mount --bind /dev/pts "$1/dev/pts" && mounts+=("$1/dev/pts")
}
# inside ROOT COMMAND: runs COMMAND with bash in ROOT as root, in /root/lindrel,
# with the environment of a fresh login and none of this shell's
inside() {
    local root=$1; shift
    chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        bash -c "cd /root/lindrel 2>/dev/null || cd /root; $1"
}

results=()
failed=0
step() {   # step NAME STATUS SECONDS [NOTE]
    local word=PASS
    [ "$2" -eq 0 ] || { word=FAIL; failed=1; }
    results+=("$(printf '%-4s %5ss  %s%s' "$word" "$3" "$1" "${4:+  ($4)}")")
    echo "--- $word: $1${4:+ ($4)}"
}

echo "=== fresh machine: $(git -C "$repo" log -1 --format='%h %s' HEAD) from $repo"
echo "=== debootstrap --variant=minbase bookworm into $dev"
SECONDS=0
debootstrap --variant=minbase bookworm "$dev" "$mirror" > "$top/debootstrap.log" 2>&1 ||
    { tail -20 "$top/debootstrap.log"; echo "fresh_machine: debootstrap failed"; exit 1; }
cp -a "$dev" "$bare"
step "debootstrap: a minimal Debian 12 ($(du -sm "$dev" | cut -f1) MB)" 0 $SECONDS
cp /etc/resolv.conf "$dev/etc/resolv.conf"
cp /etc/resolv.conf "$bare/etc/resolv.conf"
git clone -q "$repo" "$dev/root/lindrel"
mountin "$dev"

# The two commands are the first two sh blocks of the Quick start section.
readme=$dev/root/lindrel/README.md
for n in 1 2; do
    awk -v n="$n" '/^## Quick start/ { q = 1; next }
                   q && /^## / { exit }
                   q && /^```sh$/ { b++; next }
                   q && /^```/ { if (b == n) exit; next }
                   q && b == n { print }' "$readme" > "$top/cmd$n"
    [ -s "$top/cmd$n" ] || { echo "fresh_machine: README.md has no sh block $n in its Quick start"; exit 1; }
    echo "=== quick-start command $n:"
    sed 's/^/    /' "$top/cmd$n"
done

echo "=== 1. setup.sh as a user who is not root, on the bare system"
cp "$dev/root/lindrel/scripts/setup.sh" "$dev/tmp/setup.sh"
SECONDS=0
st=0
chroot --userspec=nobody:nogroup "$dev" /usr/bin/env -i HOME=/tmp PATH=/usr/bin:/bin \
    bash /tmp/setup.sh > "$top/nonroot.out" 2>&1 || st=$?
cat "$top/nonroot.out"
lines=$(wc -l < "$top/nonroot.out")
ok=1
[ "$st" -ne 0 ] && [ "$lines" -eq 1 ] && grep -q '^lindrel: missing .*apt-get install' "$top/nonroot.out" && ok=0
step "not root, tools missing: one line naming the packages, status $st" $ok $SECONDS

echo "=== 2. quick-start command 1"
SECONDS=0
st=0
inside "$dev" "$(cat "$top/cmd1")" || st=$?
t=$SECONDS
note="status $st"
if [ "$st" -eq 0 ]; then
    out=$dev/root/lindrel/a.out
    head=$dev/root/lindrel/examples/northridge1994_la116th_ch1_uneven.head.out
    if [ ! -f "$out" ]; then
        st=1 note="no a.out"
    else
        records=$(tr -cd '\n' < "$out" | wc -c)
        note="a.out: $records records, $(stat -c %s "$out") bytes"
        [ "$records" -eq 1199961 ] || st=1
        cmp -s -n "$(stat -c %s "$head")" "$head" "$out" || { st=1 note="$note, first records differ"; }
    fi
fi
step "command 1: tools installed, program built, example resampled" $st $t "$note"
st=0
extra=$(inside "$dev" "dpkg-query -W -f='\${Package} \${Status}\n' clang libgtest-dev 2>/dev/null | grep ' installed\$' || true")
tests=$(inside "$dev" "ls build 2>/dev/null | grep -E '^(unit|e2e)_tests\$' || true")
[ -z "$extra$tests" ] || st=1
step "command 1 installed no test tool and built no test" $st 0 "${extra:+installed: $extra }${tests:+built: $tests}"

echo "=== 3. setup.sh again, tools present"
SECONDS=0
before=$(md5sum < "$dev/var/lib/dpkg/status")
said=$(inside "$dev" "bash scripts/setup.sh" 2>&1) && st=0 || st=$?
[ "$st" -eq 0 ] && [ -z "$said" ] && [ "$before" = "$(md5sum < "$dev/var/lib/dpkg/status")" ] || st=1
step "tools present: installs nothing, says nothing" $st $SECONDS "${said:0:200}"

echo "=== 4. quick-start command 2"
SECONDS=0
st=0
inside "$dev" "$(cat "$top/cmd2")" 2>&1 | tee "$top/cmd2.log" || st=$?
summary=$(grep -E 'tests passed|tests failed' "$top/cmd2.log" | tr '\n' ';' | sed 's/;$//; s/;/; /g' || true)
step "command 2: every test" $st $SECONDS "$summary"

echo "=== 5. the Debian package"
SECONDS=0
st=0
inside "$dev" "bash scripts/setup.sh deb && cmake -S . -B build-deb -DLINDREL_TESTS=OFF >/dev/null &&
    cmake --build build-deb -j2 && cd build-deb && cpack -G DEB" || st=$?
deb=$(cd "$dev/root/lindrel/build-deb" 2>/dev/null && ls lindrel_*_amd64.deb 2>/dev/null | head -n 1 || true)
[ -n "$deb" ] || st=1
step "cpack -G DEB makes ${deb:-no package}" $st $SECONDS
if [ -n "$deb" ]; then
    dpkg-deb -I "$dev/root/lindrel/build-deb/$deb" control
    dpkg-deb -c "$dev/root/lindrel/build-deb/$deb"
    cp "$dev/root/lindrel/build-deb/$deb" "$bare/root/"
    cp "$dev/root/lindrel/examples/northridge1994_la116th_ch1_uneven.txt" "$bare/root/"
    mountin "$bare"
    SECONDS=0
    st=0
    inside "$bare" "export DEBIAN_FRONTEND=noninteractive && apt-get update -q &&
        apt-get install -y -q --no-install-recommends man-db" > "$top/man-db.log" 2>&1 || st=$?
    [ "$st" -eq 0 ] || tail -20 "$top/man-db.log"
    step "man-db on the bare system, for man -w" $st $SECONDS
    SECONDS=0
    st=0
    inside "$bare" "DEBIAN_FRONTEND=noninteractive apt-get install -y -q ./$deb" || st=$?
    step "apt-get install ./$deb on the bare system" $st $SECONDS
    st=0
    inside "$bare" "mkdir -p /tmp/run && cd /tmp/run && command -v lindrel && lindrel /root/northridge1994_la116th_ch1_uneven.txt >console.txt &&
        n=\$(tr -cd '\n' < a.out | wc -c) && echo \"a.out: \$n records\" && [ \"\$n\" -eq 1199961 ]" || st=$?
    step "installed lindrel resamples the example" $st 0
    st=0
    where=$(inside "$bare" "man -w lindrel") || st=$?
    echo "man -w lindrel: $where"
    [ "$where" = /usr/share/man/man1/lindrel.1.gz ] || st=1
    inside "$bare" "MANPAGER=cat MANWIDTH=80 man lindrel 2>&1 | head -n 12" || st=1
    step "man -w lindrel" $st 0 "$where"
    st=0
    inside "$bare" "DEBIAN_FRONTEND=noninteractive apt-get purge -y -q lindrel" || st=$?
    left=$(inside "$bare" "dpkg-query -W -f='\${Status}' lindrel 2>/dev/null | grep -v not-installed;
        ls -d /usr/bin/lindrel /usr/share/man/man1/lindrel.1.gz /usr/share/doc/lindrel 2>/dev/null" || true)
    [ -z "$left" ] || st=1
    step "apt-get purge lindrel leaves nothing" $st 0 "${left:+left: $left}"
fi

echo
echo "=== summary: $(git -C "$repo" log -1 --format='%h' HEAD), Debian $(cat "$dev/etc/debian_version") minbase"
printf '%s\n' "${results[@]}"
[ "$failed" -eq 0 ] && echo "fresh machine: all steps passed" || echo "fresh machine: FAILED"
exit "$failed"
