#!/usr/bin/env bash
# Serves the demo head-office folder over FTP on 127.0.0.1:2121 (pyftpdlib, user "demo",
# password "demo") and runs one synchronization of a fresh demo store in FTP mode against it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/demo/install-packages.sh" python3 python3-pyftpdlib
"$root/demo/run-demo.sh" --prepare-only
run="$root/demo/run"
/usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p 2121 -d "$root/demo/headoffice" -u demo -P demo \
    > "$run/ftp-server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
sleep 1
printf '[Setup]\r\nDir=%s\r\n[Quorvane]\r\nRemise_Achat=1\r\nPersonnalisation=1\r\nMessage=1\r\nDocument=1\r\nTypeEnvoi=FTP\r\n[Quorvane_FTP]\r\nLogin=demo\r\nMdp=demo\r\nHost=127.0.0.1\r\nPort=2121\r\n' \
    "$run/ombrelin" > "$run/QuorvaneClient.ini"
echo "Synchronizing the demo store over FTP (the window closes itself after 30 seconds)..."
"$run/QuorvaneClient"
echo "Done. Files fetched into $run/Auto: $(ls "$run/Auto" | tr '\n' ' ')"
echo "Report: $([ -f "$run/QuorvaneClientAutoLog.html" ] && echo "$run/QuorvaneClientAutoLog.html" || echo "none (no error)")"
