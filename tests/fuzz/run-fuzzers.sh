#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds
# (default 30; the long runs use 180 or more), starting from the committed inputs
# (tests/fuzz/corpus, plus the sample and demo XML files). Any crash, leak, time-out or
# undefined behaviour fails the script; the failing inputs are copied to FUZZ_FINDINGS_DIR
# (default build-fuzz/findings, which outlives the run) and printed in hexadecimal, so that a
# finding can be reproduced with `build-fuzz/tests/fuzz/<target> <file>` and, once fixed, added
# to the target's corpus folder, which the ordinary test run replays.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-30}"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
findings="${FUZZ_FINDINGS_DIR:-$build/findings}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DQUORVANE_FUZZ=ON -DQUORVANE_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_xml fuzz_inifile fuzz_currency fuzz_fieldconversion fuzz_manifest

# The fuzzers add what they learn to their corpus: work on copies, never on the committed ones.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/xml" "$findings"
cp "$root"/demo/headoffice/*.xml "$scratch/xml/"
find "$root/tests/data/xml" -name '*.xml' -exec cp {} "$scratch/xml/" \;
for corpus in ini currency fields; do
    cp -r "$root/tests/fuzz/corpus/$corpus" "$scratch/$corpus"
done

found=0
run() {
    local target="$1" corpus="$2"
    echo "== $target for ${seconds}s"
    mkdir -p "$scratch/out-$target"
    # TMPDIR: the targets' own scratch files go with the rest.
    (cd "$scratch" && TMPDIR="$scratch" "$build/tests/fuzz/$target" -max_total_time="$seconds" \
        -print_final_stats=1 -artifact_prefix="$scratch/out-$target/" "$scratch/$corpus" 2>&1 |
        grep -E 'stat::number_of_executed_units|ERROR|SUMMARY' || true)
    # libFuzzer leaves a crash-*/leak-*/timeout-*/oom-* file for every finding.
    local finding
    for finding in "$scratch/out-$target"/*; do
        [ -f "$finding" ] || continue
        found=1
        cp "$finding" "$findings/$target-$(basename "$finding")"
        echo "$target found a failing input, kept as $findings/$target-$(basename "$finding"):"
        od -A x -t x1z -v "$finding" | head -n 64
    done
}
run fuzz_xml xml
run fuzz_inifile ini
run fuzz_currency currency
run fuzz_fieldconversion fields
run fuzz_manifest manifest
if [ "$found" -ne 0 ]; then
    exit 1
fi
echo "fuzzers: no finding"
