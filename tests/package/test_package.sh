#!/usr/bin/env bash
# Builds the Debian package from an already built tree and checks what a store machine would
# receive: the files and their owners, lintian, the manual page, the desktop entries and the
# timers, the hardening and the sandbox. Then installs it with dpkg into a root of its own
# (dpkg --root, the maintainer scripts run against that root), over a stand-in of the 1.0.0.0
# package that kept the store's files in /opt/quorvane-client/, runs the installed program once
# as a store user, as the timer's service would, with its standard error announced as the
# journal, then removes and purges it.
#   test_package.sh BUILD_DIR PROGRAM_VERSION PACKAGE_VERSION SOURCE_DIR [fortified|unfortified]
# (unfortified: a Debug or sanitizer build, which cannot have _FORTIFY_SOURCE.)
set -uo pipefail

build="$(cd "$1" && pwd)"
version="$2"
package_version="$3"
source_dir="$(cd "$4" && pwd)"
fortified="${5:-fortified}"
tmp="$(mktemp -d)"
# The store user of the run below must reach the files under it.
chmod 755 "$tmp"
program_pid=""
cleanup() {
    if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
        kill "$program_pid"
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
section() { echo "== $*"; }

# --- The package ------------------------------------------------------------------------
section "package"
if ! (cd "$build" && cpack -G DEB -B "$tmp/out" --config "$build/CPackConfig.cmake" \
        >"$tmp/cpack.log" 2>&1); then
    cat "$tmp/cpack.log" >&2
    echo "FAIL: cpack did not make the package (is QuorvaneClient built?)" >&2
    exit 1
fi
shopt -s nullglob
debs=("$tmp"/out/*.deb)
shopt -u nullglob
if [ ${#debs[@]} -ne 1 ]; then
    echo "FAIL: expected one package, found ${#debs[@]}" >&2
    exit 1
fi
deb="${debs[0]}"
arch="$(dpkg --print-architecture)"
[ "$(basename "$deb")" = "quorvane-client_${package_version}_${arch}.deb" ] ||
    fail "package file named $(basename "$deb")"
[ "$(dpkg-deb -f "$deb" Package)" = "quorvane-client" ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$package_version" ] ||
    fail "package version $(dpkg-deb -f "$deb" Version), expected $package_version"
dpkg --compare-versions "$package_version" gt 1.0.0.0 ||
    fail "version $package_version does not upgrade 1.0.0.0"
maintainer="$(dpkg-deb -f "$deb" Maintainer)"
grep -Eq '^[^<>]+ <[^@<> ]+@[a-z0-9-]+(\.[a-z0-9-]+)*\.[a-z]{2,}>$' <<<"$maintainer" ||
    fail "maintainer '$maintainer' is not a name and a mail address"
grep -Eqi '@(localhost|example\.)' <<<"$maintainer" && fail "maintainer address $maintainer bounces"

# Depends, one package name per entry, version constraints dropped.
depends="$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/(.*)//; s/|.*//; s/[[:space:]]//g')"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libxml2 libsqlite3-0 libcurl4 adduser \
        fonts-liberation qt6-translations-l10n; do
    grep -qx "$needed" <<<"$depends" || fail "Depends lacks $needed"
done
grep -q -- '-dev$' <<<"$depends" && fail "Depends names a development package"
# What the package needs is what this machine (a store machine's stand-in) has.
while read -r needed; do
    [ -n "$needed" ] || continue
    dpkg-query -W -f='${Status}' "$needed" 2>/dev/null | grep -q "install ok installed" ||
        fail "dependency $needed is not installed here"
done <<<"$depends"
for dependency in fonts-liberation qt6-translations-l10n; do
    grep -qx "$dependency" "$source_dir/demo/install-packages.sh" ||
        grep -qw -- "$dependency" "$source_dir/demo/install-packages.sh" ||
        fail "demo/install-packages.sh does not install $dependency"
done

# --- The files --------------------------------------------------------------------------
section "files"
root="$tmp/extracted"
dpkg-deb -x "$deb" "$root"
actual="$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./|/|' | sort)"
expected="$(sort <<'EOF'
/usr/bin/QuorvaneClient
/usr/lib/systemd/system/quorvane-client@.service
/usr/lib/systemd/system/quorvane-client@.timer
/usr/lib/systemd/user/quorvane-client.service
/usr/lib/systemd/user/quorvane-client.timer
/usr/lib/tmpfiles.d/quorvane-client.conf
/usr/share/applications/quorvane-client-config.desktop
/usr/share/applications/quorvane-client-sync.desktop
/usr/share/doc/quorvane-client/README.md
/usr/share/doc/quorvane-client/changelog.Debian.gz
/usr/share/doc/quorvane-client/copyright
/usr/share/icons/hicolor/48x48/apps/quorvane.png
/usr/share/lintian/overrides/quorvane-client
/usr/share/man/fr/man1/QuorvaneClient.1.gz
/usr/share/man/man1/QuorvaneClient.1.gz
EOF
)"
if [ "$actual" != "$expected" ]; then
    fail "file list differs (< expected, > packaged):"
    diff <(echo "$expected") <(echo "$actual") >&2
fi
# Every entry of the archive belongs to root and only root may write it.
while read -r mode owner _; do
    [ "$owner" = "root/root" ] || fail "an entry belongs to $owner: $mode"
    [ "${mode:5:1}" = "w" ] || [ "${mode:8:1}" = "w" ] && fail "an entry is writable by others: $mode"
done < <(dpkg-deb -c "$deb")

exe="$root/usr/bin/QuorvaneClient"
[ "$(stat -c %a "$exe")" = "755" ] || fail "QuorvaneClient has mode $(stat -c %a "$exe")"
grep -qx "QuorvaneClient $version" <(strings -a "$exe") ||
    fail "the executable does not carry the version record \"QuorvaneClient $version\""
# A path into the build tree would load whatever happens to lie there on the store machine.
if readelf -d "$exe" | grep -E 'R(UN)?PATH' | grep -q "$build"; then
    fail "the executable searches libraries in the build tree"
fi
# The icon theme looks in 48x48/ for a picture of that size: PNG signature, then IHDR width
# and height.
/usr/bin/python3 - "$root/usr/share/icons/hicolor/48x48/apps/quorvane.png" <<'EOF_PY' ||
import struct, sys
head = open(sys.argv[1], "rb").read(24)
sys.exit(0 if head[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack(">II", head[16:24]) == (48, 48) else 1)
EOF_PY
    fail "the icon is not a 48x48 PNG"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$root/usr/share/doc/quorvane-client/copyright" || fail "the copyright file is not DEP-5"
zcat "$root/usr/share/doc/quorvane-client/changelog.Debian.gz" | head -1 |
    grep -qF "quorvane-client ($package_version)" || fail "the changelog does not start with $package_version"

# --- lintian ----------------------------------------------------------------------------
section "lintian"
if command -v lintian >/dev/null 2>&1; then
    # Nothing at all, down to the pedantic and informational tags and the experimental ones;
    # overrides carry their reason in the package. Without _FORTIFY_SOURCE lintian says so
    # (hardening-no-fortify-functions, informational): only errors and warnings fail then.
    lintian -I -E --pedantic "$deb" 2>&1 | grep -vx 'running with root privileges is not recommended!' \
        >"$tmp/lintian.log"
    status=${PIPESTATUS[0]}
    cat "$tmp/lintian.log"
    [ "$status" -eq 0 ] || fail "lintian failed"
    if [ "$fortified" = fortified ]; then
        [ -s "$tmp/lintian.log" ] && fail "lintian has something to say"
    else
        grep -v ' hardening-no-fortify-functions ' "$tmp/lintian.log" | grep -q '^[EW]: ' &&
            fail "lintian reports errors or warnings"
    fi
else
    fail "lintian is not installed (tests/install-test-packages.sh installs it)"
fi

# --- Manual page ------------------------------------------------------------------------
section "manual page"
manual="$(MANWIDTH=100 MANPAGER=cat man -l "$root/usr/share/man/man1/QuorvaneClient.1.gz" 2>"$tmp/man.err")" ||
    fail "man -l cannot show the manual page"
[ -s "$tmp/man.err" ] && { fail "man reports:"; cat "$tmp/man.err" >&2; }
for heading in NAME SYNOPSIS DESCRIPTION JOURNAL FILES SETTINGS "STATUS FILE" "EXIT STATUS" TIMERS; do
    grep -qx "$heading" <<<"$manual" || fail "the manual page has no $heading section"
done
for mention in "QuorvaneClient CONFIG" /var/lib/quorvane-client/QuorvaneClient.ini \
        QuorvaneClientStatus.json QuorvaneClientAutoLog.html Remise_Achat TypeEnvoi Quorvane_FTP \
        "Always 0" quorvane-client@USER.timer; do
    # Justified lines get their extra spaces wherever groff puts them.
    grep -qF -- "$mention" <<<"$(tr -s ' ' <<<"$manual")" ||
        fail "the manual page does not mention $mention"
done

# Both pages describe every command line the program's own usage names: run it.
usage="$("$build/QuorvaneClient" --help 2>/dev/null)" || fail "QuorvaneClient --help failed"
commands="$(sed -n 's/^  \(QuorvaneClient\( [^ ]\+\)\?\) .*/\1/p' <<<"$usage")"
[ "$(wc -l <<<"$commands")" -ge 4 ] || fail "the usage names no command lines: $usage"
french="$(MANWIDTH=100 MANPAGER=cat man -l "$root/usr/share/man/fr/man1/QuorvaneClient.1.gz" 2>"$tmp/man.err")" ||
    fail "man -l cannot show the French manual page"
[ -s "$tmp/man.err" ] && { fail "man reports on the French page:"; cat "$tmp/man.err" >&2; }
for heading in NOM SYNOPSIS DESCRIPTION JOURNAL FICHIERS PARAMÈTRES "FICHIER D'ÉTAT" "CODE DE RETOUR" \
        MINUTERIES; do
    grep -qx "$heading" <<<"$french" || fail "the French manual page has no $heading section"
done
for page in manual french; do
    synopsis="$(sed -n '/^SYNOPSIS$/,/^[A-Z]/p' <<<"${!page}" | sed 's/^ *//')"
    while read -r command; do
        grep -qxF -- "$command" <<<"$synopsis" || fail "the $page page's synopsis lacks $command"
    done <<<"$commands"
done
grep -qF 'Any other command line starts a synchronization run: two arguments, -config, /CONFIG' \
    <<<"$(tr -s ' \n' ' ' <<<"$manual")" || fail "the manual page does not say what other command lines do"
grep -qF 'Toute autre ligne de commande lance une synchronisation : deux arguments, -config, /CONFIG' \
    <<<"$(tr -s ' \n' ' ' <<<"$french")" || fail "the French page does not say what other command lines do"
grep -qF -- '`QuorvaneClient --help`' "$source_dir/README.md" && grep -qF -- '`QuorvaneClient --version`' \
    "$source_dir/README.md" || fail "the README does not describe --help and --version"

# --- Hardening --------------------------------------------------------------------------
section "hardening"
if command -v hardening-check >/dev/null 2>&1; then
    hardening-check "$exe" >"$tmp/hardening.log" 2>&1
    cat "$tmp/hardening.log"
    for protection in 'Position Independent Executable' 'Stack protected' 'Fortify Source functions' \
            'Read-only relocations' 'Immediate binding'; do
        [ "$protection" = 'Fortify Source functions' ] && [ "$fortified" != fortified ] && continue
        grep -q "^ $protection: yes" "$tmp/hardening.log" || fail "hardening-check: $protection is not yes"
    done
    # Nothing else this hardening-check knows of may be missing, but for control-flow
    # protection where the C library's start files lack its marks (Debian 12's do): the linker
    # then drops them from every program of the system, which hardening-check of one of those
    # shows.
    while read -r missing; do
        [[ "$missing" == *'Fortify Source functions'* ]] && [ "$fortified" != fortified ] && continue
        if [[ "$missing" == *'Control flow integrity'* ]] &&
            grep -q '^ Control flow integrity: no' <<<"$(hardening-check /bin/ls)"; then
            echo "control-flow protection: not on this system's programs either (/bin/ls)"
            continue
        fi
        fail "hardening-check:$missing"
    done < <(grep ': no' "$tmp/hardening.log")
else
    fail "hardening-check is not installed (tests/install-test-packages.sh installs devscripts)"
fi

# --- Desktop entries --------------------------------------------------------------------
section "desktop entries"
apps="$root/usr/share/applications"
for entry in "$apps"/*.desktop; do
    desktop-file-validate "$entry" || fail "$(basename "$entry") does not validate"
    grep -qx 'Icon=quorvane' "$entry" || fail "$(basename "$entry") lacks the icon"
    grep -qx 'Terminal=false' "$entry" || fail "$(basename "$entry") opens a terminal"
done
grep -qx 'Exec=/usr/bin/QuorvaneClient CONFIG' "$apps/quorvane-client-config.desktop" ||
    fail "the configuration launcher does not open the configuration window"
grep -qx 'Exec=/usr/bin/QuorvaneClient' "$apps/quorvane-client-sync.desktop" ||
    fail "the synchronization launcher does not start a bare run"
grep -qx 'Name=Paramétrage de la Quorvane client' "$apps/quorvane-client-config.desktop" ||
    fail "configuration launcher name"
grep -qx 'Name=Quorvane - Synchronisation Client' "$apps/quorvane-client-sync.desktop" ||
    fail "synchronization launcher name"

# --- Scheduled runs ---------------------------------------------------------------------
section "systemd units"
for unit in "$root"/usr/lib/systemd/system/*.service "$root"/usr/lib/systemd/user/*.service; do
    command="$(sed -n 's/^ExecStart=//p' "$unit")"
    # Without a window or countdown, and told by its exit code: a run with entries fails the
    # unit, one refused because another run holds the lock (2) does not.
    [ "$command" = "/usr/bin/QuorvaneClient --unattended" ] ||
        fail "$(basename "$unit") starts '$command'"
    [ -x "$root${command%% *}" ] || fail "$(basename "$unit") starts a program the package lacks"
    [ "$(sed -n 's/^SuccessExitStatus=//p' "$unit")" = 2 ] ||
        fail "$(basename "$unit") counts a refused start as a failure, or a failed run as a success"
    grep -qx 'Type=oneshot' "$unit" || fail "$(basename "$unit") is not a one-shot run"
    grep -qx 'WorkingDirectory=/var/lib/quorvane-client' "$unit" ||
        fail "$(basename "$unit") does not run in the program folder"
done
system_service="$root/usr/lib/systemd/system/quorvane-client@.service"
grep -qx 'User=%i' "$system_service" || fail "the machine-wide run is not run as the store user"
grep -q '^User=root' "$system_service" && fail "the machine-wide run is run as root"
# The sandbox writes the program folder, the usual places of tables and node_exporter's textfile
# folder when it exists, and nothing else.
[ "$(sed -n 's/^ReadWritePaths=//p' "$system_service")" = \
    "/var/lib/quorvane-client -/home -/srv -/var/lib/prometheus/node-exporter" ] ||
    fail "the machine-wide run writes: $(sed -n 's/^ReadWritePaths=//p' "$system_service")"
grep -qx 'ProtectSystem=strict' "$system_service" || fail "the machine-wide run may write the system"
for timer in "$root"/usr/lib/systemd/system/*.timer "$root"/usr/lib/systemd/user/*.timer; do
    grep -q '^OnCalendar=' "$timer" || fail "$(basename "$timer") has no calendar"
    grep -qx 'WantedBy=timers.target' "$timer" || fail "$(basename "$timer") cannot be enabled"
done
# The root instance is refused before the program starts: the service's own check, run as
# root and as a store user.
refusal="$(sed -n 's/^ExecStartPre=//p' "$system_service")"
[ -n "$refusal" ] || fail "the machine-wide service does not check its user before the run"
refusal_command="$(sed -e 's/\$\$/$/g' -e 's/%i/root/g' <<<"${refusal#/bin/sh -c }")"
refusal_command="${refusal_command#\'}"
refusal_command="${refusal_command%\'}"
if /bin/sh -c "$refusal_command" 2>"$tmp/refusal.err"; then
    fail "the machine-wide service would start the program as root"
fi
grep -q '^<3>quorvane-client@root : .*root' "$tmp/refusal.err" ||
    fail "the refusal of root says: $(cat "$tmp/refusal.err")"
setpriv --reuid=65534 --regid=65534 --clear-groups /bin/sh -c "$refusal_command" 2>/dev/null ||
    fail "the machine-wide service refuses a store user"

# Installed, never enabled: the package ships no enablement links.
[ -z "$(find "$root" -name '*.wants' -o -name '*.requires')" ] || fail "the package enables units"

if command -v systemd-analyze >/dev/null 2>&1; then
    # Machine-wide units against the extracted tree, with this machine's own targets beside them.
    verify_root="$tmp/verify-root"
    cp -a "$root" "$verify_root"
    cp -rn /usr/lib/systemd/system/. "$verify_root/usr/lib/systemd/system/" 2>/dev/null
    # The shell of the service's check of its user, which every Debian machine has.
    mkdir -p "$verify_root/bin"
    cp -L /bin/sh "$verify_root/bin/sh"
    # The units name their manual page, which man looks for: that of the package.
    if output="$(MANPATH="$verify_root/usr/share/man" systemd-analyze verify --root="$verify_root" \
            /usr/lib/systemd/system/quorvane-client@.service \
            /usr/lib/systemd/system/quorvane-client@.timer 2>&1)" && [ -z "$output" ]; then
        echo "system units verified"
    elif grep -q -e 'Failed to initialize' -e 'Unknown option' <<<"$output"; then
        echo "SKIP: systemd-analyze cannot verify here: $output"
    else
        fail "system units: $output"
    fi
    # The machine-wide run's sandbox, as systemd rates it (0 best, 10 worst).
    exposure_log="$(cd "$root/usr/lib/systemd/system" &&
        systemd-analyze security --offline=true --no-pager quorvane-client@magasin.service 2>&1)"
    exposure="$(sed -n 's/^→ Overall exposure level for quorvane-client@magasin.service: \([0-9.]*\) .*/\1/p' \
        <<<"$exposure_log")"
    if [ -n "$exposure" ]; then
        echo "exposure of quorvane-client@magasin.service: $exposure"
        awk -v e="$exposure" 'BEGIN { exit !(e <= 2.5) }' ||
            { fail "the machine-wide service's exposure is $exposure"; grep '✗' <<<"$exposure_log" >&2; }
    elif grep -q -e 'Failed to initialize' -e 'Unknown option' -e 'unrecognized option' <<<"$exposure_log"; then
        echo "SKIP: systemd-analyze cannot rate the sandbox here: $exposure_log"
    else
        fail "systemd-analyze security: $exposure_log"
    fi
    # User units cannot be verified against another root; the one complaint expected is the
    # program missing from this machine's /usr/bin, and its path was checked above.
    mkdir -m 700 "$tmp/runtime"
    output="$(MANPATH="$root/usr/share/man" XDG_RUNTIME_DIR="$tmp/runtime" systemd-analyze --user verify \
        "$root/usr/lib/systemd/user/quorvane-client.service" \
        "$root/usr/lib/systemd/user/quorvane-client.timer" 2>&1 |
        grep -v 'Command /usr/bin/QuorvaneClient is not executable')"
    if [ -z "$output" ]; then
        echo "user units verified"
    elif grep -q -e 'Failed to initialize' -e 'Failed to lookup' <<<"$output"; then
        echo "SKIP: no user manager to verify with: $output"
    else
        fail "user units: $output"
    fi
else
    echo "SKIP: systemd-analyze not available"
fi

# --- Upgrade from the 1.0.0.0 layout, in a root of its own --------------------------------
section "upgrade from 1.0.0.0"
sysroot="$tmp/sysroot"
mkdir -p "$sysroot/var/lib/dpkg/info" "$sysroot/var/lib/dpkg/updates" "$sysroot/etc"
touch "$sysroot/var/lib/dpkg/status" "$sysroot/var/lib/dpkg/available"
printf 'root:x:0:\n' >"$sysroot/etc/group"
printf 'root:*::\n' >"$sysroot/etc/gshadow"
printf 'root:x:0:0:root:/root:/bin/sh\n' >"$sysroot/etc/passwd"
# The maintainer scripts run on this machine against that root (DPKG_ROOT); the package's
# libraries are this machine's, so its dependencies are not looked for in that root.
in_sysroot() {
    dpkg --root="$sysroot" --force-script-chrootless --force-depends "$@" >>"$tmp/dpkg.log" 2>&1
}
# The 1.0.0.0 package as it was: the program and its store files in /opt/quorvane-client/,
# the folder made by postinst.
old="$tmp/old-package"
mkdir -p "$old/DEBIAN" "$old/opt/quorvane-client"
cp "$build/QuorvaneClient" "$old/opt/quorvane-client/QuorvaneClient"
cat >"$old/DEBIAN/control" <<EOF
Package: quorvane-client
Version: 1.0.0.0
Architecture: $arch
Maintainer: $maintainer
Description: Store-side synchronization client of the Quorvane network
 Stand-in of the 1.0.0.0 package, laid out as it was.
EOF
printf '#!/bin/sh\nset -e\n[ "$1" = configure ] && mkdir -p "${DPKG_ROOT:-}/opt/quorvane-client/Auto"\nexit 0\n' \
    >"$old/DEBIAN/postinst"
chmod 755 "$old/DEBIAN/postinst"
dpkg-deb --root-owner-group --build "$old" "$tmp/old.deb" >/dev/null
in_sysroot -i "$tmp/old.deb" || fail "the 1.0.0.0 stand-in does not install"

store_uid=65534
opt="$sysroot/opt/quorvane-client"
# A store in folder mode whose one category cannot be fetched: the run below reports it.
printf '[Quorvane]\r\nRemise_Achat=1\r\nTypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=/nonexistent-source\r\n' \
    >"$opt/QuorvaneClient.ini"
chown "$store_uid" "$opt/QuorvaneClient.ini"
chmod 600 "$opt/QuorvaneClient.ini"
echo '<Quorvane/>' >"$opt/Auto/message.xml"
echo '<div class="messages">' >"$opt/QuorvaneClientAutoLog.html"
settings_before="$(cat "$opt/QuorvaneClient.ini")"

in_sysroot -i "$deb" || { fail "the package does not install over 1.0.0.0"; cat "$tmp/dpkg.log" >&2; }
grep -q "^Version: $package_version$" "$sysroot/var/lib/dpkg/status" ||
    fail "dpkg does not record $package_version as installed"
data="$sysroot/var/lib/quorvane-client"
[ "$(cat "$data/QuorvaneClient.ini" 2>/dev/null)" = "$settings_before" ] ||
    fail "the settings did not reach /var/lib/quorvane-client"
[ "$(stat -c '%u %a' "$data/QuorvaneClient.ini" 2>/dev/null)" = "$store_uid 600" ] ||
    fail "the moved settings lost their owner or mode"
[ "$(cat "$data/Auto/message.xml" 2>/dev/null)" = '<Quorvane/>' ] ||
    fail "the fetched files did not reach /var/lib/quorvane-client/Auto"
[ -f "$data/QuorvaneClientAutoLog.html" ] || fail "the last report did not reach /var/lib/quorvane-client"
[ -e "$opt" ] && fail "/opt/quorvane-client is still there: $(ls -A "$opt")"
gid="$(grep '^quorvane:' "$sysroot/etc/group" | cut -d: -f3)"
[ -n "$gid" ] || fail "postinst did not create the group quorvane"
# The group's folders, closed to every other account; the run lock in a folder only root may
# write.
check_layout() {
    for folder in "$data" "$data/Auto"; do
        [ "$(stat -c '%F %u %g %a' "$folder")" = "directory 0 $gid 2770" ] ||
            fail "${folder#"$sysroot"} is $(stat -c '%F %u %g %a' "$folder"), expected root, quorvane, 2770"
    done
    [ "$(stat -c '%F %u %g %a' "$sysroot/run/quorvane-client")" = "directory 0 $gid 750" ] ||
        fail "the run lock's folder is $(stat -c '%F %u %g %a' "$sysroot/run/quorvane-client" 2>&1)"
    [ "$(stat -c '%F %u %g %a' "$sysroot/run/quorvane-client/QuorvaneClient.lock")" = "regular empty file 0 $gid 660" ] ||
        fail "the run lock is $(stat -c '%F %u %g %a' "$sysroot/run/quorvane-client/QuorvaneClient.lock" 2>&1)"
}
check_layout
grep -qx 'd /run/quorvane-client 0750 root quorvane -' "$sysroot/usr/lib/tmpfiles.d/quorvane-client.conf" ||
    fail "no tmpfiles.d line for the run lock's folder"

# An upgrade from the layout of 1.0.0.0-2 (program folder and Auto/ 2775, no lock folder), with
# Auto/ swapped by a member for a link to a folder of theirs: postinst puts a folder back,
# changes nothing through the link and closes the folders to other accounts.
section "upgrade from the 2775 layout"
chmod 2775 "$data" "$data/Auto"
rm -rf "$sysroot/run/quorvane-client"
mkdir "$tmp/member-folder"
chmod 700 "$tmp/member-folder"
mv "$data/Auto" "$data/Auto.vrai"
ln -s "$tmp/member-folder" "$data/Auto"
in_sysroot -i "$deb" || fail "the package does not install over itself"
check_layout
[ "$(stat -c '%a' "$tmp/member-folder")" = 700 ] || fail "postinst changed a folder through a link"
rm -rf "$data/Auto.vrai" "$tmp/member-folder"
installed_exe="$sysroot/usr/bin/QuorvaneClient"
[ "$(stat -c '%u %g %a' "$installed_exe")" = "0 0 755" ] ||
    fail "the installed program is $(stat -c '%u %g %a' "$installed_exe")"

# A store user, member of quorvane, may write the program folder but not the program.
as_store_user() {
    setpriv --reuid="$store_uid" --regid="$store_uid" --groups="$gid" --inh-caps=-all "$@"
}
as_store_user sh -c "echo x >> '$installed_exe'" 2>/dev/null && fail "a store user can change the program"
as_store_user sh -c "touch '$sysroot/usr/bin/QuorvaneClient.new'" 2>/dev/null &&
    fail "a store user can write beside the program"
as_store_user sh -c "touch '$data/Auto/written-by-store-user' && rm '$data/Auto/written-by-store-user'" ||
    fail "a store user cannot write the program folder"

# --- One run of the installed program, as the timer's service runs it ---------------------
section "installed run"
# The program's folder is built into it: in a mount namespace of its own, this root's /var/lib
# stands for the machine's, and nothing of the machine's is touched.
if unshare -m true 2>/dev/null; then
    mkdir -p "$tmp/bin" "$tmp/home"
    chmod 777 "$tmp/home"
    # Records what the program asks the desktop to open instead of starting a browser; the
    # record is replaced by a rename so that the poll below never reads it half-written.
    printf '#!/bin/sh\nf="%s/opened.txt"\n{ cat "$f" 2>/dev/null; echo "$@"; } > "$f.$$" && mv "$f.$$" "$f"\n' \
        "$tmp/home" >"$tmp/bin/xdg-open"
    chmod 755 "$tmp/bin/xdg-open"
    : >"$tmp/home/journal.txt"
    chmod 666 "$tmp/home/journal.txt"
    # systemd hands the service a stream to the journal and names it in JOURNAL_STREAM.
    journal_stream="$(stat -c '%d:%i' "$tmp/home/journal.txt")"
    # A sanitizer build keeps its options; its suppressions are copied where the store user
    # can read them.
    sanitizer_env=()
    for name in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
        value="${!name:-}"
        if [ "$name" = LSAN_OPTIONS ] && [[ "$value" =~ suppressions=([^:]*) ]]; then
            cp "${BASH_REMATCH[1]}" "$tmp/home/lsan.supp"
            value="${value/${BASH_REMATCH[1]}/$tmp/home/lsan.supp}"
        fi
        [ -n "$value" ] && sanitizer_env+=("$name=$value")
    done
    start=$(date +%s)
    # A run that does not end by itself is a failure, not a hang of the suite.
    (exec unshare -m sh -c '
        mount --bind "$1/var/lib" /var/lib || exit 99
        mount --bind "$1/run" /run || exit 97
        # As the machine-wide service sees it (ProtectSystem=strict): the lock read-only.
        mount -o remount,bind,ro /run || exit 96
        cd /var/lib/quorvane-client || exit 98
        umask 0002
        shift
        exec "$@"' sh "$sysroot" \
        setpriv --reuid="$store_uid" --regid="$store_uid" --groups="$gid" --inh-caps=-all \
        timeout 120 env -i PATH="$tmp/bin:/usr/bin:/bin" HOME="$tmp/home" \
        JOURNAL_STREAM="$journal_stream" "${sanitizer_env[@]}" "$installed_exe" --unattended \
        >"$tmp/run.out" 2>>"$tmp/home/journal.txt") &
    program_pid=$!
    wait "$program_pid"
    status=$?
    program_pid=""
    seconds=$(($(date +%s) - start))
    echo "the run ended after ${seconds} s with exit code $status"
    # The copy fails: entries, so the exit code that fails the unit, and no countdown waited.
    [ "$status" -eq 1 ] || { fail "exit code $status"; cat "$tmp/run.out" "$tmp/home/journal.txt" >&2; }
    [ "$seconds" -lt 30 ] || fail "the run lasted ${seconds} s"

    journal="$(cat "$tmp/home/journal.txt")"
    echo "$journal"
    grep -qx "<6>Début de la synchronisation : QuorvaneClient $version, mode URI, catégories : Conditions d'achats" \
        <<<"$journal" || fail "no start line with its priority"
    grep -q '^<3>Erreur (code 0) : \[Fonction _CopyFile()\] ' <<<"$journal" ||
        fail "the failed copy is not an error line of the journal"
    grep -qx "<5>Fin de la synchronisation : Conditions d'achats téléchargement non, intégration non ; [0-9]* erreurs\?, rapport /var/lib/quorvane-client/QuorvaneClientAutoLog.html" \
        <<<"$journal" || fail "no closing line with its priority"
    # Every line of the program's own, and Qt's warnings too, carries a priority.
    unprefixed="$(grep -v '^<[0-7]>' <<<"$journal")"
    [ -z "$unprefixed" ] || fail "journal lines without a priority: $unprefixed"

    report="$data/QuorvaneClientAutoLog.html"
    grep -q 'Il y a eu [0-9]* erreurs' "$report" 2>/dev/null || fail "no report in /var/lib/quorvane-client"
    status_file="$data/QuorvaneClientStatus.json"
    if jq -e --arg v "$version" '
            .version == $v and .mode == "URI" and .entryCount == (.entries | length)
            and .entryCount > 0
            and (.categories.Remise_Achat | del(.files)) == {"enabled": true, "downloaded": false, "integrated": false}
            and .categories.Remise_Achat.files[0].read == false
            and .report == "/var/lib/quorvane-client/QuorvaneClientAutoLog.html"' \
            "$status_file" >/dev/null; then
        echo "status file:"
        cat "$status_file"
    else
        fail "the status file in /var/lib/quorvane-client is missing or wrong: $(cat "$status_file" 2>&1)"
    fi
    # The README's one-liner names the failed categories.
    one_liner="$(sed -n 's/^    \(jq .*QuorvaneClientStatus.json\)$/\1/p' "$source_dir/README.md" | head -1)"
    [ -n "$one_liner" ] || fail "the README has no jq one-liner over the status file"
    failed="$(cd "$data" && sh -c "${one_liner//\/var\/lib\/quorvane-client\//}")"
    [ "$failed" = "Remise_Achat" ] || fail "the README's one-liner gives '$failed'"
    [ "$(stat -c %u "$status_file")" = "$store_uid" ] || fail "the status file was not written by the store user"
    # Without a display nobody could see the report: the run names it in the journal instead of
    # handing it to the desktop (a hand-off is started before the run ends, so it would be there).
    [ ! -e "$tmp/home/opened.txt" ] || fail "a run without a display handed the report to the desktop"
else
    echo "SKIP: no mount namespace here; the installed program's run is not checked"
fi

# --- Removal keeps the store's files ------------------------------------------------------
section "removal and purge"
# Timers enabled machine-wide and for every user, with a persistent timer's stamp; a link of
# another package's beside them, and a link planted in the folder to a file outside it.
system_wants="$sysroot/etc/systemd/system/timers.target.wants"
user_wants="$sysroot/etc/systemd/user/timers.target.wants"
mkdir -p "$system_wants" "$user_wants" "$sysroot/var/lib/systemd/timers"
ln -s /usr/lib/systemd/system/quorvane-client@.timer "$system_wants/quorvane-client@magasin.timer"
ln -s /usr/lib/systemd/system/other.timer "$system_wants/other.timer"
ln -s /usr/lib/systemd/user/quorvane-client.timer "$user_wants/quorvane-client.timer"
touch "$sysroot/var/lib/systemd/timers/stamp-quorvane-client@magasin.timer"
echo outside >"$tmp/outside.txt"
ln -s "$tmp/outside.txt" "$data/Auto/planted"
ln -s "$tmp" "$data/planted-folder"
before="$(cd "$data" && find . | sort && cat QuorvaneClient.ini)"
in_sysroot -r quorvane-client || fail "dpkg -r failed"
[ -e "$installed_exe" ] && fail "removal left the program"
after="$(cd "$data" && find . | sort && cat QuorvaneClient.ini)"
[ "$before" = "$after" ] || fail "removal touched the store's files"
[ -L "$system_wants/quorvane-client@magasin.timer" ] || fail "removal disabled the timer"
in_sysroot -P quorvane-client || fail "dpkg -P failed"
[ -e "$data" ] && fail "purge left /var/lib/quorvane-client: $(ls -A "$data")"
left="$(cd "$sysroot" && find . -path ./var/lib/dpkg -prune -o -name '*quorvane*' -print)"
[ -z "$left" ] || fail "purge left $left"
[ -L "$system_wants/other.timer" ] || fail "purge removed another package's link"
[ "$(cat "$tmp/outside.txt" 2>/dev/null)" = outside ] || fail "purge followed a link out of the folder"
[ -f "$tmp/cpack.log" ] || fail "purge followed a folder link out of the folder"
grep -q '^quorvane:' "$sysroot/etc/group" || fail "purge removed the group"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all package checks passed"
