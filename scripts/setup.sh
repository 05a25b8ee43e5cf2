#!/usr/bin/env bash
# Installs, on Debian or Ubuntu, what a task of this project needs and the
# machine lacks; on a machine that has it all, it installs nothing and says
# nothing.
#
#   bash scripts/setup.sh           build the program: cmake, make, a C++20 compiler
#   bash scripts/setup.sh tests     build and run every test (tests/all.sh): the above,
#                                   clang, GoogleTest, the fuzzer runtime, the cross
#                                   compilers for AArch64 and Windows, qemu and wine
#   bash scripts/setup.sh deb       make the Debian package (cpack -G DEB): build, dpkg-dev
#   bash scripts/setup.sh release   make the release archives (dist/release.sh): deb,
#                                   the cross compilers, git, groff, zip
#
# It installs as root, or through sudo when that works without a password.
# Otherwise it prints one line naming the missing packages and fails.
set -eu
task=${1:-build}
case $task in
    build | tests | deb | release) ;;
    *) echo "usage: bash scripts/setup.sh [tests|deb|release]" >&2; exit 2 ;;
esac

have() { command -v "$1" >/dev/null 2>&1; }
major() { "$1" -dumpversion 2>/dev/null | cut -d. -f1; }

# The fuzzer runtime comes with clang's version in its package name; before
# clang is installed, that version is the one apt would install.
clang_version() {
    if have clang++; then
        major clang++
    else
        apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n 1
    fi
}
fuzzer_present() {
    local dir
    have clang++ || return 1
    dir=$(clang++ -print-resource-dir 2>/dev/null) || return 1
    compgen -G "$dir/lib/*/libclang_rt.fuzzer*.a" >/dev/null
}
fuzzer_package() {
    local v
    v=$(clang_version)
    if [ -z "$v" ]; then
        echo libclang-rt-dev
    elif apt-cache show "libclang-rt-$v-dev" >/dev/null 2>&1 || ! apt-cache show "libclang-common-$v-dev" >/dev/null 2>&1; then
        echo "libclang-rt-$v-dev"
    else
        # before LLVM split it out, the runtime came with the common package
        echo "libclang-common-$v-dev"
    fi
}

# Fills need with the packages that provide what is missing.
check() {
    need=()
    have cmake || need+=(cmake)
    have make || need+=(make)
    # C++20 as used here takes g++ 10 or newer, or clang
    if [ "$task" = build ] || [ "$task" = deb ]; then
        if ! { have g++ && [ "$(major g++)" -ge 10 ]; } && ! have clang++; then need+=(g++); fi
    else
        have g++ || need+=(g++)
    fi
    case $task in
        tests)
            have clang++ || need+=(clang)
            [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
            fuzzer_present || need+=("$(fuzzer_package)")
            ;;
        deb | release)
            # cpack finds the binaries to give dpkg-shlibdeps with file
            have dpkg-shlibdeps || need+=(dpkg-dev)
            have file || need+=(file)
            ;;
    esac
    case $task in
        tests | release)
            have aarch64-linux-gnu-g++ || need+=(g++-aarch64-linux-gnu)
            have x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix)
            ;;
    esac
    case $task in
        tests)
            have qemu-aarch64 || need+=(qemu-user)
            have wine64 || [ -x /usr/lib/wine/wine64 ] || need+=(wine64)
            ;;
        release)
            have git || need+=(git)
            have groff || need+=(groff-base)
            have zip || need+=(zip)
            ;;
    esac
    return 0
}

check
[ ${#need[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif have sudo && sudo -n true 2>/dev/null; then
    as_root=(sudo -n)
else
    echo "lindrel: missing ${need[*]}; as root run: apt-get install ${need[*]}" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
echo "lindrel: installing ${need[*]}"
"${as_root[@]}" apt-get update -q
check   # with fresh package lists, the fuzzer runtime's name is known
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}"
hash -r
check
if [ ${#need[@]} -gt 0 ]; then
    if [ "${need[*]}" = g++ ]; then
        echo "lindrel: g++ $(major g++) is older than 10; install g++-10 or newer, or clang, and set CXX" >&2
    else
        echo "lindrel: still missing after the install: ${need[*]}" >&2
    fi
    exit 1
fi
