#!/usr/bin/env bash
# Installs what is needed, makes the Debian package lumidor_<version>_<arch>.deb
# (tools/make-package.sh: optimized, with Debian's build flags, in build-package/) and
# installs it with apt-get, which brings its dependencies. Remove it with
# `sudo apt-get remove lumidor`.
set -euo pipefail
cd "$(dirname "$0")/.."

./tools/install-deps.sh
./tools/make-package.sh
debs=(build-package/lumidor_*.deb)

if [ "$(id -u)" -eq 0 ]; then
    apt-get install -y "./${debs[0]}"
elif command -v sudo >/dev/null; then
    sudo apt-get install -y "./${debs[0]}"
else
    echo "Built ${debs[0]}; install it as root with: apt-get install ./${debs[0]}"
fi
