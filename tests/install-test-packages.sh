#!/usr/bin/env bash
# Installs what the build and the demo need (demo/install-packages.sh), and what the tests add,
# when any is missing.
set -euo pipefail
test_packages=(libgtest-dev libbenchmark-dev python3 python3-pyftpdlib
    # The protected retrieval's test servers: TLS for pyftpdlib, an SFTP server.
    python3-openssl python3-cryptography python3-paramiko
    # The system's own servers the tests start on loopback: OpenSSH's sshd and vsftpd.
    openssh-server vsftpd
    # The package test: lintian, the manual page, the desktop files, the status file.
    desktop-file-utils lintian man-db jq
    # hardening-check, for the protections the packaged program is built with.
    devscripts
    # The leftover test slows a rename down to kill a run in the middle of a copy.
    strace
    # A real X server: with a display the report is handed to the desktop.
    xvfb
    # Proxies the retrieval goes through, network namespaces that leave them the only way out,
    # and a delayed line for the SFTP throughput measurement.
    tinyproxy dante-server iproute2
    # Signatures made as the head office makes them.
    minisign
    # The metrics file scraped and checked by the monitoring tools a network runs.
    prometheus-node-exporter prometheus
    # The windows read through the accessibility bus, driven by keys, under other platform
    # themes, and notifications on a private session bus.
    at-spi2-core python3-pyatspi python3-dbus python3-gi gir1.2-glib-2.0 xdotool qt6ct dbus dbus-x11
    # xev stands in for the till whose keyboard a scheduled run must leave alone.
    x11-utils)
exec "$(dirname "$0")/../demo/install-packages.sh" "${test_packages[@]}"
