#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with. Needs root (or sudo).
#   setup.sh            what building and running the service on Linux needs
#   setup.sh --tests    also what the tests need, the Windows cross-build and Wine included, and
#                       clang with its sanitizer and libFuzzer runtimes for the fuzz targets
#   setup.sh [--tests] PACKAGE...   these packages as well (the benchmarks' wrk, say)
set -euo pipefail

packages=(g++ cmake make libboost-dev curl)
if [ "${1:-}" == "--tests" ]; then
    shift
    packages+=(libgtest-dev libgmock-dev socat procps
        g++-mingw-w64-x86-64-posix googletest wine64 chromium
        clang libclang-rt-14-dev dpkg-dev
        wixl msitools)  # msitools: the Windows installer (scripts/build-msi.sh)
fi
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
