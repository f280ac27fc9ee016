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
    xvfb)
exec "$(dirname "$0")/../demo/install-packages.sh" "${test_packages[@]}"
