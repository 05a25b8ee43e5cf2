#!/usr/bin/env bash
# Installs what the tests need and the machine lacks (scripts/setup.sh),
# then builds the program and its tests three ways and runs every test in each:
#   build/native  g++, -O3 -march=native (fused multiply-add available)
#   build/clang   clang++, Release
#   build/asan    clang++, debug, AddressSanitizer and UndefinedBehaviorSanitizer,
#                 with the fuzz targets run briefly from their seed corpora
# The end-to-end tests compare whole outputs with fixed bytes, so the same
# records must come out of every build.
set -eu
cd "$(dirname "$0")/.."
bash scripts/setup.sh tests
jobs=$(nproc)
run() {
    local dir=$1; shift
    echo "=== $dir: $*"
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}
run build/native -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DLINDREL_NATIVE=ON
run build/clang -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ASAN_OPTIONS=detect_leaks=1 \
run build/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DLINDREL_SANITIZE=ON -DLINDREL_FUZZ=ON
# the same bytes from the AArch64 program under qemu and the Windows one
# under wine, beside the native build's
bash tests/cross_check.sh build/native build/aarch64 build/windows
