#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour
# sanitizers) and runs each for SECONDS (default 60), one after the other.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Each target starts from its seeds in fuzz/corpus/TARGET (and, for the HEX
# and document targets, the real HEX files in ../shared/testdata/hex when
# they are there); what it learns is kept in build/fuzz/corpus/TARGET for
# the next run (KFU_FUZZ_BUILD names another build folder). A finding is
# written to fuzz/regressions/TARGET/, where the ordinary test suite replays
# it: fix the fault and commit the file. Any finding makes the script fail.
# Installs its packages when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true

bash scripts/setup-deps.sh --fuzz

build=${KFU_FUZZ_BUILD:-build/fuzz}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DKFU_FUZZ=ON -DKFU_WERROR=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" >"$build.log" 2>&1 || { tail -40 "$build.log"; exit 1; }

if [ $# -gt 0 ]; then
    targets=("$@")
else
    mapfile -t targets < <(sed -n 's/^    \(fuzz_[a-z_]*\)$/\1/p' fuzz/targets.cmake)
fi

shared_hex=../shared/testdata/hex
passed=0
failed=0
printf '%-22s %12s %8s %8s %9s\n' target executions cov ft findings
for t in "${targets[@]}"; do
    corpus=$build/corpus/$t
    findings=fuzz/regressions/$t
    mkdir -p "$corpus" "$findings"
    seeds=(fuzz/corpus/"$t")
    case $t in
        fuzz_hex | fuzz_documents) [ -d "$shared_hex" ] && seeds+=("$shared_hex") ;;
    esac
    dict=()
    case $t in
        fuzz_hex | fuzz_documents) dict=(-dict=fuzz/dict/hex.dict) ;;
        fuzz_script) dict=(-dict=fuzz/dict/script.dict) ;;
    esac
    before=$(find "$findings" -type f | wc -l)
    log=$build/$t.log
    status=0
    # A finding stops the target at once (no -fork), so its input is saved.
    # An input that merely ran slowly on a busy machine is no finding; a
    # real hang passes the time limit and is one.
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
        "$build/fuzz/$t" -max_total_time="$seconds" -timeout=25 -report_slow_units=100000 \
        -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 \
        -artifact_prefix="$findings/" "${dict[@]}" "$corpus" "${seeds[@]}" >"$log" 2>&1 ||
        status=$?
    after=$(find "$findings" -type f | wc -l)
    new=$((after - before))
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    printf '%-22s %12s %8s %8s %9s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$new"
    if [ "$status" -ne 0 ] || [ "$new" -ne 0 ]; then
        failed=$((failed + 1))
        echo "  $t failed (exit $status); the end of $log:"
        tail -40 "$log" | sed 's/^/    /'
    else
        passed=$((passed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
