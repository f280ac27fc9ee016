#!/usr/bin/python3
"""The store application replaces a table file by a rename while the run integrates into it.

The run is held at two gates, each a lock this driver takes on a table, with no timing in it:
it opens REMISES.DB and waits for its write lock; meanwhile FOURNIS.db is locked exclusively,
and REMISES.DB let go; the run then deletes the first supplier's conditions and waits to read
FOURNIS.db. With both files open in the program, one of them is replaced by a rename and the
run let go. Either way the conditions must not be committed: one entry names REMISES.DB as
left unchanged, the category fails in the status file, the file now at REMISES.DB is exactly
the replacement, and personalisation is still integrated.
"""

import argparse
import json
import os
import shutil
import sqlite3
import sys
import time

import relsupport as rs

REPLACED = ("La table %s a été remplacée, déplacée ou supprimée par une autre application "
            "depuis son ouverture")


def open_in(pid, path):
    """True when the program holds a descriptor on `path`."""
    fd_dir = "/proc/%d/fd" % pid
    for fd in os.listdir(fd_dir):
        try:
            if os.readlink(os.path.join(fd_dir, fd)) == str(path):
                return True
        except OSError:
            pass
    return False


def wait_for(predicate, limit=60):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.01)
    return False


def replaced_case(binary, replaced, failures):
    folder = rs.ProgramFolder(binary, categories=(1, 1, 0, 0))
    proc = None
    try:
        rs.fill_store(folder, 300)
        rs.write_headoffice(folder, 300, 11)
        remises = folder.table_path("REMISES.DB")
        suppliers = folder.store / "Maj" / "FOURNIS.db"
        target = remises if replaced == "REMISES.DB" else suppliers
        # The replacement: the same table with one more record, written before the run.
        copy = target.with_name(target.name + ".neuf")
        shutil.copy2(target, copy)
        with sqlite3.connect(copy) as db:
            if replaced == "REMISES.DB":
                db.execute("INSERT INTO REMISES VALUES ('BOREAL',2,'','REMPL','Remplaçante',5,0,"
                           "1.0,'2026-01-01',NULL,0)")
            else:
                db.execute("UPDATE FOURNIS SET Nom = Nom || ' (neuf)'")
        db.close()
        remises_before = rs.snapshot(remises, "REMISES")
        expected = rs.snapshot(copy, "REMISES") if replaced == "REMISES.DB" else remises_before
        perso_before = rs.snapshot(folder.table_path("Perso.DB"), "Perso")

        gate = sqlite3.connect(remises, isolation_level=None)
        gate.execute("BEGIN IMMEDIATE")
        proc = folder.start()
        if not wait_for(lambda: open_in(proc.pid, remises)):
            failures.append("%s: the run never opened REMISES.DB" % replaced)
            return
        second = sqlite3.connect(suppliers, isolation_level=None)
        second.execute("BEGIN EXCLUSIVE")
        gate.execute("ROLLBACK")
        gate.close()
        if not wait_for(lambda: open_in(proc.pid, suppliers)):
            failures.append("%s: the run never read FOURNIS.db" % replaced)
            return
        os.replace(copy, target)
        second.execute("ROLLBACK")
        second.close()
        if not wait_for(folder.report_complete, 120):
            failures.append("%s: no complete report" % replaced)
            return
        status_path = folder.root / "QuorvaneClientStatus.json"
        wait_for(status_path.exists)
        rs.kill(proc)

        entries = [e["text"] for e in json.loads(status_path.read_text())["entries"]]
        categories = json.loads(status_path.read_text())["categories"]
        wanted = ("[Fonction XmlToTable()] L'intégration du fichier %s est abandonnée, la table "
                  "REMISES.DB est laissée inchangée : " % (folder.root / "Auto" / "remise_achat.xml")
                  + REPLACED % replaced)
        if entries != [wanted]:
            failures.append("%s: entries %r, expected [%r]" % (replaced, entries, wanted))
        if categories["Remise_Achat"]["integrated"] is not False:
            failures.append("%s: Remise_Achat integrated %r" % (replaced, categories["Remise_Achat"]))
        if categories["Personnalisation"]["integrated"] is not True:
            failures.append("%s: Personnalisation not integrated" % replaced)
        if rs.integrity(remises) != ["ok"]:
            failures.append("%s: REMISES.DB damaged" % replaced)
        now = rs.snapshot(remises, "REMISES")
        if now != expected:
            failures.append("%s: REMISES.DB is not the table it should be (%d rows)"
                            % (replaced, len(now)))
        if rs.snapshot(folder.table_path("Perso.DB"), "Perso") == perso_before:
            failures.append("%s: Perso.DB not integrated" % replaced)
        if folder.journal("REMISES.DB").exists():
            failures.append("%s: a journal was left beside REMISES.DB" % replaced)
        print("%s replaced during the integration: %d entry, REMISES.DB %d rows"
              % (replaced, len(entries), len(now)))
    finally:
        if proc is not None:
            rs.kill(proc)
        folder.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    args = parser.parse_args()
    failures = []
    for replaced in ("REMISES.DB", "FOURNIS.db"):
        replaced_case(args.binary, replaced, failures)
    for f in failures:
        print("FAIL: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
