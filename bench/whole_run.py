#!/usr/bin/env python3
"""A whole synchronization run of the real program on a large message.xml: time and peak memory.

Usage: whole_run.py --binary build/QuorvaneClient [--lines 100000 1000000] [--repeat 3]
                    [--dry-run] [--signed]

For each line count, generate_headoffice.py writes message.xml (Windows-1252, about 190 bytes a
line) and a Message.DB holding half as many earlier head-office records (purged by the file)
and a twentieth as many store records. A program folder in folder mode with only the messages
category fetches message.xml and a one-line message_type.xml; its MessageType.DB is left out on
purpose, so that the run ends with one missing-table entry and writes its report after the last
table: the report's last line marks the end of the work. The program runs offscreen under
/usr/bin/time -v, is ended as soon as its report is complete (instead of after the 30-second
countdown), and the medians of --repeat runs (each on a fresh copy of the store's table) are
printed:
  seconds   from the start of the process to its complete report;
  CPU       user + system seconds of the process, as /usr/bin/time counts them;
  peak      maximum resident set size, as /usr/bin/time counts it;
  ceiling   twice the file's size plus 64 MB.
With --dry-run, each run is followed by `QuorvaneClient --dry-run` on the same fresh table, run to
its end under /usr/bin/time -v, and its medians and their ratios to the run's are printed too.
With --signed, each run is paired with the same run (before it every other time) with "ClePublique" set and the head-office
folder signed by tools/publish-manifest.sh (a key made by minisign for the occasion): the
manifest verified and each file's SHA-256 checked as it is copied; its medians and their ratios
to the unsigned run's are printed too.
Everything is made under a temporary folder and removed afterwards.
"""

import argparse
import os
import re
import shutil
import signal
import statistics
import sqlite3
import subprocess
import sys
import tempfile
import time
from pathlib import Path

BENCH = Path(__file__).resolve().parent
TIME_LIMIT = 600.0
REPORT_END = "</div>\r\n" + "-" * 75


def make_folder(root, binary, lines):
    generated = root / "generated"
    subprocess.run([sys.executable, str(BENCH / "generate_headoffice.py"), str(generated),
                    "--messages", str(lines)], check=True)
    source = root / "headoffice"
    store = root / "ombrelin"
    for sub in ("Auto", "bin", "headoffice", "ombrelin/Administration", "ombrelin/Tarifs",
                "ombrelin/Maj"):
        (root / sub).mkdir(parents=True, exist_ok=True)
    shutil.move(str(generated / "Auto" / "message.xml"), source / "message.xml")
    shutil.move(str(generated / "Administration" / "Message.DB"), root / "Message.DB.pristine")
    shutil.rmtree(generated)
    (source / "message_type.xml").write_bytes(
        b'<?xml version="1.0" encoding="windows-1252"?>\n<Messages><Version Numero="1.0"/>'
        b'<Lignes><Ligne Code="1" Externe="5" Libelle="Qualit\xe9"/></Lignes></Messages>\n')
    shutil.copy2(binary, root / "QuorvaneClient")
    # Stand-in for the desktop's viewer, which the program asks to open its report.
    viewer = root / "bin" / "xdg-open"
    viewer.write_text("#!/bin/sh\nexit 0\n")
    viewer.chmod(0o755)
    (store / "ombbde.ini").write_bytes(("[Alias]\r\nOmbrelin=%s\r\n" % store).encode("cp1252"))
    ini = ("[Setup]\r\nDir=%s\r\n[Quorvane]\r\nRemise_Achat=0\r\nPersonnalisation=0\r\n"
           "Message=1\r\nDocument=0\r\nTypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=%s\r\n"
           % (store, source))
    (root / "QuorvaneClient.ini").write_bytes(ini.encode("cp1252"))
    (root / "ini.plain").write_bytes(ini.encode("cp1252"))
    return (source / "message.xml").stat().st_size


def sign_folder(root):
    """A key pair, the head-office folder signed with it, and the settings that name the key."""
    keys = root / "cles"
    keys.mkdir()
    subprocess.run(["minisign", "-G", "-W", "-p", str(keys / "siege.pub"), "-s",
                    str(keys / "siege.key")], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([str(BENCH.parent / "tools" / "publish-manifest.sh"), "-s",
                    str(keys / "siege.key"), "-g", "1", str(root / "headoffice")], check=True,
                   stdout=subprocess.DEVNULL)
    public = (keys / "siege.pub").read_text().splitlines()[1]
    ini = (root / "ini.plain").read_bytes()
    (root / "ini.signed").write_bytes(
        ini + ("[Quorvane_Signature]\r\nClePublique=%s\r\n" % public).encode("cp1252"))


def report_complete(report):
    try:
        return report.read_bytes().decode("cp1252").rstrip().endswith(REPORT_END)
    except OSError:
        return False


def program_pid(time_pid):
    """The program is /usr/bin/time's only child."""
    try:
        children = Path("/proc/%d/task/%d/children" % (time_pid, time_pid)).read_text().split()
    except OSError:
        return None
    return int(children[0]) if children else None


def run(root, lines, signed=False):
    shutil.copy2(root / ("ini.signed" if signed else "ini.plain"), root / "QuorvaneClient.ini")
    shutil.copy2(root / "Message.DB.pristine", root / "ombrelin" / "Administration" / "Message.DB")
    for leftover in (root / "Auto").iterdir():
        leftover.unlink()
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env["PATH"] = str(root / "bin") + ":" + env.get("PATH", "/usr/bin:/bin")
    stats = root / "time.txt"
    report = root / "QuorvaneClientAutoLog.html"
    if report.exists():
        report.unlink()
    out = open(root / "out.txt", "wb")
    start = time.monotonic()
    proc = subprocess.Popen(["/usr/bin/time", "-v", "-o", str(stats), str(root / "QuorvaneClient")],
                            cwd=root, env=env, stdout=out, stderr=out, start_new_session=True)
    out.close()
    seconds = None
    try:
        while time.monotonic() - start < TIME_LIMIT:
            if report_complete(report):
                seconds = time.monotonic() - start
                break
            if proc.poll() is not None:
                break
            time.sleep(0.02)
    finally:
        pid = program_pid(proc.pid)
        if pid is not None:
            os.kill(pid, signal.SIGKILL)
        try:
            proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
    if seconds is None:
        raise SystemExit("%d lines: no complete report within %.0f s; see %s"
                         % (lines, TIME_LIMIT, root / "out.txt"))
    text = stats.read_text()
    user = float(re.search(r"User time \(seconds\): ([\d.]+)", text).group(1))
    system = float(re.search(r"System time \(seconds\): ([\d.]+)", text).group(1))
    peak_kb = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
    entries = re.findall(r'<div class="message"[^>]*>(.*?)</div>', report.read_bytes()
                         .decode("cp1252"), re.S)
    # The report's summary, then the one missing-table entry.
    if len(entries) != 2 or "MessageType.DB" not in entries[1]:
        raise SystemExit("%d lines: unexpected report entries %r" % (lines, entries))
    with sqlite3.connect(root / "ombrelin" / "Administration" / "Message.DB") as db:
        count = db.execute("SELECT COUNT(*) FROM Message WHERE Externe = 5").fetchone()[0]
    db.close()
    if count != lines:
        raise SystemExit("%d lines: Message.DB holds %d head-office records" % (lines, count))
    return seconds, user + system, peak_kb


def dry_run(root, lines):
    """The same work as a dry run: seconds to its end, CPU, peak; the table must be unchanged."""
    table = root / "ombrelin" / "Administration" / "Message.DB"
    shutil.copy2(root / "Message.DB.pristine", table)
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    stats = root / "time.txt"
    start = time.monotonic()
    with open(root / "dry.txt", "wb") as out:
        code = subprocess.run(["/usr/bin/time", "-v", "-o", str(stats),
                               str(root / "QuorvaneClient"), "--dry-run"], cwd=root, env=env,
                              stdout=out, stderr=subprocess.STDOUT, timeout=TIME_LIMIT).returncode
    seconds = time.monotonic() - start
    # The missing MessageType.DB is an entry: exit code 1.
    if code != 1 or table.read_bytes() != (root / "Message.DB.pristine").read_bytes():
        raise SystemExit("%d lines: dry run ended with %d or changed Message.DB" % (lines, code))
    if ("Message.DB (message.xml) : " not in (root / "dry.txt").read_text()):
        raise SystemExit("%d lines: dry run printed no counts" % lines)
    text = stats.read_text()
    user = float(re.search(r"User time \(seconds\): ([\d.]+)", text).group(1))
    system = float(re.search(r"System time \(seconds\): ([\d.]+)", text).group(1))
    peak_kb = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
    return seconds, user + system, peak_kb


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--lines", type=int, nargs="+", default=[100000, 1000000])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--dry-run", action="store_true")
    parser.add_argument("--signed", action="store_true")
    args = parser.parse_args()
    binary = Path(args.binary).resolve()
    print("%10s %9s %9s %8s %9s %10s %7s" % ("lines", "file MB", "seconds", "CPU s", "peak MB",
                                             "ceiling MB", "peak/file"))
    for lines in args.lines:
        root = Path(tempfile.mkdtemp(prefix="quorvane-whole-run-"))
        try:
            size = make_folder(root, binary, lines)
            if args.signed:
                sign_folder(root)
            runs, dries, signs = [], [], []
            for repetition in range(args.repeat):
                # Every other time the signed run goes first: a run just after another pays
                # for the writing back of the other's files.
                if args.signed and repetition % 2 == 1:
                    signs.append(run(root, lines, signed=True))
                runs.append(run(root, lines))
                if args.dry_run:
                    dries.append(dry_run(root, lines))
                if args.signed and repetition % 2 == 0:
                    signs.append(run(root, lines, signed=True))
            seconds, cpu, peak_kb = (statistics.median(r[i] for r in runs) for i in range(3))
            if dries:
                dry = [statistics.median(r[i] for r in dries) for i in range(3)]
            if signs:
                sign = [statistics.median(r[i] for r in signs) for i in range(3)]
        finally:
            shutil.rmtree(root, ignore_errors=True)
        peak_mb = peak_kb / 1024.0
        size_mb = size / (1024.0 * 1024.0)
        print("%10d %9.1f %9.2f %8.2f %9.1f %10.1f %7.2f" % (
            lines, size_mb, seconds, cpu, peak_mb, 2 * size_mb + 64, peak_mb / size_mb))
        if args.dry_run:
            print("%10s %9s %9.2f %8.2f %9.1f   dry run; ratios to the run: %.2f s, %.2f CPU" % (
                "", "", dry[0], dry[1], dry[2] / 1024.0, dry[0] / seconds, dry[1] / cpu))
        if args.signed:
            print("%10s %9s %9.2f %8.2f %9.1f   signed; ratios to the run: %.3f s, %.3f CPU" % (
                "", "", sign[0], sign[1], sign[2] / 1024.0, sign[0] / seconds, sign[1] / cpu))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
