#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need, when any is missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libxml2-dev libsqlite3-dev
    sqlite3 libcurl4-openssl-dev libgtest-dev libbenchmark-dev python3 python3-pyftpdlib
    # The protected retrieval's test servers: TLS for pyftpdlib, an SFTP server.
    python3-openssl python3-cryptography python3-paramiko
    desktop-file-utils nlohmann-json3-dev
    # What the windows are laid out for and Qt's French texts, as the package depends on them.
    fonts-liberation qt6-translations-l10n
    # The package test: lintian, the manual page, the status file.
    lintian man-db jq
    # The leftover test slows a rename down to kill a run in the middle of a copy.
    strace)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
