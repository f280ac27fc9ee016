#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds
# (default 30; the long runs use 180 or more) on a scratch corpus made from the demo files.
# Any crash, leak or undefined behaviour fails the script.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-30}"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DQUORVANE_FUZZ=ON -DQUORVANE_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_xml fuzz_inifile fuzz_currency fuzz_fieldconversion

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch"/{xml,ini,currency,fields}
cp "$root"/demo/headoffice/*.xml "$scratch/xml/"
find "$root/tests/data/xml" -name '*.xml' -exec cp {} "$scratch/xml/" \;
printf '[Quorvane]\r\nRemise_Achat=1\r\nTypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=/srv/siège\r\n' > "$scratch/ini/a"
printf '[Alias]\nOmbrelin=/opt/ombrelin\nNetDir=\n' > "$scratch/ini/b"
for value in "1234,56" " 1 234,56 " "-3.5" "2,71828" "1.234,56" "1e5" "abc"; do
    printf '%s' "$value" > "$scratch/currency/$(echo "$value" | md5sum | cut -c1-8)"
done
for value in "01/02/2026" "2026-02-01 10:30" "12:05:59" "oui" "-32768" "12,250"; do
    printf '%s' "$value" > "$scratch/fields/$(echo "$value" | md5sum | cut -c1-8)"
done

run() {
    local target="$1" corpus="$2"
    echo "== $target for ${seconds}s"
    # TMPDIR: the targets' own scratch files go with the rest.
    (cd "$scratch" && TMPDIR="$scratch" "$build/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        "$scratch/$corpus" 2>&1 | grep -E 'stat::number_of_executed_units|ERROR|SUMMARY' || true)
    # libFuzzer leaves a crash-*/leak-*/timeout-* file for every finding.
    if ls "$scratch" | grep -qE '^(crash|leak|timeout|oom)-'; then
        echo "$target found a failing input:" && ls "$scratch" | grep -E '^(crash|leak|timeout|oom)-'
        exit 1
    fi
}
run fuzz_xml xml
run fuzz_inifile ini
run fuzz_currency currency
run fuzz_fieldconversion fields
echo "fuzzers: no finding"
