"""The real program as a fleet's services run it: --unattended and its exit codes beside a run in
the window, the metrics file a monitor scrapes (checked by promtool and scraped by a real
node_exporter on loopback), and the FTP password handed over by the service manager."""

import argparse
import datetime
import fcntl
import hashlib
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "reliability"))
import relsupport  # noqa: E402

DEMO = relsupport.SOURCE_DIR / "demo" / "headoffice"
CATEGORIES = ["Remise_Achat", "Personnalisation", "Message", "Document"]
FAMILIES = ["quorvane_client_run_end_timestamp_seconds", "quorvane_client_run_duration_seconds",
            "quorvane_client_run_entries", "quorvane_client_run_retries",
            "quorvane_client_category_enabled", "quorvane_client_category_downloaded",
            "quorvane_client_category_integrated",
            "quorvane_client_category_last_success_timestamp_seconds",
            "quorvane_client_file_lines", "quorvane_client_file_inserted",
            "quorvane_client_file_deleted", "quorvane_client_file_refused"]
BROKEN_LOAD = "Erreur de chargement du fichier "

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def folder(binary, metrics=None):
    f = relsupport.ProgramFolder(binary)
    for xml in DEMO.iterdir():
        shutil.copy(xml, f.source / xml.name)
    if metrics is not None:
        with open(f.root / "QuorvaneClient.ini", "ab") as ini:
            ini.write(("[Quorvane_Suivi]\r\nFichierMetriques=%s\r\n" % metrics).encode("cp1252"))
    return f


def run(f, args=(), env=None, limit=150):
    """The program with no display at all unless env brings one; (exit code, seconds, stdout,
    stderr)."""
    base = {k: v for k, v in os.environ.items()
            if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "JOURNAL_STREAM",
                         "CREDENTIALS_DIRECTORY", "INVOCATION_ID")}
    base["PATH"] = str(f.root / "bin") + ":" + base.get("PATH", "/usr/bin:/bin")
    base.update(env or {})
    start = time.monotonic()
    done = subprocess.run([str(f.root / "QuorvaneClient"), *args], cwd=f.root, env=base,
                          capture_output=True, timeout=limit)
    return (done.returncode, time.monotonic() - start, done.stdout.decode(),
            done.stderr.decode())


def status(f):
    return json.loads((f.root / "QuorvaneClientStatus.json").read_text(encoding="utf-8"))


def comparable_status(f):
    s = status(f)
    for key in ("start", "end"):
        s.pop(key)
    for entry in s["entries"]:
        entry.pop("time")
        entry["text"] = entry["text"].replace(str(f.root), "ROOT")
    s["report"] = s["report"] and s["report"].replace(str(f.root), "ROOT")
    return s


def comparable_report(f):
    text = f.report_text().replace(str(f.root), "ROOT")
    return re.sub(r"\d{2}[/:-]\d{2}[/:-]\d{2,4}", "T", text)


def parse_metrics(text):
    """The text format as node_exporter reads it, strictly: every sample after its family's HELP
    and TYPE (gauge), known families only, no series twice. {(name, label value): value}."""
    samples, helped, typed = {}, set(), set()
    for line in text.splitlines():
        m = re.fullmatch(r"# HELP (\w+) \S.*", line)
        if m:
            helped.add(m.group(1))
            continue
        m = re.fullmatch(r"# TYPE (\w+) gauge", line)
        if m:
            typed.add(m.group(1))
            continue
        m = re.fullmatch(r'(\w+)(?:\{(\w+)="([^"\\]*)"\})? (-?[0-9.]+)', line)
        assert m, "not a sample line: %r" % line
        name, label_value = m.group(1), m.group(3)
        assert name in FAMILIES and name in helped and name in typed, line
        assert (name, label_value) not in samples, "twice: " + line
        samples[(name, label_value)] = float(m.group(4))
    return samples


def iso_to_unix(text):
    return datetime.datetime.fromisoformat(text).timestamp()


def check_metrics_match_status(metrics_file, f, what):
    samples = parse_metrics(metrics_file.read_text(encoding="utf-8"))
    s = status(f)
    check(samples[("quorvane_client_run_end_timestamp_seconds", None)] == iso_to_unix(s["end"]),
          what + ": end of the run")
    check(samples[("quorvane_client_run_entries", None)] == s["entryCount"], what + ": entries")
    check(samples[("quorvane_client_run_retries", None)] == s["retries"] == 0, what + ": retries")
    check(0 <= samples[("quorvane_client_run_duration_seconds", None)] <= 150, what + ": length")
    for key in CATEGORIES:
        c = s["categories"][key]
        for field in ("enabled", "downloaded", "integrated"):
            check(samples[("quorvane_client_category_" + field, key)] == int(c[field]),
                  "%s: %s %s" % (what, key, field))
        for file in c["files"]:
            for metric, field in (("lines", "lines"), ("inserted", "inserted"),
                                  ("deleted", "deleted"), ("refused", "refused")):
                got = samples.get(("quorvane_client_file_" + metric, file["file"]))
                check(got == (file[field] if file["read"] else None),
                      "%s: %s %s is %s" % (what, file["file"], metric, got))
    return samples


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def scrape_with_node_exporter(directory):
    """node_exporter's textfile collector over the folder, on a free loopback port; its page."""
    for _ in range(5):
        port = free_port()
        exporter = subprocess.Popen(
            ["prometheus-node-exporter", "--web.listen-address=127.0.0.1:%d" % port,
             "--collector.disable-defaults", "--collector.textfile",
             "--collector.textfile.directory=%s" % directory],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 60
            while exporter.poll() is None and time.monotonic() < deadline:
                try:
                    with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port,
                                                timeout=10) as page:
                        return page.read().decode()
                except OSError:
                    time.sleep(0.2)
        finally:
            exporter.terminate()
            exporter.wait()
    raise AssertionError("node_exporter never answered")


def test_exit_codes_metrics_and_window(binary, work):
    metrics_dir = work / "node-exporter"
    metrics_dir.mkdir()
    window = folder(binary, work / "window.prom")
    unattended = folder(binary, metrics_dir / "quorvane.prom")
    try:
        for f in (window, unattended):
            # A file that cannot be loaded: an entry, and the parser's reason in the journal.
            (f.source / "message_type.xml").write_bytes(b'<?xml version="1.0"?>\r\n<Messages>\r\n'
                                                        b"<Lignes><Ligne Code=\"1\"></Lignes>")
        code, _, _, _ = run(window)
        check(code == 0, "a window run with entries ends with 0, not %d" % code)
        # DISPLAY names a server that does not exist: nothing needs it.
        code, seconds, out, err = run(unattended, ["--unattended"],
                                      {"DISPLAY": ":%d" % (os.getpid() % 500 + 300)})
        check(code == 1, "--unattended with entries ends with 1, not %d: %s" % (code, err))
        # No countdown waited (a run of the demo files takes a second or two).
        check(seconds < 25, "--unattended lasted %.1f s" % seconds)
        check(not (unattended.root / "opened.txt").exists(), "--unattended handed the report over")
        check(relsupport.snapshots(window) == relsupport.snapshots(unattended),
              "the tables differ from the window run's")
        check(comparable_status(window) == comparable_status(unattended),
              "the status file differs from the window run's")
        check(comparable_report(window) == comparable_report(unattended),
              "the report differs from the window run's")
        # Which data the store holds: the bytes of each file in Auto/, also the one that did
        # not load; nothing for a file this run did not fetch.
        for c in status(unattended)["categories"].values():
            for file in c["files"]:
                data = (unattended.root / "Auto" / file["file"]).read_bytes()
                check(file["size"] == len(data) and
                      file["sha256"] == hashlib.sha256(data).hexdigest(),
                      "size and hash of %s: %s" % (file["file"], file))
        reason = [line for line in err.splitlines() if line.startswith(BROKEN_LOAD)]
        check(len(reason) == 1 and "message_type.xml" in reason[0] and "(ligne 3)" in reason[0],
              "the journal gives no reason for the broken file: " + err)

        first = {}
        for f, path in ((window, work / "window.prom"),
                        (unattended, metrics_dir / "quorvane.prom")):
            first[f] = check_metrics_match_status(path, f, str(path.name))
        if shutil.which("promtool"):
            with open(metrics_dir / "quorvane.prom", "rb") as metrics:
                done = subprocess.run(["promtool", "check", "metrics"], stdin=metrics,
                                      capture_output=True)
            check(done.returncode == 0, "promtool: %s" % (done.stdout + done.stderr).decode())
        else:
            print("SKIP: promtool is not installed here")

        page = scrape_with_node_exporter(metrics_dir)
        check('node_textfile_scrape_error 0' in page, "node_exporter's scrape failed: " + page)
        for (name, label), value in first[unattended].items():
            series = name if label is None else '%s{%s="%s"}' % (
                name, "categorie" if "category" in name else "fichier", label)
            found = re.search(r"^%s (\S+)$" % re.escape(series), page, re.M)
            check(found is not None and float(found.group(1)) == value,
                  "node_exporter shows %s as %s" % (series, found and found.group(1)))

        # A later run in which the purchase conditions fail to download keeps their last
        # success; the others move to the end of this run.
        time.sleep(1.1)
        (unattended.source / "remise_achat.xml").unlink()
        code, _, _, err = run(unattended, ["--unattended"])
        check(code == 1, "the second run ends with %d" % code)
        second = check_metrics_match_status(metrics_dir / "quorvane.prom", unattended, "second")
        purchases = status(unattended)["categories"]["Remise_Achat"]["files"][0]
        check(purchases["size"] is None and purchases["sha256"] is None,
              "a file not fetched has a size or hash: %s" % purchases)
        last = "quorvane_client_category_last_success_timestamp_seconds"
        end = second[("quorvane_client_run_end_timestamp_seconds", None)]
        check(second[(last, "Remise_Achat")] == first[unattended][(last, "Remise_Achat")] < end,
              "the purchase conditions' last success was not kept")
        check(second[(last, "Personnalisation")] == end, "the last success did not move on")
        check((last, "Message") not in second, "a category that never integrated has a success")
    finally:
        window.close()
        unattended.close()


def test_lock_and_missing_metrics_folder(binary, work):
    f = folder(binary, work / "absent" / "quorvane.prom")
    try:
        (f.root / "QuorvaneClient.lock").touch()
        before = {p: p.read_bytes() for p in f.root.rglob("*") if p.is_file()}
        with open(f.root / "QuorvaneClient.lock", "rb") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            code, _, out, err = run(f, ["--unattended"])
        check(code == 2 and err == "Une synchronisation est déjà en cours.\n" and out == "",
              "while a run holds the lock: %d %r" % (code, err))
        check({p: p.read_bytes() for p in f.root.rglob("*") if p.is_file()} == before,
              "a refused run touched the folder")

        code, _, _, err = run(f, ["--unattended"])
        check(code == 0, "a run without entries ends with %d: %s" % (code, err))
        check(status(f)["entryCount"] == 0 and not f.report.exists(), "entries or a report")
        check(re.search(r"^Le fichier de métriques n'a pas pu être écrit : .*absent", err, re.M),
              "no journal line for the metrics folder that does not exist: " + err)
        check(not (work / "absent").exists(), "the metrics folder was created")
    finally:
        f.close()


def test_password_from_the_service_manager(binary, work):
    f = folder(binary)
    server = subprocess.Popen(["/usr/bin/python3", str(relsupport.SOURCE_DIR / "tests/ftp/ftp_server.py"),
                               "--root", str(DEMO), "--password", "motdepasse-service"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        port = int(server.stdout.readline())
        ini = ("[Setup]\r\nDir=%s\r\n[Quorvane]\r\nRemise_Achat=1\r\nPersonnalisation=1\r\n"
               "Message=1\r\nDocument=1\r\nTypeEnvoi=FTP\r\n[Quorvane_FTP]\r\nLogin=user\r\n"
               "Mdp=\r\nHost=127.0.0.1\r\nPort=%d\r\n" % (f.store, port))
        (f.root / "QuorvaneClient.ini").write_bytes(ini.encode("cp1252"))
        credentials = work / "credentials"
        credentials.mkdir()
        for content, expected in ((b"motdepasse-service\n", 0), (b"motdepasse-service", 0),
                                  (b"faux\n", 1), (b"motdepasse-service\n\n", 1)):
            (credentials / "quorvane-mdp").write_bytes(content)
            code, _, out, _ = run(f, ["--check-connection"],
                                  {"CREDENTIALS_DIRECTORY": str(credentials)})
            check(code == expected, "credential %r: %d %s" % (content, code, out))
        code, _, out, _ = run(f, ["--check-connection"])
        check(code == 1, "the empty Mdp connected: " + out)
        (credentials / "quorvane-mdp").write_bytes(b"motdepasse-service\n")
        code, _, _, err = run(f, ["--unattended"], {"CREDENTIALS_DIRECTORY": str(credentials)})
        check(code == 0 and all(status(f)["categories"][c]["integrated"] for c in CATEGORIES),
              "the FTP run with the service's password: %d %s" % (code, err))
    finally:
        server.terminate()
        server.wait()
        f.close()


def test_read_only_table_folder(binary, work):
    """A table in a folder the service's sandbox keeps read-only, as a read-only bind mount in a
    mount namespace of its own stands for it."""
    if subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode != 0:
        print("SKIP: no mount namespace here")
        return
    f = folder(binary)
    try:
        admin = str(f.admin)
        done = subprocess.run(
            ["unshare", "-m", "sh", "-c",
             'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && shift && exec "$@"',
             "sh", admin, str(f.root / "QuorvaneClient"), "--unattended"],
            cwd=f.root, capture_output=True, timeout=150,
            env={"PATH": "/usr/bin:/bin", "INVOCATION_ID": "%032x" % os.getpid()})
        err = done.stderr.decode()
        check(done.returncode == 1, "the read-only tables end with %d" % done.returncode)
        check(re.search(r"^La table Perso.DB est dans .*Administration.*ReadWritePaths=" +
                        re.escape(admin), err, re.M),
              "no drop-in named for the read-only table folder: " + err)
    finally:
        f.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    binary = parser.parse_args().binary
    work = Path(tempfile.mkdtemp(prefix="quorvane-unattended-"))
    try:
        test_lock_and_missing_metrics_folder(binary, work)
        test_read_only_table_folder(binary, work)
        test_password_from_the_service_manager(binary, work)
        test_exit_codes_metrics_and_window(binary, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
