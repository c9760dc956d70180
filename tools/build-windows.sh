#!/usr/bin/env bash
# Builds Lumidor for Windows with Debian's mingw-w64 and runs its tests under Wine: x86_64 into
# build-win64/ (wine64), i686 into build-win32/ (the 32-bit Wine of wine32:i386). Installs what
# it needs first. jsoncpp and GoogleTest are built static with the same toolchain into each
# build tree (deps/), jsoncpp from Debian's source package. Prints the time of every step and
# the size of every program made.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD

# timed <label> <command...>: runs the command and prints how long it took.
timed() {
    local label=$1
    shift
    local start end
    start=$(date +%s.%N)
    "$@"
    end=$(date +%s.%N)
    echo "time: $label $(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", e - s }') s"
}

# The main Debian archive's URI, first suite and keyring, as "URI SUITE KEYRING" (KEYRING may
# be empty), read from the deb entries of APT's sources in either format.
debian_archive() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk '$1 == "deb" {
                 i = 2
                 if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
                 if ($i ~ /\/debian\/?$/) { print $i, $(i + 1); exit }
             }' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk 'BEGIN { RS = ""; FS = "\n" }
             {
                 types = uris = suites = keyring = ""
                 for (j = 1; j <= NF; j++) {
                     line = $j
                     if (sub(/^Types:[ \t]*/, "", line)) types = " " line " "
                     else if (sub(/^URIs:[ \t]*/, "", line)) uris = line
                     else if (sub(/^Suites:[ \t]*/, "", line)) suites = line
                     else if (sub(/^Signed-By:[ \t]*/, "", line)) keyring = line
                 }
                 split(uris, u, " ")
                 split(suites, s, " ")
                 if (types ~ / deb / && u[1] ~ /\/debian\/?$/) { print u[1], s[1], keyring; exit }
             }' "$f"
    done
}

install_packages() {
    export DEBIAN_FRONTEND=noninteractive
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    local archive uri suite keyring
    archive=$(debian_archive | head -n 1)
    [ -n "$archive" ] || { echo "no deb entry of the Debian archive in APT's sources" >&2; exit 1; }
    read -r uri suite keyring <<<"$archive"
    # jsoncpp's source, of the same suite as the binary packages.
    echo "deb-src ${keyring:+[signed-by=$keyring] }$uri $suite main" |
        $sudo tee /etc/apt/sources.list.d/lumidor-jsoncpp-source.list >/dev/null
    # The 32-bit Wine: without it wine64 runs a 32-bit program silently, printing nothing.
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
    $sudo apt-get update -q
    $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends \
        g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix \
        binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 \
        wine wine64 wine32:i386 cmake ninja-build dpkg-dev googletest libp11-kit-dev
}

# build_jsoncpp <build dir> <toolchain file>: jsoncpp from Debian's source package, static, into
# <build dir>/deps/prefix.
build_jsoncpp() {
    local build=$1 toolchain=$2
    local deps=$build/deps prefix=$build/deps/prefix
    [ -f "$prefix/lib/cmake/jsoncpp/jsoncppConfig.cmake" ] && return
    rm -rf "$deps"/libjsoncpp* "$deps/jsoncpp-build"
    mkdir -p "$deps"
    (cd "$deps" && apt-get source -q libjsoncpp-dev)
    local jsoncpp
    jsoncpp=$(find "$deps" -maxdepth 1 -type d -name 'libjsoncpp-*' | head -n 1)
    cmake -S "$jsoncpp" -B "$deps/jsoncpp-build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF \
        -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
        -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF -DJSONCPP_WITH_CMAKE_PACKAGE=ON
    cmake --build "$deps/jsoncpp-build" -j 2
    cmake --install "$deps/jsoncpp-build"
}

# build_googletest <build dir> <toolchain file>: Debian's GoogleTest source (/usr/src/googletest),
# static, into <build dir>/deps/prefix.
build_googletest() {
    local build=$1 toolchain=$2
    local deps=$build/deps prefix=$build/deps/prefix
    [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ] && return
    cmake -S /usr/src/googletest -B "$deps/googletest-build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=ON -DBUILD_SHARED_LIBS=OFF
    cmake --build "$deps/googletest-build" -j 2
    cmake --install "$deps/googletest-build"
}

configure_and_build() {
    local build=$1 toolchain=$2
    cmake -S "$source" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_FIND_ROOT_PATH="$build/deps/prefix" -DCMAKE_BUILD_TYPE=Debug \
        -DLUMIDOR_WERROR=ON -DLUMIDOR_BUILD_BENCHMARKS=OFF
    cmake --build "$build" -j 2
}

# check_architecture <build dir> <objdump> <format>: every test program is of the format its
# Wine expects, since wine64 alone "passes" a 32-bit program that never ran.
check_architecture() {
    local build=$1 objdump=$2 format=$3 exe found=0
    while IFS= read -r exe; do
        found=1
        if ! "$objdump" -f "$exe" | grep -q "file format $format\$"; then
            echo "$exe is not $format:" >&2
            "$objdump" -f "$exe" >&2
            return 1
        fi
    done < <(find "$build/tests" -name '*.exe')
    [ "$found" = 1 ] || { echo "no test program in $build/tests" >&2; return 1; }
    echo "every test program in $build/tests is $format"
}

# Stops the server of the Wine prefix in use, if any, and waits for it to end.
stop_wine() {
    if [ -n "${WINEPREFIX:-}" ]; then
        wineserver -k || true
        wineserver -w
        unset WINEPREFIX
    fi
}
trap stop_wine EXIT

# run_tests <build dir> <wine loader> <WINEARCH>: one Wine prefix per build tree (a win32 one
# for the 32-bit build, which wine64 cannot run in).
run_tests() {
    local build=$1 wine=$2 arch=$3
    export WINEPREFIX=$build/wineprefix WINEARCH=$arch WINEDEBUG=-all,err+module
    # No Mono nor Gecko: their installers would ask for a display.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    timed "${build##*-} wine prefix" "$wine" wineboot --init
    timed "${build##*-} tests under wine" \
        ctest --test-dir "$build" --output-on-failure --no-tests=error -j 2 --timeout 300
    stop_wine
}

# The size of every program of this build.
report_sizes() {
    local build=$1 exe
    while IFS= read -r exe; do
        echo "size: ${exe#"$source"/} $(stat -c %s "$exe") bytes"
    done < <(find "$build/src" "$build/tests" -name '*.exe' | sort)
}

timed install install_packages
for target in win64 win32; do
    case $target in
        win64) triplet=x86_64-w64-mingw32 wine=/usr/lib/wine/wine64 format=pei-x86-64 ;;
        win32) triplet=i686-w64-mingw32 wine=/usr/lib/wine/wine format=pei-i386 ;;
    esac
    build=$source/build-$target
    toolchain=$source/cmake/toolchain-mingw${target#win}.cmake
    echo "== $target =="
    timed "$target jsoncpp" build_jsoncpp "$build" "$toolchain"
    timed "$target googletest" build_googletest "$build" "$toolchain"
    timed "$target build" configure_and_build "$build" "$toolchain"
    check_architecture "$build" "$triplet-objdump" "$format"
    run_tests "$build" "$wine" "$target"
    report_sizes "$build"
done
