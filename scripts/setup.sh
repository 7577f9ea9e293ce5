#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with. Needs root (or sudo).
#   setup.sh            what building and running the service on Linux needs
#   setup.sh --tests    also what the tests need, the Windows cross-build and Wine included, and
#                       clang with its sanitizer and libFuzzer runtimes for the fuzz targets,
#                       clang-format and git for the layout check, and the Node-based tests'
#                       tools (npm ci in tests/)
#   setup.sh [--tests] PACKAGE...   these packages as well (the benchmarks' wrk, say)
set -euo pipefail

packages=(g++ cmake make libboost-dev curl)
node_tools=0
if [ "${1:-}" == "--tests" ]; then
    shift
    node_tools=1
    packages+=(libgtest-dev libgmock-dev socat procps
        g++-mingw-w64-x86-64-posix googletest wine64 chromium
        clang libclang-rt-14-dev clang-format git dpkg-dev nodejs
        wixl msitools  # msitools: the Windows installer (scripts/build-msi.sh)
        prometheus)    # promtool: the shipped alert rules (tests/packaging/alert_rules_test.yml)
    # npm comes with some builds of nodejs, as a package of its own with Debian's.
    command -v npm >/dev/null || packages+=(npm)
fi

# The Node-based tests' tools as tests/package-lock.json locks them; playwright-core drives
# Debian's chromium and never downloads a browser.
install_node_tools() {
    [ "$node_tools" -eq 1 ] || return 0
    (cd "$(dirname "$0")/../tests" &&
        PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
}
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    install_node_tools
    exit 0
fi
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
install_node_tools
