"""Every path the shared settings name, tried as two members of the store's group (A runs, B
attacks) and an account outside it would, with the package's layout: the installed build, its
program folder root:<group> 2770, its run lock in a folder only root may write.

Each attack is checked against A's window run, and most against A's dry run too: nothing of A's
is read, nothing is written or created outside the program folder and the store, no run blocks,
and the next run works. Needs root (to make the accounts); skipped otherwise.
"""

import argparse
import grp
import json
import os
import pwd
import shutil
import stat
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "reliability"))
import relsupport as rs  # noqa: E402
from accounts import accounts, as_user, tree, verdict  # noqa: E402

SKIP = 77
BUSY = "Une synchronisation est déjà en cours."
TAG = "qp%d" % (os.getpid() % 100000)
GROUP, MEMBER_A, MEMBER_B, OUTSIDER = TAG + "g", TAG + "a", TAG + "b", TAG + "x"
SECRET = b"secret de A"



def uid(user):
    return pwd.getpwnam(user).pw_uid



def as_b(script):
    return subprocess.run(as_user(MEMBER_B) + ["sh", "-c", script], capture_output=True)


def give(path, user, mode):
    os.lchown(path, uid(user), grp.getgrnam(GROUP).gr_gid)
    if not os.path.islink(path):
        os.chmod(path, mode)



class Layout:
    """The installed program's folder, a store and head-office files, and each member's home."""

    def __init__(self, installed, program_folder, lock_file):
        self.exe, self.root = os.path.abspath(installed), Path(program_folder).resolve()
        self.lock = Path(lock_file).resolve()
        # The store's tables, NetDir and the head office's files.
        self.work = rs.ProgramFolder(installed, net_dir=True)
        rs.write_headoffice(self.work, 20, 5)
        os.chmod(self.work.root, 0o755)
        shutil.rmtree(self.root, ignore_errors=True)
        (self.root / "Auto").mkdir(parents=True)
        for path in (self.root, self.root / "Auto"):
            give(path, "root", 0o2770)
        for sub, dirs, files in list(os.walk(self.work.store)) + [(self.work.root / "netdir", [], [])]:
            for name in [sub] + [os.path.join(sub, f) for f in files]:
                give(name, "root", 0o2770 if os.path.isdir(name) else 0o660)
        self.homes = {}
        for user in (MEMBER_A, MEMBER_B):
            home = Path(tempfile.mkdtemp(prefix=user + "-"))
            give(home, user, 0o700 if user == MEMBER_A else 0o755)
            self.homes[user] = home
        (self.homes[MEMBER_A] / "secret").write_bytes(SECRET)
        give(self.homes[MEMBER_A] / "secret", MEMBER_A, 0o600)
        # B's source folder, holding the head office's files: the settings are the group's.
        self.source = self.homes[MEMBER_B] / "source"
        shutil.copytree(self.work.source, self.source)
        for sub, dirs, files in os.walk(self.source):
            for name in [sub] + [os.path.join(sub, f) for f in files]:
                give(name, MEMBER_B, 0o755 if os.path.isdir(name) else 0o644)
        self.settings(self.source)
        # The lock the package makes: root's folder, the group's file.
        self.lock.parent.mkdir(exist_ok=True)
        give(self.lock.parent, "root", 0o750)
        self.lock.write_bytes(b"")
        give(self.lock, "root", 0o660)

    def settings(self, source, setup=None):
        ini = (self.work.root / "QuorvaneClient.ini").read_bytes().decode("cp1252")
        ini = ini.replace(str(self.work.source), str(source))
        if setup is not None:
            ini = ini.replace("Dir=%s" % self.work.store, "Dir=%s" % setup)
        (self.root / "QuorvaneClient.ini").write_bytes(ini.encode("cp1252"))
        give(self.root / "QuorvaneClient.ini", MEMBER_B, 0o660)

    def start(self, user, *arguments):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        env.update(PATH=str(self.work.root / "bin") + ":/usr/bin:/bin", HOME=str(self.homes.get(
            user, "/nonexistent")))
        return subprocess.Popen(as_user(user) + [self.exe] + list(arguments), cwd="/",
                                env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                start_new_session=True)

    def run(self, user, limit=120):
        """A window run until its status file (its last write before the countdown), or until
        it ends by itself. Returns its output, or None when it blocked past `limit`."""
        status = self.root / "QuorvaneClientStatus.json"
        if status.exists():
            status.unlink()
        proc = self.start(user)
        try:
            end = time.monotonic() + limit
            while proc.poll() is None and not (status.exists() and status.stat().st_uid == uid(user)):
                if time.monotonic() > end:
                    return None
                time.sleep(0.05)
        finally:
            rs.kill(proc)
        return proc.stdout.read().decode("utf-8", "replace")

    def dry_run(self, user, limit=120):
        proc = self.start(user, "--dry-run")
        try:
            return proc.communicate(timeout=limit)[0].decode("utf-8", "replace")
        except subprocess.TimeoutExpired:
            return None
        finally:
            rs.kill(proc)

    def status(self):
        return json.loads((self.root / "QuorvaneClientStatus.json").read_text())

    def entries(self):
        return [e["text"] for e in self.status()["entries"]]

    def close(self):
        self.work.close()
        for home in self.homes.values():
            shutil.rmtree(home, ignore_errors=True)
        shutil.rmtree(self.root, ignore_errors=True)


def missing(name):
    return "[Fonction _CopyFile()] Le fichier : %s n'éxiste pas ou est inaccessible." % name


def restore_source(layout):
    for name in os.listdir(layout.work.source):
        target = layout.source / name
        as_b("rm -f '%s' && cp '%s' '%s' && chmod 644 '%s'"
             % (target, layout.work.source / name, target, target))


def check_links_to_private_files(layout, failures):
    """B's source files as links to A's private file and to A's /proc/self/status."""
    as_b("ln -sf '%s' '%s/remise_achat.xml' && ln -sf /proc/self/status '%s/personnalisation.xml'"
         % (layout.homes[MEMBER_A] / "secret", layout.source, layout.source))
    before = tree(layout.homes[MEMBER_A])
    output = layout.run(MEMBER_A)
    copied = b"".join(p.read_bytes() for p in (layout.root / "Auto").iterdir() if p.is_file())
    if SECRET in copied or b"TracerPid" in copied:
        failures.append("A's private file or status was copied into Auto/")
    for name in ("remise_achat.xml", "personnalisation.xml"):
        if missing(name) not in layout.entries():
            failures.append("a link to A's files was not refused: %s\n%s" % (name, output))
        if missing(name) not in (layout.dry_run(MEMBER_A) or ""):
            failures.append("the dry run did not refuse the link %s" % name)
    if tree(layout.homes[MEMBER_A]) != before:
        failures.append("A's home changed")
    restore_source(layout)


def check_fifo_swapped_in_a_loop(layout, failures):
    """B swaps each source file with a FIFO, back and forth, while A runs; no run may block."""
    swapper = subprocess.Popen(as_user(MEMBER_B) + ["/usr/bin/python3", "-c", r"""
import os, sys, time
source, end = sys.argv[1], time.monotonic() + 300
names = [n for n in os.listdir(source) if n.endswith(".xml")]
real = {n: open(os.path.join(source, n), "rb").read() for n in names}
while time.monotonic() < end:
    for n in names:
        os.mkfifo(os.path.join(source, ".tube"))
        os.replace(os.path.join(source, ".tube"), os.path.join(source, n))
    for n in names:
        with open(os.path.join(source, ".vrai"), "wb") as f:
            f.write(real[n])
        os.replace(os.path.join(source, ".vrai"), os.path.join(source, n))
""", str(layout.source)])
    try:
        for attempt in range(5):
            if layout.run(MEMBER_A) is None:
                failures.append("a run blocked while a FIFO was swapped in (try %d)" % attempt)
            if layout.dry_run(MEMBER_A) is None:
                failures.append("a dry run blocked while a FIFO was swapped in (try %d)" % attempt)
    finally:
        swapper.kill()
        swapper.wait()
    restore_source(layout)
    layout.run(MEMBER_A)
    if not layout.status()["categories"]["Message"]["downloaded"]:
        failures.append("the run after the FIFO swaps did not fetch message.xml")


def check_read_only_source(layout, failures):
    as_b("chmod 444 '%s/remise_achat.xml'" % layout.source)
    layout.run(MEMBER_A)
    mode = stat.S_IMODE(os.lstat(layout.root / "Auto" / "remise_achat.xml").st_mode)
    if mode & 0o200 == 0 or mode & 0o007:
        failures.append("the copy of a read-only source has mode %o" % mode)
    layout.run(MEMBER_B)
    if not layout.status()["categories"]["Remise_Achat"]["downloaded"]:
        failures.append("B's run could not replace A's copy of a read-only source")
    restore_source(layout)


def check_netdir_and_dry_run(layout, failures):
    """NetDir's lock file as a link into A's home; then a dry run that must create nothing."""
    netdir = layout.work.root / "netdir"
    as_b("ln -s '%s/lck' '%s/QuorvaneClient.lck'" % (layout.homes[MEMBER_A], netdir))
    before = tree(layout.homes[MEMBER_A])
    layout.run(MEMBER_A)
    layout.dry_run(MEMBER_A)
    if tree(layout.homes[MEMBER_A]) != before:
        failures.append("NetDir's lock was created through B's link in A's home")
    as_b("rm -f '%s/QuorvaneClient.lck'" % netdir)
    # A file that cannot be loaded: its entry names the file where the run keeps it.
    as_b("printf '<Quorvane' > '%s/message.xml'" % layout.source)
    tmp = layout.homes[MEMBER_A] / "tmp"
    tmp.mkdir()
    give(tmp, MEMBER_A, 0o700)
    watched = (layout.work.store, netdir, layout.source, layout.root, tmp)
    before = [tree(p) for p in watched]
    env_tmp = dict(os.environ, TMPDIR=str(tmp), HOME=str(layout.homes[MEMBER_A]))
    done = subprocess.run(as_user(MEMBER_A) + [layout.exe, "--dry-run"], capture_output=True,
                          env=env_tmp, timeout=120, cwd="/")
    output = done.stdout.decode("utf-8", "replace")
    if [tree(p) for p in watched] != before:
        failures.append("the dry run created or changed files: %s" % output)
    layout.run(MEMBER_A)
    for text in layout.entries():
        if text.split("\n")[-1] not in output:
            failures.append("the dry run does not tell the run's entry %r:\n%s" % (text, output))
    if "%d entrée" % len(layout.entries()) not in output or "essai-" in output:
        failures.append("the dry run's entries are not the run's:\n%s" % output)
    restore_source(layout)


def check_lock(layout, plain, failures):
    """B cannot remove, replace or block the package's lock, nor can the outsider take it; two
    runs started together never run at once. The plain build in a shared folder refuses to run
    when a folder stands at its lock's name."""
    for script in ("rm -f '{l}'", "mv '{l}' '{l}.x'", "mkdir '{l}.d'", "ln -s x '{l}.l'"):
        if as_b(script.format(l=layout.lock)).returncode == 0 or not layout.lock.is_file():
            failures.append("B could change the run lock: %s" % script)
    take = "open(%r, 'r')" % str(layout.lock)
    if subprocess.run(as_user(OUTSIDER) + ["/usr/bin/python3", "-c", take],
                      capture_output=True).returncode == 0:
        failures.append("the outsider can open the run lock")
    for folder, exe in ((layout, None), (plain, plain.root / "QuorvaneClient")):
        if exe is not None:
            as_b("mkdir '%s/QuorvaneClient.lock'" % plain.root)
        status = (layout.root if exe is None else plain.root) / "QuorvaneClientStatus.json"
        if status.exists():
            status.unlink()
        procs = [layout.start(user) if exe is None else subprocess.Popen(
            as_user(user) + [str(exe)], cwd=plain.root, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, start_new_session=True, env=dict(
                os.environ, PATH=str(plain.root / "bin") + ":/usr/bin:/bin"))
            for user in (MEMBER_A, MEMBER_B)]
        end = time.monotonic() + 120
        while time.monotonic() < end and any(p.poll() is None for p in procs) and not (
                status.exists() and any(p.poll() is not None for p in procs)):
            time.sleep(0.05)
        for p in procs:
            rs.kill(p)
        busy = sum(BUSY in p.stdout.read().decode("utf-8", "replace") for p in procs)
        if exe is None and (busy != 1 or not status.exists()):
            failures.append("two runs started together: %d refused, status %s"
                            % (busy, status.exists()))
        if exe is not None and (busy != 2 or status.exists()):
            failures.append("a folder at the plain build's lock name: %d of 2 runs refused" % busy)


def check_outsider(layout, failures):
    probe = ("import os, sys\nfor p in sys.argv[1:]:\n    try:\n        open(p).close() if "
             "os.path.isfile(p) else os.listdir(p)\n        print(p)\n    except OSError:\n"
             "        pass\n")
    names = [layout.root, layout.root / "Auto", layout.root / "Auto" / "remise_achat.xml",
             layout.root / "QuorvaneClientStatus.json", layout.root / "QuorvaneClient.ini"]
    done = subprocess.run(as_user(OUTSIDER) + ["/usr/bin/python3", "-c", probe] + list(map(str, names)),
                          capture_output=True, text=True)
    if done.stdout.strip():
        failures.append("the outsider reads %s" % done.stdout.split())


def check_legitimate_links(layout, failures):
    """A's own source folder whose files are links to the current publication."""
    publication = layout.homes[MEMBER_A] / "publication"
    publication.mkdir()
    for name in os.listdir(layout.work.source):
        os.symlink(layout.work.source / name, publication / name)
    give(publication, MEMBER_A, 0o755)
    for name in os.listdir(publication):
        give(publication / name, MEMBER_A, 0)
    layout.settings(publication)
    layout.run(MEMBER_A)
    if any("_CopyFile" in text for text in layout.entries()) or not all(
            c["downloaded"] for c in layout.status()["categories"].values()):
        failures.append("A's own links to the publication were not followed: %s" % layout.entries())
    layout.settings(layout.source)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--installed", required=True)
    parser.add_argument("--installed-folder", required=True)
    parser.add_argument("--lock-file", required=True)
    args = parser.parse_args()
    if os.geteuid() != 0 or shutil.which("setpriv") is None:
        print("skipped: needs root and setpriv to make and become the test's accounts")
        return SKIP
    failures, layout, plain = [], None, None
    with accounts(GROUP, (MEMBER_A, MEMBER_B), (OUTSIDER,)):
        try:
            layout = Layout(args.installed, args.installed_folder, args.lock_file)
            plain = rs.ProgramFolder(args.binary)
            rs.write_headoffice(plain, 5, 1)
            for sub, dirs, files in os.walk(plain.root):
                for name in [sub] + [os.path.join(sub, f) for f in files]:
                    if not os.path.islink(name):
                        give(name, "root", 0o2770 if os.path.isdir(name) else
                             (0o755 if os.access(name, os.X_OK) else 0o660))
            checks = (check_links_to_private_files, check_fifo_swapped_in_a_loop,
                      check_read_only_source, check_netdir_and_dry_run, check_outsider,
                      check_legitimate_links)
            # QUORVANE_ONLY=<check> runs that one alone, with the lock's.
            only = os.environ.get("QUORVANE_ONLY")
            for check in [c for c in checks if not only or c.__name__ == only]:
                started = time.monotonic()
                check(layout, failures)
                print("%s: %.1f s" % (check.__name__, time.monotonic() - started), flush=True)
            check_lock(layout, plain, failures)
        finally:
            for folder in (layout, plain):
                if folder is not None:
                    folder.close()
    return verdict(failures)


if __name__ == "__main__":
    sys.exit(main())
