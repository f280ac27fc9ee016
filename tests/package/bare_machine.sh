#!/usr/bin/env bash
# By hand, not part of the suite (it takes minutes and needs a Debian mirror): a bare Debian 12
# (debootstrap --variant=minbase, plus systemd to boot it) that gets only the package and what
# apt pulls in with it, booted in a container (systemd-nspawn). There the machine-wide timer's
# service runs for a store user with its sandbox, in folder mode with the store tables under
# /srv and over FTP from a server on the loopback (the container shares this machine's
# network) with the tables in the user's home; a run with errors must fail the unit, one refused
# by the run lock must not; the root instance is started and must fail; then the package is
# removed and purged.
#   tests/package/bare_machine.sh PACKAGE.deb [ROOT_FOLDER]
# Needs root, debootstrap, systemd-container, sqlite3, jq and python3-pyftpdlib. ROOT_FOLDER
# (default /var/tmp/quorvane-bare) is made when missing and kept for the next time.
set -uo pipefail

deb="$(realpath "$1")"
machine="${2:-/var/tmp/quorvane-bare}"
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
section() { echo "== $*"; }

if [ ! -x "$machine/sbin/init" ]; then
    section "debootstrap"
    debootstrap --variant=minbase bookworm "$machine" http://deb.debian.org/debian >/dev/null || exit 1
    cp /etc/resolv.conf "$machine/etc/resolv.conf"
    chroot "$machine" apt-get update -q >/dev/null
    DEBIAN_FRONTEND=noninteractive chroot "$machine" apt-get install -y -q --no-install-recommends \
        systemd systemd-sysv dbus >/dev/null || exit 1
fi

container_pid=""
ftp_pid=""
cleanup() {
    [ -n "$ftp_pid" ] && kill "$ftp_pid" 2>/dev/null
    [ -n "$container_pid" ] && kill "$container_pid" 2>/dev/null
    wait 2>/dev/null
}
trap cleanup EXIT

section "boot"
systemd-nspawn -q --register=no --keep-unit -D "$machine" -b --console=pipe </dev/null \
    >/tmp/quorvane-bare-console.log 2>&1 &
container_pid=$!
leader=""
for _ in $(seq 60); do
    leader="$(ps --ppid "$container_pid" -o pid= | tr -d ' ')"
    if [ -n "$leader" ]; then
        state="$(nsenter -t "$leader" -a systemctl is-system-running 2>/dev/null)"
        [ "$state" = running ] || [ "$state" = degraded ] && break
    fi
    sleep 1
done
[ -n "$leader" ] || { echo "FAIL: the container did not boot" >&2; exit 1; }
inside() { nsenter -t "$leader" -a "$@"; }
inside systemctl --version | head -1

section "install"
# The container has a /tmp of its own.
cp "$deb" "$machine/var/tmp/"
DEBIAN_FRONTEND=noninteractive inside apt-get install -y -q "/var/tmp/$(basename "$deb")" \
    >/tmp/quorvane-bare-apt.log 2>&1 || { tail /tmp/quorvane-bare-apt.log; echo "FAIL: apt cannot install the package" >&2; exit 1; }
rm "$machine/var/tmp/$(basename "$deb")"
grep -E '^(Setting up|quorvane-client)' /tmp/quorvane-bare-apt.log | grep -i quorvane
inside id magasin >/dev/null 2>&1 || inside adduser --quiet --disabled-password --gecos '' magasin
inside adduser --quiet magasin quorvane

# A store's tables (under /srv, then in the user's home), the head office's files in a folder,
# settings of the store user's.
make_store() {
    store="$machine$1"
    rm -rf "$store"
    mkdir -p "$store/Administration" "$store/Tarifs" "$store/Maj"
    "$source_dir/demo/make-store.sh" "$store"
    printf '[Alias]\r\nOmbrelin=%s\r\n' "$1" >"$store/ombbde.ini"
    inside chown -R magasin:magasin "$1"
    store_folder="$1"
}
rm -rf "$machine/srv/siege"
mkdir -p "$machine/srv/siege"
cp "$source_dir"/demo/headoffice/*.xml "$machine/srv/siege/"
data="$machine/var/lib/quorvane-client"
write_settings() {
    printf '[Setup]\r\nDir=%s\r\n[Quorvane]\r\nRemise_Achat=1\r\nPersonnalisation=1\r\nMessage=1\r\nDocument=1\r\n%b' \
        "$store_folder" "$1" >"$data/QuorvaneClient.ini"
    inside chown magasin /var/lib/quorvane-client/QuorvaneClient.ini
    chmod 600 "$data/QuorvaneClient.ini"
}
ls -ld "$data" "$data/Auto"

run_service() {
    inside journalctl --rotate --vacuum-time=1s -q >/dev/null 2>&1
    inside systemctl start "$1"
    local status=$?
    inside journalctl -o cat -u "$1" --no-pager
    return "$status"
}
all_done='.categories | to_entries | all(.value.enabled and .value.downloaded and .value.integrated)'

section "a run in folder mode, tables under /srv"
make_store /srv/magasin
write_settings 'TypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=/srv/siege\r\n'
before="$(sqlite3 "$store/Administration/REMISES.DB" 'select count(*) from REMISES')"
run_service quorvane-client@magasin.service || fail "the folder-mode run failed"
jq -e "$all_done" "$data/QuorvaneClientStatus.json" >/dev/null ||
    fail "folder mode: $(cat "$data/QuorvaneClientStatus.json")"
echo "REMISES: $before records before, $(sqlite3 "$store/Administration/REMISES.DB" 'select count(*) from REMISES') after"

section "a run over FTP, tables in the user's home"
make_store /home/magasin/magasin
# A port the system gives: a fixed one may be taken by another test on this machine.
ftp_port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
/usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$ftp_port" -d "$source_dir/demo/headoffice" -u demo -P demo \
    >/tmp/quorvane-bare-ftp.log 2>&1 &
ftp_pid=$!
sleep 2
write_settings 'TypeEnvoi=FTP\r\n[Quorvane_FTP]\r\nLogin=demo\r\nMdp=demo\r\nHost=127.0.0.1\r\nPort='"$ftp_port"'\r\n'
rm -f "$data"/Auto/*.xml
run_service quorvane-client@magasin.service || fail "the FTP run failed"
jq -e "$all_done" "$data/QuorvaneClientStatus.json" >/dev/null ||
    fail "FTP: $(cat "$data/QuorvaneClientStatus.json")"
echo "REMISES: $(sqlite3 "$store/Administration/REMISES.DB" 'select count(*) from REMISES') records after"
kill "$ftp_pid"
ftp_pid=""

section "a failing run fails the unit, a refused one does not"
# The metrics go to node_exporter's folder, which the sandbox opens when it exists.
mkdir -p "$machine/var/lib/prometheus/node-exporter"
inside chgrp quorvane /var/lib/prometheus/node-exporter
chmod 2775 "$machine/var/lib/prometheus/node-exporter"
metrics=/var/lib/prometheus/node-exporter/quorvane-client.prom
write_settings "TypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=/srv/absent\r\n[Quorvane_Suivi]\r\nFichierMetriques=$metrics\r\n"
if run_service quorvane-client@magasin.service; then
    fail "a run with entries succeeded"
fi
inside systemctl is-failed -q quorvane-client@magasin.service || fail "the unit is not failed"
inside systemctl --failed --no-pager
grep -qx 'quorvane_client_run_entries [1-9][0-9]*' "$machine$metrics" ||
    fail "no metrics in node_exporter's folder: $(cat "$machine$metrics" 2>&1)"
# Another run holds the lock: exit code 2, which the unit counts as a success.
inside setpriv --reuid=magasin --regid=magasin --init-groups \
    flock /var/lib/quorvane-client/QuorvaneClient.lock sleep 30 &
sleep 2
run_service quorvane-client@magasin.service || fail "a run refused by the lock failed the unit"
inside systemctl is-failed -q quorvane-client@magasin.service && fail "the refused run left the unit failed"
wait $!
# The metrics file is the store's, in a folder the package does not own: this check's own.
rm -rf "$machine/var/lib/prometheus"

section "the root instance"
touch "$machine/var/tmp/before-root"
if run_service quorvane-client@root.service; then
    fail "quorvane-client@root.service started"
fi
written="$(find "$data" "$store" -newer "$machine/var/tmp/before-root")"
[ -z "$written" ] || fail "the root instance wrote $written"

section "remove"
inside systemctl enable quorvane-client@magasin.timer 2>&1
inside apt-get remove -y -q quorvane-client 2>&1 | grep -i quorvane
ls -la "$data"
[ -f "$data/QuorvaneClient.ini" ] || fail "removal deleted the settings"

section "purge"
inside apt-get purge -y -q quorvane-client 2>&1 | grep -i quorvane
left="$(cd "$machine" && find etc var usr -name '*quorvane*')"
echo "left after purge: ${left:-nothing}"
[ -z "$left" ] || fail "purge left $left"
grep '^quorvane:' "$machine/etc/group" || fail "purge removed the group"

inside systemctl poweroff
wait "$container_pid" 2>/dev/null
container_pid=""
if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all bare-machine checks passed"
