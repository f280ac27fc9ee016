#!/usr/bin/python3
"""The store machine as it is, not as it should be: a full disk under the tables, a read-only
file where a copy goes, a umask, links planted where the program writes, an empty supplier table.

Every case is one or two runs of the real program in a temporary program folder (folder mode,
or FTP against tests/ftp/ftp_server.py on 127.0.0.1); the report is read back, the tables with
sqlite3, the download folder with lstat. Cases:

- disk full: the tables' folder is a tmpfs filled to the last byte (in a mount namespace of the
  program's own, so nothing outside the test sees it); each file must be given up with one entry,
  every table left as it was, the report a few lines. Skipped, with a note, where no mount
  namespace can be made.
- download folder full: Auto/ a full tmpfs holding the previous copies while the new files are
  copied and hashed; every previous copy stays byte for byte, no category says it downloaded.
- read-only destination: Auto/remise_achat.xml without any write bit, kept as it is.
- modes: copies get the source's mode narrowed by the umask, downloads and the report the mode
  of a new file under the umask.
- planted links: at the copies' and downloads' final names before the run, at the report's
  path during the run (a symbolic link, then a second hard link); nothing outside is written.
- empty FOURNIS.db: one entry naming its directory as the missing-table entry does, REMISES.DB
  untouched, the other categories integrated.
"""

import argparse
import html
import json
import os
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import relsupport as rs

FTP_SERVER = rs.SOURCE_DIR / "tests" / "ftp" / "ftp_server.py"
ENTRY = re.compile(r'<div class="message" code="(\d+)" heure="[^"]*">(.*?)</div>\r\n', re.S)


def entries(folder):
    return [(int(code), html.unescape(text)) for code, text in ENTRY.findall(folder.report_text())]


def start(folder, umask=None, wrapper=()):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env["PATH"] = str(folder.root / "bin") + ":" + env.get("PATH", "/usr/bin:/bin")
    with open(folder.root / "out.txt", "ab") as out:
        kwargs = {} if umask is None else {"umask": umask}
        return subprocess.Popen(list(wrapper) + [str(folder.root / "QuorvaneClient")],
                                cwd=folder.root, env=env, stdout=out, stderr=out,
                                start_new_session=True, **kwargs)


def wait_for(condition, limit, step=0.02):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(step)
    return condition()


def run(folder, umask=None, wrapper=(), during=None, at_report=None, limit=90):
    """One run until its report is complete; `during(proc)` is called right after the start,
    `at_report(proc)` once the report is complete and before the program is ended."""
    if folder.report.exists() or folder.report.is_symlink():
        folder.report.unlink()
    proc = start(folder, umask, wrapper)
    try:
        if during is not None:
            during(proc)
        if not wait_for(lambda: folder.report_complete() or proc.poll() is not None, limit):
            raise AssertionError("no complete report within %d s" % limit)
        if not folder.report_complete():
            raise AssertionError("the program ended (code %s) without a complete report; "
                                 "output:\n%s" % (proc.returncode,
                                                  (folder.root / "out.txt").read_text("utf-8",
                                                                                      "replace")))
        if at_report is not None:
            at_report(proc)
    finally:
        rs.kill(proc)


def mode(path):
    return os.lstat(path).st_mode & 0o7777


def publish(folder, names, lines=20, state=1):
    """Head-office files, then only `names` kept in the source folder."""
    rs.write_headoffice(folder, lines, state)
    for p in folder.source.iterdir():
        if p.name not in names:
            p.unlink()


def check(failures, case, condition, message):
    if not condition:
        failures.append("%s: %s" % (case, message))


# ---- disk full -------------------------------------------------------------------------------

def namespace_wrapper():
    """A command prefix that gives the program a mount namespace of its own, or None."""
    for prefix in (["unshare", "-m"], ["unshare", "-Urm"]):
        try:
            probe = subprocess.run(prefix + ["sh", "-c", "mount -t tmpfs -o size=64k tmpfs /mnt"],
                                   capture_output=True, timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            continue
        if probe.returncode == 0:
            return prefix
    return None


def full_folder(prefix, folder, saved, size_kb, filler):
    """A command prefix under which folder is a tmpfs of size_kb holding saved's files, then
    filled to the last byte by the file filler. Only the program's namespace sees it."""
    script = ('set -e; mount -t tmpfs -o size="$3"k tmpfs "$1"; cp -a "$2"/. "$1"/; '
              'dd if=/dev/zero of="$1/$4" bs=4096 2>/dev/null || true; '
              'shift 4; exec "$@"')
    return prefix + ["sh", "-c", script, "sh", str(folder), str(saved), str(size_kb), filler]


def disk_full(binary, failures, lines, limit=90):
    case = "disk full"
    prefix = namespace_wrapper()
    if prefix is None:
        print("SKIP %s: no mount namespace can be made here (unshare -m / -Urm refused)" % case)
        return
    folder = rs.ProgramFolder(binary)
    try:
        rs.fill_store(folder, lines)
        rs.write_headoffice(folder, lines, 5)
        before = rs.snapshots(folder)
        saved = folder.root / "tables"
        shutil.copytree(folder.admin, saved)
        # The tables' folder becomes a small full tmpfs holding the same tables.
        size_kb = sum(p.stat().st_size for p in saved.iterdir()) // 1024 + 4096
        wrapper = full_folder(prefix, folder.admin, saved, size_kb, "remplissage")
        seen = folder.root / "seen"
        seen.mkdir()

        def copy_tables(proc):
            # The tables as the program's namespace sees them, copied out before it ends.
            inside = Path("/proc/%d/root" % proc.pid) / str(folder.admin).lstrip("/")
            for p in inside.iterdir():
                if p.name != "remplissage":
                    shutil.copy(p, seen / p.name)

        began = time.monotonic()
        run(folder, wrapper=wrapper, at_report=copy_tables, limit=limit)
        seconds = time.monotonic() - began
        found = entries(folder)
        size = folder.report.stat().st_size
        print("%s: %d entries, report of %d bytes, %.1f s" % (case, len(found), size, seconds))
        auto = str(folder.root / "Auto") + "/"
        expected_files = list(rs.HEADOFFICE_FILES)
        check(failures, case, len(found) == len(expected_files),
              "expected one entry per file (%d), got %d; first ones: %s"
              % (len(expected_files), len(found), found[:4]))
        for name in expected_files:
            table = rs.HEADOFFICE_FILES[name][1]
            wanted = ("L'intégration du fichier %s%s est abandonnée, la table %s est laissée "
                      "inchangée : " % (auto, name, table))
            mine = [t for c, t in found if wanted in t and c == 1]
            check(failures, case, len(mine) == 1 and "Le disque est plein" in mine[0],
                  "no single full-disk entry for %s in %s" % (name, found))
        leftovers = sorted(p.name for p in seen.iterdir() if p.name not in rs.TABLES)
        check(failures, case, leftovers == [], "journals left: %s" % leftovers)
        for table in rs.TABLES:
            copy = seen / table
            if not copy.exists():
                failures.append("%s: %s was not seen" % (case, table))
                continue
            check(failures, case, rs.integrity(copy) == ["ok"], "%s is damaged" % table)
            check(failures, case, rs.snapshot(copy, rs.table_name(table)) == before[table],
                  "%s changed on a full disk" % table)
    finally:
        folder.close()


def download_folder_full(binary, failures):
    """Auto/ full while the new files are copied and hashed: the previous copies stay whole."""
    case = "download folder full"
    prefix = namespace_wrapper()
    if prefix is None:
        print("SKIP %s: no mount namespace can be made here" % case)
        return
    folder = rs.ProgramFolder(binary)
    try:
        rs.write_headoffice(folder, 20, 1)
        auto = folder.root / "Auto"
        for p in folder.source.iterdir():
            shutil.copy(p, auto / p.name)
        old = {p.name: p.read_bytes() for p in auto.iterdir()}
        rs.write_headoffice(folder, 2000, 2)
        saved = folder.root / "auto_saved"
        shutil.copytree(auto, saved)
        wrapper = full_folder(prefix, auto, saved, 1024, ".remplissage")
        seen = {}

        def read_auto(proc):
            inside = Path("/proc/%d/root" % proc.pid) / str(auto).lstrip("/")
            seen.update({p.name: p.read_bytes() for p in inside.iterdir()
                         if p.name != ".remplissage"})

        run(folder, wrapper=wrapper, at_report=read_auto)
        check(failures, case, seen == old,
              "Auto/ changed: %s" % sorted(n for n in set(seen) | set(old)
                                           if seen.get(n) != old.get(n)))
        # A category stops at its first file that cannot be copied.
        texts = [t for _, t in entries(folder)]
        firsts = ["remise_achat.xml", "personnalisation.xml", "message.xml", "mes_docs.xml"]
        check(failures, case, texts == ["[Fonction _CopyFile()] Impossible de copier ce fichier : "
                                        + name for name in firsts], "entries: %s" % texts)
        status = json.loads((folder.root / "QuorvaneClientStatus.json").read_text("utf-8"))
        check(failures, case, not any(c["downloaded"] for c in status["categories"].values()),
              "a category said downloaded: %s" % status["categories"])
    finally:
        folder.close()


# ---- read-only destination, modes, links -----------------------------------------------------

def read_only_destination(binary, failures):
    case = "read-only destination"
    folder = rs.ProgramFolder(binary, categories=(1, 0, 0, 1))
    try:
        publish(folder, ["remise_achat.xml", "mes_docs.xml", "mes_docs_type.xml"])
        kept = folder.root / "Auto" / "remise_achat.xml"
        kept.write_bytes(b"copie de la veille")
        kept.chmod(0o444)
        before = rs.snapshots(folder)
        run(folder)
        check(failures, case, entries(folder) == [
            (0, "[Fonction _CopyFile()] Impossible de copier ce fichier : remise_achat.xml")],
            "entries %s" % entries(folder))
        check(failures, case, kept.read_bytes() == b"copie de la veille" and mode(kept) == 0o444,
              "the read-only file was replaced or changed")
        now = rs.snapshots(folder)
        check(failures, case, now["REMISES.DB"] == before["REMISES.DB"], "REMISES.DB changed")
        check(failures, case, now["MesDocs.DB"] != before["MesDocs.DB"],
              "the documents were not integrated after the refused copy")
    finally:
        folder.close()


def modes_and_links_by_copy(binary, failures):
    case = "folder mode"
    # Documents enabled without their files: the missing-file entry makes every run report.
    folder = rs.ProgramFolder(binary, categories=(1, 1, 1, 1))
    holder = None
    try:
        publish(folder, ["remise_achat.xml", "personnalisation.xml", "message.xml",
                         "message_type.xml"])
        source_modes = {"remise_achat.xml": 0o600, "personnalisation.xml": 0o664,
                        "message.xml": 0o640, "message_type.xml": 0o755}
        for name, m in source_modes.items():
            (folder.source / name).chmod(m)
        auto = folder.root / "Auto"
        victim = folder.root / "victime.txt"
        victim.write_bytes(b"fichier d'un autre")
        (auto / "remise_achat.xml").symlink_to(victim)
        created = folder.root / "cree-par-un-lien.txt"
        (auto / "personnalisation.xml").symlink_to(created)
        report_victim = folder.root / "victime-du-rapport.txt"
        report_victim.write_bytes(b"ne pas ecraser")
        folder.report.write_bytes(b"rapport precedent")

        # Message.DB is held for the run's first seconds: the link goes in while the run waits.
        holder = sqlite3.connect(folder.table_path("Message.DB"), isolation_level=None)
        holder.execute("BEGIN IMMEDIATE")

        def plant_report_link(proc):
            nonlocal holder
            # The run deletes the previous report first; the link comes after.
            wait_for(lambda: not folder.report.exists(), 30)
            folder.report.symlink_to(report_victim)
            holder.execute("ROLLBACK")
            holder.close()
            holder = None

        proc_run(folder, umask=0o002, during=plant_report_link)
        # The program's own mode, whatever the source's: 0660 under the umask.
        for name in source_modes:
            m = 0o660
            path = auto / name
            check(failures, case, not path.is_symlink() and path.is_file(),
                  "%s is not a plain file" % name)
            check(failures, case, mode(path) == m,
                  "%s has mode %o, expected %o (umask 002)" % (name, mode(path), m))
            check(failures, case, path.read_bytes() == (folder.source / name).read_bytes(),
                  "%s is not the head office's" % name)
        check(failures, case, victim.read_bytes() == b"fichier d'un autre",
              "the copy wrote through the link planted at Auto/remise_achat.xml")
        check(failures, case, not created.exists(),
              "the copy created the target of the link planted at Auto/personnalisation.xml")
        check(failures, case, report_victim.read_bytes() == b"ne pas ecraser",
              "the report was written through the link planted at its path")
        check(failures, case, not folder.report.is_symlink() and folder.report_complete(),
              "the report is not a complete plain file")
        check(failures, case, mode(folder.report) == 0o664,
              "the report has mode %o, expected 664 (umask 002)" % mode(folder.report))

        # A stricter umask narrows everything, whatever the source allows.
        for name in source_modes:
            (folder.source / name).chmod(0o644)
        run(folder, umask=0o077)
        for name in source_modes:
            check(failures, case, mode(auto / name) == 0o600,
                  "%s has mode %o, expected 600 (umask 077)" % (name, mode(auto / name)))
        check(failures, case, mode(folder.report) == 0o600,
              "the report has mode %o, expected 600 (umask 077)" % mode(folder.report))
    finally:
        if holder is not None:
            holder.close()
        folder.close()


def proc_run(folder, umask, during):
    """A run that finds the previous report in place (the caller wrote it)."""
    proc = start(folder, umask)
    try:
        during(proc)
        if not wait_for(folder.report_complete, 90):
            raise AssertionError("no complete report")
    finally:
        rs.kill(proc)


def modes_and_links_by_ftp(binary, failures):
    case = "FTP mode"
    folder = rs.ProgramFolder(binary, categories=(1, 1, 1, 1))
    served = Path(tempfile.mkdtemp(prefix="quorvane-ftp-"))
    server = None
    holder = None
    try:
        rs.write_headoffice(folder, 20, 2)
        for p in folder.source.iterdir():
            shutil.copy(p, served / p.name)
        server = subprocess.Popen(["/usr/bin/python3", str(FTP_SERVER), "--root", str(served)],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  start_new_session=True)
        port = int(server.stdout.readline())
        ini = ("[Setup]\r\nDir=%s\r\n" % folder.store +
               "[Quorvane]\r\nRemise_Achat=1\r\nPersonnalisation=1\r\nMessage=1\r\nDocument=1\r\n"
               "TypeEnvoi=FTP\r\n[Quorvane_FTP]\r\nHost=127.0.0.1\r\nPort=%d\r\nLogin=user\r\n"
               "Mdp=secret\r\n" % port)
        (folder.root / "QuorvaneClient.ini").write_bytes(ini.encode("cp1252"))
        auto = folder.root / "Auto"
        victim = folder.root / "victime.txt"
        victim.write_bytes(b"fichier d'un autre")
        (auto / "message.xml").symlink_to(victim)
        kept = auto / "personnalisation.xml"
        kept.write_bytes(b"telechargement de la veille")
        kept.chmod(0o444)
        report_victim = folder.root / "victime-du-rapport.txt"
        report_victim.write_bytes(b"ne pas ecraser")
        before = rs.snapshots(folder)

        holder = sqlite3.connect(folder.table_path("MesDocs.DB"), isolation_level=None)
        holder.execute("BEGIN IMMEDIATE")

        def plant_hard_link(proc):
            nonlocal holder
            # message_type.xml arrives after the run deleted its previous report.
            if not wait_for(lambda: (auto / "message_type.xml").exists(), 30):
                raise AssertionError("message_type.xml never arrived; output:\n%s%s" % (
                    (folder.root / "out.txt").read_text("utf-8", "replace"),
                    folder.report_text() if folder.report.exists() else ""))
            os.link(report_victim, folder.report)
            holder.execute("ROLLBACK")
            holder.close()
            holder = None

        run(folder, umask=0o027, during=plant_hard_link)
        # message.xml repeats one code on purpose (relsupport): its refusal is the second entry.
        found = entries(folder)
        check(failures, case, len(found) == 2 and found[0] == (
            0, "[Fonction DownloadFile()] Une erreur est survenue.") and found[1][1].startswith(
            "[Fonction MessageInsertRecords()] Erreur à l'insertion") and found[1][1].endswith(
            "Violation de clé"), "entries %s" % found)
        check(failures, case,
              kept.read_bytes() == b"telechargement de la veille" and mode(kept) == 0o444,
              "the read-only personnalisation.xml was replaced")
        for name in ("remise_achat.xml", "message.xml", "message_type.xml", "mes_docs.xml",
                     "mes_docs_type.xml"):
            path = auto / name
            check(failures, case, not path.is_symlink() and mode(path) == 0o640,
                  "%s: mode %o, expected a plain file of mode 640 (umask 027)"
                  % (name, mode(path)))
        check(failures, case, victim.read_bytes() == b"fichier d'un autre",
              "the download wrote through the link planted at Auto/message.xml")
        check(failures, case, report_victim.read_bytes() == b"ne pas ecraser",
              "the report was written into a file that has a second name at its path")
        check(failures, case, os.stat(folder.report).st_nlink == 1 and folder.report_complete(),
              "the report is not a complete file of its own")
        check(failures, case, mode(folder.report) == 0o640,
              "the report has mode %o, expected 640 (umask 027)" % mode(folder.report))
        now = rs.snapshots(folder)
        check(failures, case, now["Perso.DB"] == before["Perso.DB"], "Perso.DB changed")
        check(failures, case, now["Message.DB"] != before["Message.DB"],
              "message.xml was not integrated")
        names = sorted(p.name for p in auto.iterdir() if p.name.startswith("."))
        check(failures, case, names == [], "temporary files left in Auto/: %s" % names)
    finally:
        if holder is not None:
            holder.close()
        if server is not None:
            os.killpg(server.pid, signal.SIGTERM)
            server.wait()
        shutil.rmtree(served, ignore_errors=True)
        folder.close()


# ---- empty supplier table --------------------------------------------------------------------

def empty_suppliers(binary, failures):
    case = "empty FOURNIS.db"
    folder = rs.ProgramFolder(binary, categories=(1, 1, 0, 0))
    try:
        publish(folder, ["remise_achat.xml", "personnalisation.xml"])
        suppliers = folder.store / "Maj" / "FOURNIS.db"
        aside = folder.root / "FOURNIS.db"
        # The missing table first: its entry names the directory as the empty one must.
        shutil.move(suppliers, aside)
        run(folder)
        missing = [t for _, t in entries(folder)]
        prefix = "[Fonction IntegrerRemiseAchat] La table FOURNIS.db n'existe pas dans "
        if len(missing) != 1 or not missing[0].startswith(prefix):
            failures.append("%s: the missing-table run gave %s" % (case, missing))
            return
        directory = missing[0][len(prefix):]
        shutil.move(aside, suppliers)
        with sqlite3.connect(suppliers) as db:
            db.execute("DELETE FROM FOURNIS")
        db.close()
        # Ten more lines than the first run integrated: personalisation has work to do.
        publish(folder, ["remise_achat.xml", "personnalisation.xml"], lines=30)
        before = rs.snapshots(folder)
        run(folder)
        check(failures, case, entries(folder) == [
            (1, "[Fonction IntegrerRemiseAchat] La table FOURNIS.db est vide dans " + directory)],
            "entries %s" % entries(folder))
        now = rs.snapshots(folder)
        check(failures, case, now["REMISES.DB"] == before["REMISES.DB"], "REMISES.DB changed")
        check(failures, case, now["Perso.DB"] != before["Perso.DB"],
              "personalisation was not integrated")
    finally:
        folder.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--lines", type=int, default=2000,
                        help="lines per head-office file and earlier records in the disk case")
    parser.add_argument("--only", default=None, help="run only the case of this function name")
    args = parser.parse_args()
    failures = []
    cases = [("disk_full", lambda: disk_full(args.binary, failures, args.lines)),
             ("download_folder_full", lambda: download_folder_full(args.binary, failures)),
             ("read_only_destination", lambda: read_only_destination(args.binary, failures)),
             ("modes_and_links_by_copy", lambda: modes_and_links_by_copy(args.binary, failures)),
             ("modes_and_links_by_ftp", lambda: modes_and_links_by_ftp(args.binary, failures)),
             ("empty_suppliers", lambda: empty_suppliers(args.binary, failures))]
    for name, body in cases:
        if args.only in (None, name):
            try:
                body()
            except AssertionError as e:
                failures.append("%s: %s" % (name, e))
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
