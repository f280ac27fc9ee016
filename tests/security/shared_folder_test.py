"""The program folder as the package lays it out (root:<group> 2770, Auto/ alike), used by two
members of the group, an account outside it and root, each a real account made for the test.

- root: the installed build refuses every mode and writes nothing; --help still answers.
- a member plants links, a pipe and hard links at every name the program uses; the other
  member's runs write, truncate and read nothing outside the folder.
- the outsider locks everything it can open in the folder: a run still synchronizes; a member
  holding the run lock does keep the other's run out.

Needs root (to make the accounts); skipped otherwise.
"""

import argparse
import json
import os
import shutil
import stat
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "reliability"))
import relsupport as rs  # noqa: E402
from accounts import accounts, as_user, tree, verdict  # noqa: E402

SKIP = 77
REFUSAL = "ne s'exécute pas en tant que root"
BUSY = "Une synchronisation est déjà en cours."
TAG = "qv%d" % (os.getpid() % 100000)
GROUP, MEMBER_A, MEMBER_B, OUTSIDER = TAG + "g", TAG + "a", TAG + "b", TAG + "x"




def lay_out_like_the_package(folder):
    """What postinst does to /var/lib/quorvane-client, and what a store gives its users."""
    for path in (folder.root, folder.root / "Auto"):
        os.chown(path, 0, grp_id())
        os.chmod(path, 0o2770)
    for path in (folder.store, folder.source):
        for sub, dirs, files in os.walk(path):
            for name in [sub] + [os.path.join(sub, f) for f in files]:
                os.chown(name, 0, grp_id())
                os.chmod(name, 0o2770 if os.path.isdir(name) else 0o660)


def grp_id():
    import grp
    return grp.getgrnam(GROUP).gr_gid



def run(folder, user, keep_status=False, limit=120):
    """A run as `user` until its status file (its last write before the countdown), or until it
    ends by itself. Returns its output."""
    status = folder.root / "QuorvaneClientStatus.json"
    if not keep_status and (status.exists() or status.is_symlink()):
        status.unlink()
    out = folder.root / "out.txt"
    out.write_bytes(b"")
    proc = folder.start(wrapper=as_user(user))
    try:
        end = time.monotonic() + limit
        while time.monotonic() < end and proc.poll() is None and not (
                status.exists() and status.stat().st_uid == pwd_id(user)):
            time.sleep(0.05)
    finally:
        rs.kill(proc)
    return out.read_bytes().decode("utf-8", "replace")


def pwd_id(user):
    import pwd
    return pwd.getpwnam(user).pw_uid


def report_of(folder):
    return folder.report_text() if folder.report.is_file() else ""


def status_of(folder):
    return json.loads((folder.root / "QuorvaneClientStatus.json").read_text())


def check_root(installed, program_folder, failures):
    shutil.rmtree(program_folder, ignore_errors=True)
    (program_folder / "Auto").mkdir(parents=True)
    for path in (program_folder, program_folder / "Auto"):
        os.chown(path, 0, grp_id())
        os.chmod(path, 0o2770)
    before = tree(program_folder)
    for arguments in ([], ["CONFIG"], ["config"], ["x", "y"]):
        done = subprocess.run([installed] + arguments, capture_output=True, text=True,
                              timeout=60, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        lines = done.stderr.strip().splitlines()
        if done.returncode == 0 or len(lines) != 1 or REFUSAL not in lines[0] \
                or "quorvane-client@" not in lines[0] or done.stdout:
            failures.append("root %s: code %d, %r" % (arguments, done.returncode, done.stderr))
    if tree(program_folder) != before:
        failures.append("a root run wrote in the program folder: %s" % tree(program_folder))
    done = subprocess.run([installed, "--help"], capture_output=True, text=True, timeout=60)
    if done.returncode != 0 or "CONFIG" not in done.stdout:
        failures.append("--help as root: code %d" % done.returncode)
    shutil.rmtree(program_folder, ignore_errors=True)


def check_planted(folder, victim, own, failures):
    root, auto = folder.root, folder.root / "Auto"
    plant = lambda script: subprocess.run(as_user(MEMBER_A) + ["sh", "-c", script], check=True)
    outside = lambda: (tree(victim), tree(own))
    before = outside()

    # Auto/ swapped for a link to the other member's private folder: the gate stops the run,
    # and the leftover clean-up does not reach through it either.
    plant("mv '%s' '%s.vrai' && ln -s '%s' '%s'" % (auto, auto, victim, auto))
    output = run(folder, MEMBER_B)
    entry = "Erreur le repertoire %s/Auto/ est introuvable ou est inaccessible." % root
    if entry not in report_of(folder):
        failures.append("Auto/ as a link: no gate entry; output:\n" + output)
    plant("rm '%s' && mv '%s.vrai' '%s'" % (auto, auto, auto))

    # The settings file as a link to the other member's own settings: not read.
    settings = root / "QuorvaneClient.ini"
    plant("mv '%s' '%s.vrai' && ln -s '%s/QuorvaneClient.ini' '%s'"
          % (settings, settings, victim, settings))
    output = run(folder, MEMBER_B)
    entry = "Erreur le fichier %s est introuvable ou est inaccessible." % settings
    if entry not in report_of(folder):
        failures.append("settings as a link: read through it; output:\n" + output)
    plant("rm '%s' && mv '%s.vrai' '%s'" % (settings, settings, settings))

    # Every name the program writes: links into the private folder, a pipe, hard links of the
    # planter's own files. The run must replace them, and still synchronize.
    plant("rm -f '{r}/QuorvaneClientAutoLog.html' '{r}/QuorvaneClientStatus.json' "
          "'{r}/QuorvaneClient.lock' && ln -s '{v}/rapport' '{r}/QuorvaneClientAutoLog.html' && "
          "ln '{o}/statut' '{r}/QuorvaneClientStatus.json' && "
          "ln -s '{v}/verrou' '{r}/QuorvaneClient.lock' && "
          "ln -s '{v}/remise' '{a}/remise_achat.xml' && mkfifo '{a}/message.xml' && "
          "ln '{o}/perso' '{a}/personnalisation.xml' && "
          "ln -s '{v}/.remise_achat.xml.partiel-Ab12Cd' '{a}/.mes_docs.xml.partiel-Ab12Cd'"
          .format(v=victim, o=own, r=root, a=auto))
    output = run(folder, MEMBER_B, keep_status=True)
    if outside() != before:
        failures.append("written outside the folder: %s / %s" % (outside(), before))
    summary = status_of(folder)
    for key, category in summary["categories"].items():
        if category["downloaded"] is not True:
            failures.append("the run after the planted names did not synchronize %s: %s"
                            % (key, output))
    for name in ("QuorvaneClientAutoLog.html", "QuorvaneClientStatus.json", "QuorvaneClient.lock",
                 "Auto/remise_achat.xml", "Auto/message.xml", "Auto/personnalisation.xml"):
        info = os.lstat(root / name)
        if not stat.S_ISREG(info.st_mode) or info.st_nlink != 1 \
                or info.st_uid != pwd_id(MEMBER_B):
            failures.append("%s is not the run's own file" % name)
    lock = os.lstat(root / "QuorvaneClient.lock")
    if stat.S_IMODE(lock.st_mode) != 0o660 or lock.st_gid != grp_id():
        failures.append("lock file mode %o group %d" % (lock.st_mode, lock.st_gid))


OUTSIDER_LOCKS = r"""
import fcntl, os, sys
held = []
for sub, dirs, files in os.walk(sys.argv[1]):
    for name in [sub] + [os.path.join(sub, f) for f in files]:
        try:
            fd = os.open(name, os.O_RDONLY | os.O_NONBLOCK)
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            held.append(name)
        except OSError:
            pass
lock = os.path.join(sys.argv[1], "QuorvaneClient.lock")
if lock in held:
    sys.exit("the outsider holds the run lock")
print("pret", flush=True)
sys.stdin.read()
"""

MEMBER_LOCK = r"""
import fcntl, os, sys
fd = os.open(os.path.join(sys.argv[1], "QuorvaneClient.lock"), os.O_RDWR)
fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
print("pret", flush=True)
sys.stdin.read()
"""


def check_locks(folder, failures):
    for user, script, synchronizes in ((OUTSIDER, OUTSIDER_LOCKS, True),
                                       (MEMBER_A, MEMBER_LOCK, False)):
        holder = subprocess.Popen(as_user(user) + [sys.executable, "-c", script,
                                                   str(folder.root)],
                                  stdout=subprocess.PIPE, stdin=subprocess.PIPE, text=True)
        try:
            if holder.stdout.readline().strip() != "pret":
                failures.append("%s could not hold its locks" % user)
                continue
            output = run(folder, MEMBER_B)
            ran = (folder.root / "QuorvaneClientStatus.json").exists()
            if synchronizes and (not ran or BUSY in output):
                failures.append("a run was kept out by an outsider:\n" + output)
            if not synchronizes and (ran or BUSY not in output):
                failures.append("a member's held lock did not keep the run out:\n" + output)
        finally:
            holder.kill()
            holder.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--installed", required=True)
    parser.add_argument("--installed-folder", required=True)
    args = parser.parse_args()
    if os.geteuid() != 0 or shutil.which("setpriv") is None:
        print("skipped: needs root and setpriv to make and become the test's accounts")
        return SKIP
    failures = []
    folder = None
    with accounts(GROUP, (MEMBER_A, MEMBER_B), (OUTSIDER,)):
        try:
            check_root(args.installed, Path(args.installed_folder), failures)

            folder = rs.ProgramFolder(args.binary)
            rs.write_headoffice(folder, 50, 3)
            os.chmod(folder.root, 0o755)
            lay_out_like_the_package(folder)
            # The other member's private folder, and the planter's own files, outside the folder.
            victim, own = folder.root.parent / (TAG + "-prive"), folder.root.parent / (TAG + "-a")
            for path, user in ((victim, MEMBER_B), (own, MEMBER_A)):
                path.mkdir()
                os.chown(path, pwd_id(user), -1)
            os.chmod(victim, 0o700)
            for name in ("rapport", "remise", ".remise_achat.xml.partiel-Ab12Cd", "QuorvaneClient.ini"):
                (victim / name).write_bytes(b"intact")
                os.chown(victim / name, pwd_id(MEMBER_B), -1)
            for name in ("statut", "perso"):
                (own / name).write_bytes(b"intact")
                os.chown(own / name, pwd_id(MEMBER_A), -1)
            try:
                check_planted(folder, victim, own, failures)
                check_locks(folder, failures)
            finally:
                shutil.rmtree(victim, ignore_errors=True)
                shutil.rmtree(own, ignore_errors=True)
        finally:
            if folder is not None:
                folder.close()
    return verdict(failures)


if __name__ == "__main__":
    sys.exit(main())
