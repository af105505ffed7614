# shellcheck shell=bash
# Sourced by scripts/test-windows and scripts/package-windows: finds the Windows toolchain that
# scripts/windows-toolchain leaves in its cache and cross-builds Ostrelle with it.
#
# Every Wine process (the build renders the icon under Wine) runs without the right to set the
# clock (setpriv --bounding-set=-sys_time): Wine hands SetSystemTime to Linux, where root could make it.

OSTRELLE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OSTRELLE_WINDOWS_CACHE="${OSTRELLE_WINDOWS_TOOLCHAIN:-${XDG_CACHE_HOME:-$HOME/.cache}/ostrelle/windows-toolchain}"
ostrelle_jobs="${OSTRELLE_JOBS:-$(nproc)}"

# Prints why the Windows build cannot be made here, in one line, and fails; else succeeds quietly.
ostrelle_windows_missing() {
    if [ ! -f "$OSTRELLE_WINDOWS_CACHE/complete" ] && [ ! -f "$OSTRELLE_WINDOWS_CACHE/stamp" ]; then
        echo "no complete toolchain in $OSTRELLE_WINDOWS_CACHE (scripts/windows-toolchain builds it)"
        return 0
    fi
    local tool
    for tool in x86_64-w64-mingw32-g++-posix setpriv flock "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "$tool is not installed (scripts/windows-toolchain installs it)"
            return 0
        fi
    done
    if ! command -v wine64 >/dev/null && ! command -v wine >/dev/null; then # looked for, not run: setpriv
        echo "Wine is not installed (scripts/windows-toolchain installs it)"
        return 0
    fi
    return 1
}

# ostrelle_windows_build BUILD_FOLDER [cmake configure arguments...]
ostrelle_windows_build() {
    local build="$1"
    shift
    local launcher=() generator=() werror=OFF
    if command -v ccache >/dev/null; then
        launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        export CCACHE_BASEDIR="$OSTRELLE_ROOT"
    fi
    if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
    if [ "${CI:-}" = true ]; then werror=ON; fi
    cmake -S "$OSTRELLE_ROOT" -B "$build" "${generator[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$OSTRELLE_ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_PREFIX_PATH="$OSTRELLE_WINDOWS_CACHE/prefix" \
        -DOSTRELLE_WINDOWS_PREFIX="$OSTRELLE_WINDOWS_CACHE/prefix" -DQT_HOST_PATH=/usr \
        -DOSTRELLE_BUILD_BENCH=OFF -DOSTRELLE_WERROR="$werror" "${launcher[@]}" "$@" >/dev/null
    cmake --build "$build" -j"$ostrelle_jobs"
}
