#!/usr/bin/env bash
# Installs the Debian packages the build and the demo need, when any is missing. The tests need
# more: tests/install-test-packages.sh adds them.
#   install-packages.sh [package...]   also installs the packages named
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libxml2-dev libsqlite3-dev
    sqlite3 libcurl4-openssl-dev libssh-dev nlohmann-json3-dev
    # SHA-256 of the fetched files (libcrypto), Ed25519 for the signed head-office files.
    libssl-dev libsodium-dev
    # What the windows are laid out for and Qt's French texts, as the package depends on them.
    fonts-liberation qt6-translations-l10n
    "$@")
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
