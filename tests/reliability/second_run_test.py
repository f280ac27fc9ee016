#!/usr/bin/python3
"""A second run on the same program folder, and what a killed run leaves behind.

1. Run A is kept in progress (other processes hold write transactions on the message and
   document tables, so A waits on them, and A is stopped with SIGSTOP once it reaches them, so
   that it is still in progress however long B takes). Run B, started meanwhile, must show the warning
   "Une synchronisation est déjà en cours." on standard error, end with exit code 0 quickly,
   and touch nothing: not the report A's folder holds at that moment, not Auto/ (temporary
   files of a stopped run included), not the tables.
2. A is let go, hands its report to a stand-in viewer that stays alive with whatever
   descriptors it inherited, and is killed with SIGKILL. Run C must then run normally: the
   lock died with A, and the viewer does not carry it. C removes the program's own temporary
   files from Auto/ and nothing else.
3. A run is frozen (strace delays its rename) after a copy was written under its temporary
   name and before it takes its final name, and killed: a genuine leftover. The next run
   removes it before fetching, and integrates the file.
"""

import argparse
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import time
from pathlib import Path

import relsupport as rs

WARNING = "Avertissement : Une synchronisation est déjà en cours."
HELD = ["Message.DB", "MessageType.DB", "MesDocs.DB", "MesDocsType.DB"]

# Named as the program names its temporary files (and as earlier versions named downloads).
OWN_LEFTOVERS = [".remise_achat.xml.partiel-Ab12Cd", ".message_type.xml.partiel-000000",
                 ".mes_docs.xml.483920.part"]
# Look alike, but not the program's: they must stay.
FOREIGN = ["notes.txt", ".remise_achat.xml.partiel-abc", ".inconnu.xml.partiel-Ab12Cd",
           "remise_achat.xml.partiel-Ab12Cd", ".remise_achat.xml.partiel-Ab12Cd.bak",
           ".message.xml.part"]
FOREIGN_DIR = ".personnalisation.xml.partiel-Zz99Zz"


def start(folder, log_name, arguments=()):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env["PATH"] = str(folder.root / "bin") + ":" + env.get("PATH", "/usr/bin:/bin")
    env.update(rs.ANNOUNCED_DISPLAY)
    with open(folder.root / log_name, "wb") as out:
        return subprocess.Popen([str(folder.root / "QuorvaneClient")] + list(arguments),
                                cwd=folder.root, env=env, stdout=out, stderr=out,
                                start_new_session=True)


def lingering_viewer(folder):
    """A viewer that records what it was asked to open, then stays, keeping every descriptor it
    inherited from the program."""
    xdg = folder.root / "bin" / "xdg-open"
    # The pid file appears whole (renamed in), so that whoever sees it can read it.
    xdg.write_text("#!/bin/sh\necho \"$@\" >> '%s'\necho $$ > '%s.tmp'\n"
                   "mv '%s.tmp' '%s'\nexec sleep 120\n"
                   % (folder.root / "opened.txt", folder.root / "viewer.pid",
                      folder.root / "viewer.pid", folder.root / "viewer.pid"))
    xdg.chmod(0o755)


def wait_for(condition, limit, step=0.02):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(step)
    return condition()


def auto_state(folder):
    """Every entry of Auto/ with its kind, bytes and modification time."""
    state = {}
    for entry in sorted((folder.root / "Auto").iterdir()):
        st = entry.lstat()
        data = entry.read_bytes() if entry.is_file() and not entry.is_symlink() else None
        state[entry.name] = (st.st_mode, st.st_mtime_ns, data)
    return state


def table_files(folder):
    """A digest of each table file, read by another process: closing a descriptor of a file
    would drop every lock this process holds on it, the held transactions included."""
    out = subprocess.check_output(["sha256sum"] + [str(folder.table_path(t)) for t in rs.TABLES])
    return dict(zip(rs.TABLES, out.split(b"\n")))


def second_run_and_killed_first(binary, failures):
    folder = rs.ProgramFolder(binary)
    holders = []
    procs = []
    try:
        rs.fill_store(folder, 300)
        rs.write_headoffice(folder, 300, 11)
        lingering_viewer(folder)
        folder.report.write_text("ancien rapport")
        for table in HELD:
            holder = sqlite3.connect(folder.table_path(table), isolation_level=None)
            holder.execute("BEGIN IMMEDIATE")
            holders.append(holder)

        run_a = start(folder, "a.txt")
        procs.append(run_a)
        if not wait_for(lambda: not folder.report.exists(), 20):
            failures.append("run A did not start (the old report is still there)")
            return
        # message_type.xml is copied right before the messages are integrated: from then on A
        # waits on the held tables, 5 s each. A is stopped there, so that however slow B is, A
        # is still in progress when B is checked and changes nothing meanwhile; a stopped
        # process keeps its locks.
        if not wait_for(lambda: (folder.root / "Auto" / "message_type.xml").exists(), 30):
            failures.append("run A did not reach the messages")
            return
        os.killpg(run_a.pid, signal.SIGSTOP)
        auto = folder.root / "Auto"
        for name in OWN_LEFTOVERS + FOREIGN:
            (auto / name).write_bytes(b"reste " + name.encode())
        (auto / FOREIGN_DIR).mkdir()
        (auto / FOREIGN_DIR / OWN_LEFTOVERS[0]).write_bytes(b"dans un dossier")
        folder.report.write_bytes(b"rapport present pendant A")
        auto_before = auto_state(folder)
        tables_before = table_files(folder)

        began = time.monotonic()
        run_b = start(folder, "b.txt")
        procs.append(run_b)
        try:
            code_b = run_b.wait(timeout=30)
        except subprocess.TimeoutExpired:
            code_b = None
        seconds_b = time.monotonic() - began
        output_b = (folder.root / "b.txt").read_bytes().decode("utf-8", "replace")
        print("second run: exit code %s after %.2f s, output %r" % (code_b, seconds_b, output_b))
        if run_a.poll() is not None:
            failures.append("run A ended before B was checked: nothing was shown")
        if code_b != 0:
            failures.append("run B: exit code %r, expected 0" % code_b)
        if seconds_b > 15:
            failures.append("run B took %.1f s to give up" % seconds_b)
        if WARNING not in output_b.splitlines():
            failures.append("run B did not show the warning; its output: %r" % output_b)
        if folder.report.read_bytes() != b"rapport present pendant A":
            failures.append("run B touched the report")
        auto_after = auto_state(folder)
        if auto_after != auto_before:
            changed = sorted(n for n in set(auto_after) | set(auto_before)
                             if auto_after.get(n) != auto_before.get(n))
            failures.append("run B touched Auto/: %s" % changed)
        tables_after = table_files(folder)
        for table in rs.TABLES:
            if tables_after[table] != tables_before[table]:
                failures.append("run B touched the table %s" % table)
        if (folder.root / "opened.txt").exists():
            failures.append("run B handed something to the viewer")

        # The configuration window takes no lock: it opens while A runs, and stays open.
        config = start(folder, "config.txt", ["CONFIG"])
        procs.append(config)
        time.sleep(2)
        output_config = (folder.root / "config.txt").read_bytes().decode("utf-8", "replace")
        if config.poll() is not None or "Une synchronisation" in output_config:
            failures.append("the configuration window did not stay open during A (code %s, "
                            "output %r)" % (config.returncode, output_config))
        rs.kill(config)

        os.killpg(run_a.pid, signal.SIGCONT)
        for holder in holders:
            holder.execute("ROLLBACK")
            holder.close()
        holders.clear()
        if not wait_for(lambda: folder.report_complete() and (folder.root / "viewer.pid").exists(),
                        60):
            failures.append("run A did not finish its report and open it")
            return
        viewer = int((folder.root / "viewer.pid").read_text())
        rs.kill(run_a)
        try:
            os.kill(viewer, 0)
        except OSError:
            failures.append("the stand-in viewer is not alive; the check of inherited "
                            "descriptors would mean nothing")
        (folder.root / "viewer.pid").unlink()
        folder.report.unlink()

        # The lock died with A; the viewer A started must not hold it either.
        run_c = start(folder, "c.txt")
        procs.append(run_c)
        if not wait_for(folder.report_complete, 60):
            output_c = (folder.root / "c.txt").read_bytes().decode("utf-8", "replace")
            failures.append("run C did not run after A was killed; its output: %r" % output_c)
        else:
            names = {p.name for p in auto.iterdir()}
            for name in OWN_LEFTOVERS:
                if name in names:
                    failures.append("run C left the program's temporary file %s" % name)
            for name in FOREIGN + [FOREIGN_DIR]:
                if name not in names:
                    failures.append("run C removed %s, which is not the program's" % name)
            if not (auto / FOREIGN_DIR / OWN_LEFTOVERS[0]).exists():
                failures.append("run C removed a file inside a folder of Auto/")
        try:
            os.kill(int((folder.root / "viewer.pid").read_text()), signal.SIGKILL)
        except (OSError, ValueError):
            pass
        os.kill(viewer, signal.SIGKILL)
    finally:
        for holder in holders:
            holder.close()
        for proc in procs:
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGCONT)
            rs.kill(proc)
        for pid_file in (folder.root / "viewer.pid",):
            try:
                os.kill(int(pid_file.read_text()), signal.SIGKILL)
            except (OSError, ValueError):
                pass
        folder.close()


def killed_copy_leftover(binary, failures):
    if shutil.which("strace") is None:
        print("SKIP killed copy: strace is not installed")
        return
    folder = rs.ProgramFolder(binary, categories=(1, 0, 0, 0))
    procs = []
    try:
        rs.write_headoffice(folder, 50, 3)
        before = rs.snapshot(folder.table_path("REMISES.DB"), "REMISES")
        # Every rename of the program waits a minute: the copy of remise_achat.xml stops once
        # its bytes are written, before they take the final name.
        wrapper = ["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=rename,renameat,"
                   "renameat2", "-e", "inject=rename,renameat,renameat2:delay_enter=60000000"]
        proc = folder.start(wrapper=wrapper)
        procs.append(proc)
        auto = folder.root / "Auto"
        size = (folder.source / "remise_achat.xml").stat().st_size

        def written():
            return [p for p in auto.iterdir() if p.name.startswith(".remise_achat.xml.")
                    and p.stat().st_size == size]

        if not wait_for(written, 30):
            failures.append("no temporary copy appeared in Auto/: %s"
                            % sorted(p.name for p in auto.iterdir()))
            return
        time.sleep(0.3)
        rs.kill(proc)
        leftover = written()[0].name
        print("killed copy left %s" % leftover)
        if (auto / "remise_achat.xml").exists():
            failures.append("the killed copy already had its final name")

        proc = folder.start()
        procs.append(proc)

        def integrated():
            return rs.snapshot(folder.table_path("REMISES.DB"), "REMISES") != before

        if not wait_for(integrated, 60, 0.1):
            failures.append("the next run did not integrate remise_achat.xml")
        names = sorted(p.name for p in auto.iterdir())
        if names != ["remise_achat.xml"]:
            failures.append("after the next run Auto/ holds %s, expected only remise_achat.xml"
                            % names)
    finally:
        for proc in procs:
            rs.kill(proc)
        folder.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    args = parser.parse_args()
    failures = []
    second_run_and_killed_first(args.binary, failures)
    killed_copy_leftover(args.binary, failures)
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
