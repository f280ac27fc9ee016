#!/usr/bin/env bash
# The demo store on its head office's signed set: the same demo as run-demo.sh, with the demo
# key in "ClePublique" (demo/signing/README.md: a key for the demo only). One synchronization
# accepts the signed set; then two dry runs show what a store refuses: a rate changed after
# signing, and the set signed by another key.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
run="$root/demo/run"
# minisign makes the other key of the last dry run.
"$root/demo/install-packages.sh" minisign
"$root/demo/run-demo.sh" --prepare-only
key="$(sed -n 2p "$root/demo/signing/demo-siege.pub")"
printf '[Quorvane_Signature]\r\nClePublique=%s\r\n' "$key" >> "$run/QuorvaneClient.ini"

echo "Synchronizing the demo store on the signed set (the window closes itself after 30 seconds)..."
"$run/QuorvaneClient"
echo "Accepted generation: $(cat "$run/QuorvaneClientGeneration")"
echo "Report: $([ -f "$run/QuorvaneClientAutoLog.html" ] && echo "$run/QuorvaneClientAutoLog.html" || echo "none (no error)")"

# The head office's folder as someone on the line would change it: a rate raised, not re-signed.
altered="$run/siege-modifie"
mkdir -p "$altered"
cp "$root"/demo/headoffice/* "$altered/"
sed -i 's/Taux="21,75"/Taux="91,75"/' "$altered/remise_achat.xml"
sed -i "s|^URI=.*|URI=$altered\r|" "$run/QuorvaneClient.ini"
echo
echo "A dry run on a copy whose rate was changed after signing:"
"$run/QuorvaneClient" --dry-run || true

# The same files signed by a key the store does not know.
other="$run/autre-cle"
mkdir -p "$other"
minisign -G -W -p "$other/autre.pub" -s "$other/autre.key" >/dev/null
cp "$root"/demo/headoffice/*.xml "$altered/"
"$root/tools/publish-manifest.sh" -s "$other/autre.key" -g 2 "$altered" >/dev/null
echo
echo "A dry run on the set signed by another key:"
"$run/QuorvaneClient" --dry-run || true
