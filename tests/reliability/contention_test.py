#!/usr/bin/python3
"""Another process keeps a write transaction open on Message.DB for the whole run.

The program must wait its busy time-out, record the failure of that file as an entry with code 1,
leave the table as it was, still integrate message_type.xml and the other categories, write and
open its report, and end by itself (exit code 0) in bounded time.
"""

import argparse
import re
import sqlite3
import sys
import time

import relsupport as rs

HELD = "Message.DB"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--lines", type=int, default=2000)
    args = parser.parse_args()
    failures = []

    # The uninterrupted reference: the same store, nobody else writing.
    reference = rs.ProgramFolder(args.binary)
    folder = rs.ProgramFolder(args.binary)
    try:
        for f in (reference, folder):
            rs.fill_store(f, args.lines)
            rs.write_headoffice(f, args.lines, 7)
        before = rs.snapshots(folder)
        reference.run_until_report()
        after = rs.snapshots(reference)

        holder = sqlite3.connect(folder.table_path(HELD), isolation_level=None)
        holder.execute("BEGIN IMMEDIATE")
        holder.execute("UPDATE Message SET Titre = Titre WHERE Code = 'MAG-001'")
        start = time.monotonic()
        proc = folder.start()
        # Its busy time-out, the run and its 30-second countdown; the deadline only tells a
        # program that never ends from one that does, however loaded the machine.
        try:
            code = proc.wait(timeout=150)
        except Exception:
            rs.kill(proc)
            code = None
        seconds = time.monotonic() - start
        holder.execute("ROLLBACK")
        holder.close()

        print("contention: exit code %s after %.1f s" % (code, seconds))
        if code != 0:
            failures.append("exit code %r, expected 0 (None: still running after 150 s)" % code)
        if not folder.report_complete():
            failures.append("no complete report")
        else:
            text = folder.report_text()
            path = str(folder.root / "Auto" / "message.xml")
            # The purge is the file's first write, so it is the step that meets the lock.
            pattern = re.compile(
                r'<div class="message" code="1" heure="[0-9: -]+">' + re.escape(
                    "[Fonction MessageDeleteRecords()] L'intégration du fichier " + path +
                    " est abandonnée, la table Message.DB est laissée inchangée : La table "
                    "Message.DB est verrouillée par une autre application") + "</div>")
            found = pattern.findall(text)
            if len(found) != 1:
                failures.append("expected one abandoned-file entry for message.xml; report:\n"
                                + text)
            if "Il y a eu 1 erreurs au cour" not in text:
                failures.append("expected exactly one entry (the held table); report:\n" + text)
        opened = folder.root / "opened.txt"
        deadline = time.monotonic() + 60
        while not opened.exists() and time.monotonic() < deadline:
            time.sleep(0.1)
        if not opened.exists() or opened.read_text() != str(folder.report) + "\n":
            failures.append("the report was not handed to xdg-open")
        now = rs.snapshots(folder)
        for table in rs.TABLES:
            expected = before[table] if table == HELD else after[table]
            if rs.integrity(folder.table_path(table)) != ["ok"] or now[table] != expected:
                failures.append("%s: expected the table %s" % (
                    table, "unchanged" if table == HELD else "as after a run"))
    finally:
        reference.close()
        folder.close()

    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
