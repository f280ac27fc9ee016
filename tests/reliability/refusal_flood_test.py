#!/usr/bin/python3
"""A message.xml of many lines the table refuses (empty <Ligne/>: no title), between two good
lines, through a real run in folder mode. The good lines are integrated; the report, the journal
and the status file list the first 1,000 refusals and then one entry that says how many more
there were; the journal's closing line and the status file count them all.

With --measure (--measure-only: without the checks), the run is left to end by itself under /usr/bin/time -v and the sizes of the
report and the status file, the peak memory and the times are printed.
"""

import argparse
import json
import re
import subprocess
import sys
import time

import relsupport as rs

LISTED = 1000
INSERT = "[Fonction MessageInsertRecords()] Erreur à l'insertion de l'enregistrement "


def french(n):
    return "{:,}".format(n).replace(",", " ")


def message_file(refused):
    good = '    <Ligne Code="HO-%s" Externe="5" Titre="Bon %s"/>\r\n'
    head = ('<?xml version="1.0" encoding="windows-1252"?>\r\n<Messages>\r\n'
            '  <Version Numero="1.0"/>\r\n  <Lignes>\r\n')
    return (head + good % ("A", "A")).encode("cp1252") + b"    <Ligne/>\r\n" * refused + \
        (good % ("B", "B") + "  </Lignes>\r\n</Messages>\r\n").encode("cp1252")


def run(folder, measure):
    status = folder.root / "QuorvaneClientStatus.json"
    out = folder.root / "out.txt"
    if measure:
        start = time.monotonic()
        proc = folder.start(wrapper=("/usr/bin/time", "-v"))
        proc.wait(timeout=3600)
        return time.monotonic() - start
    proc = folder.start()
    try:
        deadline = time.monotonic() + 600
        # The journal's closing line comes after the status file: then the run has told all.
        while b"Fin de la synchronisation" not in out.read_bytes():
            if time.monotonic() > deadline or proc.poll() is not None:
                raise AssertionError("no closing line: " + out.read_text(errors="replace")[-2000:])
            time.sleep(0.05)
    finally:
        rs.kill(proc)
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--lines", type=int, default=3000)
    parser.add_argument("--measure", action="store_true")
    # Measures a build that may not cap the entries (the one before), without the checks.
    parser.add_argument("--measure-only", action="store_true")
    args = parser.parse_args()
    folder = rs.ProgramFolder(args.binary, categories=(0, 0, 1, 0))
    try:
        (folder.source / "message.xml").write_bytes(message_file(args.lines))
        (folder.source / "message_type.xml").write_bytes(
            rs.xml_file("Messages", [{"Code": "7", "Externe": "5", "Libelle": "Réseau"}]))
        args.measure = args.measure or args.measure_only
        seconds = run(folder, args.measure)
        report = folder.report_text()
        status_text = (folder.root / "QuorvaneClientStatus.json").read_text(encoding="utf-8")
        status = json.loads(status_text)
        journal = (folder.root / "out.txt").read_text(encoding="utf-8", errors="replace")
        if args.measure:
            peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", journal)
            cpu = sum(float(x) for x in re.findall(r"(?:User|System) time \(seconds\): ([\d.]+)",
                                                  journal))
            print("lines %d, message.xml %.1f MB, report %d bytes, status %d bytes, journal %d "
                  "lines, peak %s kB, CPU %.2f s, wall %.2f s (30 s of countdown included)"
                  % (args.lines, (folder.source / "message.xml").stat().st_size / 1e6,
                     folder.report.stat().st_size, len(status_text.encode()),
                     journal.count("\n"),
                     peak.group(1) if peak else "?", cpu, seconds))
        if args.measure_only:
            return 0
        left = args.lines - LISTED
        last = ("[Fonction XmlToTable()] %d autres enregistrements refusés du fichier %s "
                "ne sont pas listés." % (left, folder.root / "Auto" / "message.xml"))

        assert report.count("[Fonction MessageInsertRecords()]") == LISTED, report[-800:]
        assert [e["text"] for e in status["entries"]][-1] == last, status["entries"][-1]
        assert status["entryCount"] == LISTED + 1, status["entryCount"]
        assert journal.count("Erreur (code 1) : " + INSERT) == LISTED
        assert ("Erreur (code 1) : " + last) in journal
        assert report.rstrip().endswith("</div>\r\n" + "-" * 75)
        message = status["categories"]["Message"]["files"][0]
        assert (message["lines"], message["inserted"], message["refused"],
                message["refusedNotListed"]) == (args.lines + 2, 2, args.lines, left), message
        # The category's two files together: message_type.xml adds its one line.
        closing = "Messages téléchargement oui, intégration oui (%s lignes, 0 purgée, 3 " \
                  "ajoutées, %s refusées)" % (french(args.lines + 3), french(args.lines))
        assert closing in journal, journal[-600:]
        rows = rs.snapshot(folder.table_path("Message.DB"), "Message")
        assert [r[0] for r in rows if r[0] in ("HO-A", "HO-B")] == ["HO-A", "HO-B"], rows
        assert rs.integrity(folder.table_path("Message.DB")) == ["ok"]

        print("refusal flood: ok")
    finally:
        folder.close()


if __name__ == "__main__":
    sys.exit(main())
