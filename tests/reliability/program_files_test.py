#!/usr/bin/python3
"""The program's own files of its folder: kills while they are written, and settings files in
the forms the Windows profile reader accepts.

1. strace delays the program's first rename (the report taking its name), then, in a second
   run, its second one (the status file); each run is killed there. The report is then absent
   (the run deleted the previous one as it started) or whole, never cut; the status file is the
   previous run's, whole. A normal run then leaves no temporary file in the program folder.
2. The settings file and ombbde.ini saved as UTF-8 with a byte-order mark; both with CR line
   ends; "TypeEnvoi" in quotes; "Document=1" on a line ending CR CR LF. Each run must integrate
   its category (the status file says so).
"""

import argparse
import json
import shutil
import sys
import time

import relsupport as rs

RENAMES = "rename,renameat,renameat2"


def wait_for(predicate, limit=60):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.02)
    return False


def run_until_status(folder):
    """A whole run, ended once it wrote a new status file (a new inode: it is renamed in)."""
    status = folder.root / "QuorvaneClientStatus.json"
    before = status.stat().st_ino if status.exists() else None
    proc = folder.start()
    try:
        return wait_for(lambda: status.exists() and status.stat().st_ino != before)
    finally:
        rs.kill(proc)


def temporaries(folder):
    return sorted(p.name for p in folder.root.iterdir() if ".partiel-" in p.name)


def killed_writes(binary, failures):
    if shutil.which("strace") is None:
        print("SKIP killed writes: strace is not installed")
        return
    folder = rs.ProgramFolder(binary, categories=(0, 0, 1, 0))
    try:
        # No source folder: one entry and nothing fetched, so the report's rename is the
        # run's first and the status file's its second.
        ini = folder.root / "QuorvaneClient.ini"
        ini.write_bytes(ini.read_bytes().replace(b"URI=" + bytes(folder.source), b"URI="))
        status = folder.root / "QuorvaneClientStatus.json"
        if not run_until_status(folder):
            failures.append("the first run wrote no status file")
            return
        for when, name in ((1, "QuorvaneClientAutoLog.html"), (2, "QuorvaneClientStatus.json")):
            previous = status.read_bytes()
            wrapper = ["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + RENAMES,
                       "-e", "inject=%s:delay_enter=60000000:when=%d" % (RENAMES, when)]
            proc = folder.start(wrapper=wrapper)
            try:
                if not wait_for(lambda: any(t.startswith("." + name) for t in temporaries(folder))):
                    failures.append("no temporary of %s appeared: %s" % (name, temporaries(folder)))
                    return
                # The temporary is renamed only once complete and synced: let the write finish.
                time.sleep(0.3)
            finally:
                rs.kill(proc)
            print("killed while %s took its name; left %s" % (name, temporaries(folder)))
            if folder.report.exists() != (when == 2):
                failures.append("kill %d: report present %s" % (when, folder.report.exists()))
            if folder.report.exists() and not folder.report_complete():
                failures.append("kill %d: the report is cut" % when)
            if status.read_bytes() != previous:
                failures.append("kill %d: the status file changed" % when)
            named = json.loads(previous)["report"]
            if named is not None and folder.report.exists() and not folder.report_complete():
                failures.append("kill %d: the status file names a cut report" % when)

        if not run_until_status(folder):
            failures.append("the run after the kills wrote no status file")
        if not folder.report_complete():
            failures.append("the run after the kills left no whole report")
        if temporaries(folder):
            failures.append("left after a normal run: %s" % temporaries(folder))
        if json.loads(status.read_bytes())["report"] != str(folder.report):
            failures.append("the status file does not name the report")
    finally:
        folder.close()


def settings_form(binary, name, ini_bytes, ombbde_bytes, category, failures):
    folder = rs.ProgramFolder(binary, categories=(0, 0, 0, 0))
    proc = None
    try:
        rs.write_headoffice(folder, 20, 3)
        (folder.root / "QuorvaneClient.ini").write_bytes(ini_bytes(folder))
        if ombbde_bytes is not None:
            (folder.store / "ombbde.ini").write_bytes(ombbde_bytes(folder))
        status = folder.root / "QuorvaneClientStatus.json"
        proc = folder.start()
        if not wait_for(status.exists):
            failures.append("%s: no status file" % name)
            return
        summary = json.loads(status.read_text())
        got = summary["categories"][category]
        print("%s: %s %s, %d entries" % (name, category, got, summary["entryCount"]))
        if not (got["enabled"] and got["integrated"]):
            failures.append("%s: %s not integrated: %s %s"
                            % (name, category, got, [e["text"] for e in summary["entries"]]))
    finally:
        if proc is not None:
            rs.kill(proc)
        folder.close()


def settings_forms(binary, failures):
    def text(folder, category_key, type_envoi="URI"):
        return ("[Quorvane]\n%s=1\nTypeEnvoi=%s\n[Quorvane_URI]\nURI=%s\n[Setup]\nDir=%s\n"
                % (category_key, type_envoi, folder.source, folder.store))

    def alias(folder):
        return "[Alias]\nOmbrelin=%s\n" % folder.store

    bom = b"\xef\xbb\xbf"
    forms = [
        ("byte-order mark", lambda f: bom + text(f, "Message").replace("\n", "\r\n").encode(),
         lambda f: bom + alias(f).replace("\n", "\r\n").encode(), "Message"),
        ("CR line ends", lambda f: text(f, "Message").replace("\n", "\r").encode("cp1252"),
         lambda f: alias(f).replace("\n", "\r").encode("cp1252"), "Message"),
        ("quoted TypeEnvoi", lambda f: text(f, "Message", '"URI"').encode("cp1252"), None,
         "Message"),
        ("CR CR LF line ends", lambda f: text(f, "Document").replace("\n", "\r\r\n").encode(),
         None, "Document"),
    ]
    for name, ini, ombbde, category in forms:
        settings_form(binary, name, ini, ombbde, category, failures)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    args = parser.parse_args()
    failures = []
    killed_writes(args.binary, failures)
    settings_forms(args.binary, failures)
    for f in failures:
        print("FAIL: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
