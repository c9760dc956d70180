#!/usr/bin/env bash
# Installs what building needs, builds Lumidor optimized (build-package/, RelWithDebInfo: -O2
# as Debian builds; cpack strips the binaries it packs), makes the Debian package
# lumidor_<version>_<arch>.deb there and installs it with apt-get, which brings its
# dependencies. Remove it with `sudo apt-get remove lumidor`.
set -euo pipefail
cd "$(dirname "$0")/.."

./tools/install-deps.sh

cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLUMIDOR_BUILD_TESTS=OFF -DLUMIDOR_BUILD_BENCHMARKS=OFF
cmake --build build-package -j "$(nproc)"
rm -f build-package/lumidor_*.deb
(cd build-package && cpack -G DEB)
debs=(build-package/lumidor_*.deb)

if [ "$(id -u)" -eq 0 ]; then
    apt-get install -y "./${debs[0]}"
elif command -v sudo >/dev/null; then
    sudo apt-get install -y "./${debs[0]}"
else
    echo "Built ${debs[0]}; install it as root with: apt-get install ./${debs[0]}"
fi
