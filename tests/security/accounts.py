"""What the security tests share: the real accounts they make (named after the test's process,
so that tests running at the same time never meet), becoming one of them, and a picture of a
folder to tell that nothing changed there."""

import contextlib
import os
import stat
import subprocess
import time
from pathlib import Path


def sh(*command):
    # useradd and groupadd lock /etc/passwd; another test of the machine may hold it a moment.
    for _ in range(50):
        if subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
            return
        time.sleep(0.2)
    raise AssertionError("failed: %s" % " ".join(command))


def as_user(user):
    return ["setpriv", "--reuid", user, "--regid", user, "--init-groups", "--"]


@contextlib.contextmanager
def accounts(group, members, outsiders):
    """The group, its members and accounts outside it, removed again whatever happens."""
    try:
        sh("groupadd", group)
        for user in members:
            sh("useradd", "-M", "-s", "/usr/sbin/nologin", "-G", group, user)
        for user in outsiders:
            sh("useradd", "-M", "-s", "/usr/sbin/nologin", user)
        yield
    finally:
        for user in list(members) + list(outsiders):
            subprocess.run(["userdel", user], stderr=subprocess.DEVNULL)
        subprocess.run(["groupdel", group], stderr=subprocess.DEVNULL)


def tree(path):
    """Every name under `path` with its kind and bytes (a link's target), to see that nothing
    changed there."""
    seen = {}
    for sub, dirs, files in os.walk(path):
        for name in dirs + files:
            full = Path(sub) / name
            info = os.lstat(full)
            content = full.read_bytes() if stat.S_ISREG(info.st_mode) else os.readlink(full) \
                if stat.S_ISLNK(info.st_mode) else None
            seen[str(full.relative_to(path))] = (stat.S_IFMT(info.st_mode), content)
    return seen


def verdict(failures):
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0
