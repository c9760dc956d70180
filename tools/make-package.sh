#!/usr/bin/env bash
# Builds Lumidor optimized with Debian's build flags (dpkg-buildflags: -O2, hardening, bindnow)
# in build-package/ and makes the Debian package lumidor_<version>_<arch>.deb there; with
# --check, then runs Debian's checkers on it: lintian (pedantic: no error, no warning) and
# hardening-check on both programs. Installs nothing; tools/package.sh installs the package.
set -euo pipefail
cd "$(dirname "$0")/.."

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
# CMake reads no CPPFLAGS: the preprocessor's flags (_FORTIFY_SOURCE) go with the compiler's.
# Stack clash protection and control-flow protection, which later dpkg versions add by
# themselves (Debian 13), are added here too.
extra="-fstack-clash-protection -fcf-protection"
export CFLAGS="$CPPFLAGS $CFLAGS $extra" CXXFLAGS="$CPPFLAGS $CXXFLAGS $extra"
# Release: no flags of CMake's own beyond -DNDEBUG; the optimization is dpkg-buildflags'.
rm -f build-package/CMakeCache.txt  # the flags are read at the first configuration only
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=None \
    -DLUMIDOR_BUILD_TESTS=OFF -DLUMIDOR_BUILD_BENCHMARKS=OFF
cmake --build build-package -j "$(nproc)"
rm -f build-package/lumidor_*.deb
(cd build-package && cpack -G DEB)
debs=(build-package/lumidor_*.deb)
echo "Built ${debs[0]}"

if [ "${1:-}" = --check ]; then
    lintian --pedantic --fail-on error,warning "${debs[0]}"
    root=$(mktemp -d)
    trap 'rm -rf "$root"' EXIT
    dpkg-deb -x "${debs[0]}" "$root"
    # Control-flow protection is compiled in, but Debian 12's C library start files carry no
    # CET property, so the linker can mark no program of this system with it (ls and pcscd
    # neither): that one check is left out here.
    hardening-check --nocfprotection "$root/usr/bin/lumidor" "$root/usr/bin/lumidor-check"
fi
