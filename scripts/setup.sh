#!/usr/bin/env bash
# Installs what building and testing Ostrelle needs on Debian 12 / Ubuntu, then configures and
# builds it. Sourced by scripts/run and scripts/test; safe to run again (it installs only what is missing).
set -euo pipefail

OSTRELLE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OSTRELLE_BUILD="${OSTRELLE_BUILD:-$OSTRELLE_ROOT/build}"

ostrelle_packages=(build-essential cmake qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core)
# The history database goes through Qt SQL's SQLite driver; NTS needs TLS 1.3 with the key
# exporter, and AES-SIV, from GnuTLS.
ostrelle_packages+=(libqt6sql6-sqlite pkg-config libgnutls28-dev)
# The exporter serves its metrics with Qt HTTP Server (without it, everything else still builds).
# Its CMake package needs Qt WebSockets, which Debian 12's qt6-httpserver-dev does not pull in.
ostrelle_packages+=(qt6-httpserver-dev qt6-websockets-dev)
if [ "${OSTRELLE_WITH_TEST_TOOLS:-0}" = 1 ]; then
    # Real NTP peers for the end-to-end tests and benchmarks, clang with libFuzzer for the fuzzers,
    # and clang-format for the layout check in CI.
    ostrelle_packages+=(chrony ntpsec-ntpdate clang libclang-rt-14-dev clang-format)
    # What scripts/check-package checks the package with, and the metrics parser of the report tests.
    ostrelle_packages+=(lintian desktop-file-utils appstream python3-prometheus-client)
    # The peers of the monitoring tests: check_ntp_time side by side with the report, promtool's
    # linter and a real Prometheus scraping the exporter (its package's daemon is kept from starting
    # below, like chrony's), and systemd-analyze for the exporter's unit.
    ostrelle_packages+=(monitoring-plugins-basic prometheus systemd)
fi

ostrelle_install_missing() {
    local missing=()
    for p in "${ostrelle_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo apt-get update -qq
    # chrony's package would start a daemon that steps this machine's clock; keep it from starting.
    local policy=""
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null
        $sudo chmod +x /usr/sbin/policy-rc.d
        policy=1
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    if [ -n "$policy" ]; then $sudo rm -f /usr/sbin/policy-rc.d; fi
}

# Extra arguments go to cmake's configure step.
ostrelle_build() {
    local werror=OFF launcher=()
    if [ "${CI:-}" = true ]; then werror=ON; fi
    # Three builds (plain, sanitizers, package) share most objects when a compiler cache is at hand.
    # Relative to the checkout, so that CI's fresh clone in another folder finds them too.
    if command -v ccache >/dev/null; then
        launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        export CCACHE_BASEDIR="$OSTRELLE_ROOT"
    fi
    cmake -S "$OSTRELLE_ROOT" -B "$OSTRELLE_BUILD" -DCMAKE_BUILD_TYPE="${OSTRELLE_BUILD_TYPE:-RelWithDebInfo}" \
        -DOSTRELLE_WERROR="$werror" "${launcher[@]}" "$@" >/dev/null
    cmake --build "$OSTRELLE_BUILD" -j"$(nproc)"
}
