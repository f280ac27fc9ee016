#!/usr/bin/python3
"""Broken head-office files through a real run in folder mode.

Each case replaces personnalisation.xml in the source folder; messages are integrated too, from a
small valid file whose one refused duplicate line makes every run end with a report written after
the last table. For each case the run must report exactly the expected entries, leave Perso as it
was, stay under a memory ceiling (the program's VmHWM, read before it is ended), end within a time limit and
open no network connection. The hostile cases (an entity expanded thousands of times, a line of
200,000 attributes) must also cost no more than HOSTILE_CPU seconds of CPU and HOSTILE_MEMORY of
memory beyond what the run with a truncated file costs: the http entity points at a listening socket on 127.0.0.1 that must
see no connection, and the run is traced with strace (when present) for connect() calls other than
to local (AF_UNIX) sockets.
"""

import argparse
import os
import re
import shutil
import socket
import sys
import tempfile
import time

import relsupport as rs

MEMORY_CEILING_KB = 400 * 1024
TIME_LIMIT = 60.0
HOSTILE_CPU = 2.0
HOSTILE_MEMORY_KB = 32 * 1024
HOSTILE = ("entity amplification", "200,000 attributes")


def head(root="Personnalisations", doctype=""):
    return ('<?xml version="1.0" encoding="windows-1252"?>\r\n' + doctype +
            "<%s>\r\n  <Version Numero=\"1.0\"/>\r\n  <Lignes>\r\n" % root).encode("cp1252")


LIGNE = '    <Ligne Groupe="9" Famille="MONT" Modele="CASSÉ" Libelle="Modèle cassé"/>\r\n'
TAIL = "  </Lignes>\r\n</Personnalisations>\r\n"


def whole(doctype="", line=LIGNE):
    return head(doctype=doctype) + (line + TAIL).encode("cp1252")


def cases(port):
    laughs = "".join('<!ENTITY l%d "%s">' % (i, "&l%d;" % (i - 1) * 10) for i in range(1, 10))
    return {
        "truncated": whole()[: len(whole()) - 30],
        # Written by a Windows-1252 editor but declared UTF-8: "é" alone is no UTF-8 sequence.
        "wrong encoding bytes": whole().replace(b"windows-1252", b"UTF-8"),
        "wrong root": whole().replace(b"Personnalisations", b"Remises"),
        "1,000,000-deep nesting": head() + b"<a>" * 1_000_000 + b"</a>" * 1_000_000 +
        TAIL.encode(),
        "50 MB attribute": head() + b'    <Ligne Groupe="9" Famille="MONT" Modele="X" Libelle="' +
        b"\xe9" * (50 * 1024 * 1024) + b'"/>\r\n' + TAIL.encode(),
        "external entity file": whole('<!DOCTYPE Personnalisations [<!ENTITY x SYSTEM '
                                      '"file:///etc/passwd">]>\r\n',
                                      LIGNE.replace("Modèle cassé", "&x;")),
        "external entity http": whole('<!DOCTYPE Personnalisations [<!ENTITY x SYSTEM '
                                      '"http://127.0.0.1:%d/x.xml">]>\r\n' % port,
                                      LIGNE.replace("Modèle cassé", "&x;")),
        "external DTD http": whole('<!DOCTYPE Personnalisations SYSTEM '
                                   '"http://127.0.0.1:%d/p.dtd">\r\n' % port),
        "billion laughs": whole('<!DOCTYPE Personnalisations [<!ENTITY l0 "lol">%s]>\r\n'
                                % laughs, LIGNE.replace("Modèle cassé", "&l9;")),
        # One 100 KB entity referenced 4,000 times in one attribute: 400 MB once expanded.
        "entity amplification": whole('<!DOCTYPE Personnalisations [<!ENTITY b "%s">]>\r\n'
                                      % ("x" * 100000),
                                      LIGNE.replace("Modèle cassé", "&b;" * 4000)),
        # libxml2 checks each attribute of a tag against all those before it.
        "200,000 attributes": whole(line=LIGNE.replace(
            "/>", "".join(' a%d=""' % i for i in range(200000)) + "/>")),
    }


def run_case(folder, name, content, strace):
    (folder.source / "personnalisation.xml").write_bytes(content)
    for leftover in (folder.root / "Auto").iterdir():
        leftover.unlink()
    if folder.report.exists():
        folder.report.unlink()
    trace = folder.root / "trace.txt"
    wrapper = ["strace", "-f", "-qq", "-e", "trace=connect", "-o", str(trace)] if strace else []
    start = time.monotonic()
    proc = folder.start(wrapper=wrapper)
    finished = False
    while time.monotonic() - start < TIME_LIMIT:
        if folder.report_complete():
            finished = True
            break
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    seconds = time.monotonic() - start
    peak_kb, cpu = program_usage(proc.pid)
    rs.kill(proc)
    connects = []
    if strace and trace.exists():
        connects = [line for line in trace.read_text().splitlines()
                    if "connect(" in line and "AF_UNIX" not in line]
    return finished, seconds, peak_kb, cpu, connects


def program_usage(session):
    """Peak resident memory (VmHWM, in KB) and CPU seconds (user + system) of the program
    itself, found among the processes of the session it was started in (strace, when used, is
    its parent)."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            stat = open("/proc/%s/stat" % entry).read()
            fields = stat.rsplit(")", 1)[1].split()
            if int(fields[3]) != session or "(QuorvaneClient)" not in stat:
                continue
            cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
            for line in open("/proc/%s/status" % entry):
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]), cpu
        except (OSError, IndexError, ValueError):
            continue
    raise AssertionError("the program's process was not found")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    args = parser.parse_args()
    strace = shutil.which("strace") is not None
    failures = []
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    listener.setblocking(False)
    port = listener.getsockname()[1]
    folder = rs.ProgramFolder(args.binary, categories=(0, 1, 1, 0))
    try:
        rs.write_headoffice(folder, 20, 3)
        for extra in ("remise_achat.xml", "mes_docs.xml", "mes_docs_type.xml"):
            (folder.source / extra).unlink()
        perso = rs.snapshot(folder.table_path("Perso.DB"), "Perso")
        auto_path = str(folder.root / "Auto" / "personnalisation.xml")
        load_failure = rs.LOAD_FAILURE + auto_path
        usage = {}
        for name, content in cases(port).items():
            finished, seconds, maxrss, cpu, connects = run_case(folder, name, content, strace)
            usage[name] = (maxrss, cpu)
            print("%-24s %6.1f MB file: %s in %.1f s, CPU %.2f s, peak memory %d MB, connects %d"
                  % (name, len(content) / 1e6, "report" if finished else "NO REPORT", seconds,
                     cpu, maxrss // 1024, len(connects)))
            if connects:
                failures.append("%s: network connection attempted: %r" % (name, connects))
            try:
                conn, _ = listener.accept()
                conn.close()
                failures.append("%s: something connected to the http entity's server" % name)
            except BlockingIOError:
                pass
            if not finished:
                failures.append("%s: no complete report within %.0f s" % (name, TIME_LIMIT))
                continue
            entries = re.findall(r'<div class="message" code="(\d)" heure="[^"]*">(.*?)</div>',
                                 folder.report_text(), re.S)
            texts = [t for _, t in entries if rs.DUPLICATE_CODE not in t and
                     "Violation de clé" not in t]
            expected = [] if name == "wrong root" else [load_failure]
            if texts != expected or any(code != "1" for code, _ in entries):
                failures.append("%s: entries %r, expected %r" % (name, entries, expected))
            if len(entries) != len(expected) + 1:
                failures.append("%s: the message category did not run after it: %r"
                                % (name, entries))
            if rs.snapshot(folder.table_path("Perso.DB"), "Perso") != perso:
                failures.append("%s: Perso was changed" % name)
            if maxrss > MEMORY_CEILING_KB:
                failures.append("%s: peak memory %d MB" % (name, maxrss // 1024))
        base_kb, base_cpu = usage["truncated"]
        for name in HOSTILE:
            maxrss, cpu = usage[name]
            if cpu > base_cpu + HOSTILE_CPU:
                failures.append("%s: %.2f s of CPU, the truncated file's run %.2f s"
                                % (name, cpu, base_cpu))
            if maxrss > base_kb + HOSTILE_MEMORY_KB:
                failures.append("%s: peak memory %d MB, the truncated file's run %d MB"
                                % (name, maxrss // 1024, base_kb // 1024))
    finally:
        listener.close()
        folder.close()
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
