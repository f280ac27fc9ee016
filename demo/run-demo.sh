#!/usr/bin/env bash
# Installs what is missing, builds, makes a fresh demo program folder in demo/run/ (settings in
# folder mode with all four categories, ombbde.ini, the store tables) and runs one
# synchronization of it. Without a display the run goes offscreen and still ends by itself.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
demo/install-packages.sh
# A first configuration leaves the tests out: their packages come with the test command.
if [ -f build/CMakeCache.txt ]; then
    cmake -S . -B build >/dev/null
else
    cmake -S . -B build -G Ninja -DQUORVANE_TESTS=OFF >/dev/null
fi
cmake --build build -j"$(nproc)" --target QuorvaneClient

run="$root/demo/run"
rm -rf "$run"
mkdir -p "$run/Auto" "$run/ombrelin/Administration" "$run/ombrelin/Tarifs" "$run/ombrelin/Maj"
cp build/QuorvaneClient "$run/"
"$root/demo/make-store.sh" "$run/ombrelin"
printf '[Alias]\r\nOmbrelin=%s\r\n' "$run/ombrelin" > "$run/ombrelin/ombbde.ini"
printf '[Setup]\r\nDir=%s\r\n[Quorvane]\r\nRemise_Achat=1\r\nPersonnalisation=1\r\nMessage=1\r\nDocument=1\r\nTypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=%s\r\n' \
    "$run/ombrelin" "$root/demo/headoffice" > "$run/QuorvaneClient.ini"

[ "${1:-}" = "--prepare-only" ] && exit 0

echo "Synchronizing the demo store in $run (the window closes itself after 30 seconds)..."
"$run/QuorvaneClient"
echo "Done. Report: $([ -f "$run/QuorvaneClientAutoLog.html" ] && echo "$run/QuorvaneClientAutoLog.html" || echo "none (no error)")"
