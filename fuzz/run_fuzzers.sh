#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each, one at a time, for the given number of
# seconds (default 60) on a copy of its seed corpus, then prints the executions, coverage, peak
# memory and outcome of each. Names after the seconds run only those targets (60 settings channel).
# Exits non-zero when any target crashed, broke an invariant or drew a sanitizer report.
# Environment: OSTRELLE_FUZZ_BUILD (build folder, default build-fuzz), OSTRELLE_JOBS (default 2).
set -euo pipefail

seconds="${1:-60}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${OSTRELLE_FUZZ_BUILD:-$root/build-fuzz}"
jobs="${OSTRELLE_JOBS:-2}"
targets=(reply number settings nts servername channel)
if [ "$#" -gt 1 ]; then
    targets=("${@:2}")
fi

for tool in clang++ cmake; do
    command -v "$tool" >/dev/null || { echo "run_fuzzers: $tool is missing (scripts/test installs it)" >&2; exit 2; }
done

CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTRELLE_WERROR=ON \
    -DOSTRELLE_BUILD_FUZZERS=ON -DOSTRELLE_BUILD_TESTS=OFF -DOSTRELLE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]/#/fuzz_}"

# The corpus copies grow while the fuzzers run; the seeds in the repository stay as they are.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
results="$build/fuzz/results"
mkdir -p "$results"

# AddressSanitizer holds freed memory back (256 MB by default) to catch a late use of it; filling
# that quarantine looked like a leak of 136 MB over two minutes. 16 MB still holds everything one
# input frees, and with it a resident size that keeps growing, or one huge allocation, is a finding.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:halt_on_error=1:quarantine_size_mb=16"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen

failed=0
report=()
for target in "${targets[@]}"; do
    corpus="$work/$target"
    cp -r "$root/fuzz/corpus/$target" "$corpus"
    log="$results/fuzz_$target.log"
    mkdir -p "$results/$target-artifacts"
    echo "fuzz_$target: running for ${seconds} s (log: $log)"
    status=0
    "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=512 -malloc_limit_mb=64 \
        -artifact_prefix="$results/$target-artifacts/" "$corpus" >"$log" 2>&1 || status=$?

    executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    speed="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)"
    rss="$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -n 1)"
    last="$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1 || true)"
    cov="$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")"
    ft="$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")"
    units="$(find "$corpus" -type f | wc -l)"
    outcome="ok"
    if [ "$status" -ne 0 ] || grep -qE 'ERROR: (Address|Leak|libFuzzer)|runtime error:|invariant broken|deadly signal|out-of-memory' "$log"; then
        outcome="CRASH (exit $status; see $log and $results/$target-artifacts/)"
        failed=1
    fi
    report+=("$(printf '%-16s %12s %10s %7s %7s %8s %8s  %s' "fuzz_$target" "${executions:-?}" "${speed:-?}" \
        "${cov:-?}" "${ft:-?}" "$units" "${rss:-?}" "$outcome")")
done

echo
printf '%-16s %12s %10s %7s %7s %8s %8s  %s\n' target executions exec/s cov ft corpus rss_mb outcome
printf '%s\n' "${report[@]}"
exit "$failed"
