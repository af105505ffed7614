#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs them, printing every figure with its peer's beside it.
#
#   bench/run_benchmarks.sh [settings] [pass] [accuracy] [scale] [soak] [history] [nts]    (default: all of them)
#
# OSTRELLE_BENCH_BUILD  build folder (default: build-bench at the top of the sources)
# OSTRELLE_BENCH_JOBS   parallel compile jobs (default: 2)
# OSTRELLE_BENCH_SOAK_VALGRIND_STEPS  poll steps of the soak under valgrind (default 200000; 0 skips it)
#
# Everything stays on loopback and the clock is never set. ntpdate only asks port 123, so its
# figures (and chronyd on port 123) need root; without it they are left out and the run says so.
# Needs chrony and ntpsec-ntpdate for the peers, valgrind for the memcheck run (each optional).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${OSTRELLE_BENCH_BUILD:-$root/build-bench}"
jobs="${OSTRELLE_BENCH_JOBS:-2}"
valgrind_steps="${OSTRELLE_BENCH_SOAK_VALGRIND_STEPS:-200000}"

selected=("$@")
if [ ${#selected[@]} -eq 0 ]; then
    selected=(settings pass accuracy scale soak history nts)
fi
targets=()
for name in "${selected[@]}"; do
    case "$name" in
    settings | pass | accuracy | scale | soak | history | nts) targets+=("bench_$name") ;;
    *)
        echo "unknown benchmark: $name (settings, pass, accuracy, scale, soak, history, nts)" >&2
        exit 2
        ;;
    esac
done

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DOSTRELLE_BUILD_TESTS=ON -DOSTRELLE_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
export LC_ALL=C.UTF-8
# Qt warns on every start without a runtime folder.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR="$(mktemp -d)"
    export XDG_RUNTIME_DIR
    trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
bin="$build/bench"
status=0

run() {
    echo
    echo "=== $*"
    # A safety net only: every benchmark bounds its own loops and ends by itself.
    timeout 900 "$@" || {
        echo "=== exit status $? from: $*"
        status=1
    }
}

if [ "$(id -u)" -ne 0 ]; then
    echo "note: not root, so ntpdate (port 123 only) is left out of the peer figures"
fi

for name in "${selected[@]}"; do
    case "$name" in
    settings) run "$bin/bench_settings" ;;
    pass) run "$bin/bench_pass" ;;
    accuracy) run "$bin/bench_accuracy" ;;
    history) run "$bin/bench_history" 60 ;;
    scale) run "$bin/bench_scale" ;;
    nts) run "$bin/bench_nts" ;;
    soak)
        run "$bin/bench_soak" --steps 1000000
        # LeakSanitizer preloaded into the same Release binary: a leak makes it exit with 23.
        # Allocation stacks of two frames only: deeper ones, unwound without frame pointers, are
        # partly garbage and make the sanitizer's own bookkeeping grow. (With fewer than two frames
        # it reports nothing at all.)
        lsan="$(readlink -f "$(${CXX:-g++} -print-file-name=liblsan.so 2>/dev/null)" 2>/dev/null || true)"
        if [ -n "$lsan" ] && [ -f "$lsan" ]; then
            run env LD_PRELOAD="$lsan" LSAN_OPTIONS="exitcode=23:malloc_context_size=2" \
                "$bin/bench_soak" --steps 1000000
        else
            echo "LeakSanitizer runtime (liblsan) not found; leak check under it left out"
        fi
        if [ "$valgrind_steps" -gt 0 ] && command -v valgrind >/dev/null; then
            run valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect,possible \
                --errors-for-leak-kinds=definite,indirect,possible --error-exitcode=23 \
                "$bin/bench_soak" --steps "$valgrind_steps" --report $((valgrind_steps / 4))
        else
            echo "valgrind run left out"
        fi
        ;;
    esac
done
exit $status
