"""Shared pieces of the reliability tests: a program folder with a large store, head-office files
in Windows-1252, starting the real executable offscreen, and table snapshots read with sqlite3.

Everything is made under a temporary folder and uses loopback only.
"""

import os
import random
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[2]
TABLES_SQL = SOURCE_DIR / "demo" / "tables"

# file name -> (root element, table file, table name)
HEADOFFICE_FILES = {
    "remise_achat.xml": ("RemisesAchat", "REMISES.DB", "REMISES"),
    "personnalisation.xml": ("Personnalisations", "Perso.DB", "Perso"),
    "message.xml": ("Messages", "Message.DB", "Message"),
    "message_type.xml": ("Messages", "MessageType.DB", "MessageType"),
    "mes_docs.xml": ("Documents", "MesDocs.DB", "MesDocs"),
    "mes_docs_type.xml": ("Documents", "MesDocsType.DB", "MesDocsType"),
}
TABLES = [t for (_, t, _) in HEADOFFICE_FILES.values()]
SUPPLIERS = ["ALPINA", "BOREAL", "CELESTE", "DIVERS"]

LOAD_FAILURE = "[Fonction XmlToTable()] Une erreur est survenue au chargement du fichier :\n"
DUPLICATE_CODE = "HO-DOUBLE"


# A time-out of the test runner ends the driver with SIGTERM: leave through the finally blocks, so
# that the program started in its own session is ended and the temporary folder removed.
signal.signal(signal.SIGTERM, lambda *_: sys.exit("ended by SIGTERM"))


# The environment of a desktop session as the program sees it, drawn offscreen: with a display
# announced the report is handed to the (stand-in) viewer; headless it is not.
ANNOUNCED_DISPLAY = {"DISPLAY": ":quorvane-essai", "QT_QPA_PLATFORM": "offscreen"}


def table_name(table_file):
    return table_file.rsplit(".", 1)[0]


class ProgramFolder:
    """A program folder as the package installs it: the executable, its settings, Auto/ and a
    store (ombrelin/) whose tables are made by the same SQL as the demo store."""

    def __init__(self, binary, categories=(1, 1, 1, 1), net_dir=False):
        self.root = Path(tempfile.mkdtemp(prefix="quorvane-rel-"))
        self.source = self.root / "headoffice"
        self.store = self.root / "ombrelin"
        self.admin = self.store / "Administration"
        for sub in ("Auto", "bin", "headoffice", "ombrelin/Administration", "ombrelin/Tarifs",
                    "ombrelin/Maj", "netdir"):
            (self.root / sub).mkdir(parents=True, exist_ok=True)
        shutil.copy2(binary, self.root / "QuorvaneClient")
        # Stand-in for the desktop's viewer: records what the program asks to open.
        xdg = self.root / "bin" / "xdg-open"
        # The record is replaced by a rename so that a poll never reads it half-written.
        xdg.write_text("#!/bin/sh\nf='%s'\n"
                       '{ cat "$f" 2>/dev/null; echo "$@"; } > "$f.$$" && mv "$f.$$" "$f"\n'
                       % (self.root / "opened.txt"))
        xdg.chmod(0o755)
        for sql in sorted(TABLES_SQL.glob("*.sql")):
            folder = self.store / ("Maj" if sql.stem == "FOURNIS" else "Administration")
            suffix = ".db" if sql.stem == "FOURNIS" else ".DB"
            with sqlite3.connect(folder / (sql.stem + suffix)) as db:
                db.executescript(sql.read_text(encoding="utf-8"))
            db.close()
        alias = "[Alias]\r\nOmbrelin=%s\r\n" % self.store
        if net_dir:
            alias += "NetDir=%s\r\n" % (self.root / "netdir")
        (self.store / "ombbde.ini").write_bytes(alias.encode("cp1252"))
        ra, perso, msg, doc = categories
        ini = ("[Setup]\r\nDir=%s\r\n[Quorvane]\r\nRemise_Achat=%d\r\nPersonnalisation=%d\r\n"
               "Message=%d\r\nDocument=%d\r\nTypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=%s\r\n"
               % (self.store, ra, perso, msg, doc, self.source))
        (self.root / "QuorvaneClient.ini").write_bytes(ini.encode("cp1252"))

    def close(self):
        # The program hands its report to xdg-open detached, in a session of its own that the
        # kill of the program's session does not reach: the stand-in viewer may still be writing
        # opened.txt while the folder is removed. Retry for a while before giving up on it.
        # A file vanishing under the removal (the stand-in's record being renamed) is retried
        # too: it is not the folder being gone.
        for _ in range(50):
            if not self.root.exists():
                return
            try:
                shutil.rmtree(self.root)
                return
            except OSError:
                time.sleep(0.1)
        shutil.rmtree(self.root, ignore_errors=True)

    @property
    def report(self):
        return self.root / "QuorvaneClientAutoLog.html"

    def report_text(self):
        return self.report.read_bytes().decode("cp1252")

    def report_complete(self):
        """The report is written line by line; its closing separator is the last line."""
        if not self.report.exists():
            return False
        return self.report_text().rstrip().endswith("</div>\r\n" + "-" * 75)

    def journal(self, table_file):
        return self.admin / (table_file + "-journal")

    def table_path(self, table_file):
        return self.admin / table_file

    def start(self, extra_env=None, wrapper=()):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        env["PATH"] = str(self.root / "bin") + ":" + env.get("PATH", "/usr/bin:/bin")
        env.update(ANNOUNCED_DISPLAY)
        env.update(extra_env or {})
        out = open(self.root / "out.txt", "ab")
        try:
            return subprocess.Popen(list(wrapper) + [str(self.root / "QuorvaneClient")],
                                    cwd=self.root, env=env, stdout=out, stderr=out,
                                    start_new_session=True)
        finally:
            out.close()

    def run_until_report(self, limit=300.0, commits=None):
        """Runs the program until its report is complete (every table is written before the
        report), then ends it without waiting for the countdown. Returns the seconds taken.
        With a dict as `commits`, records under "<table>-journal" the first poll that saw the
        table's journal, and under "<table>" the first later poll that saw it gone (its commit):
        both from the same clock and the second strictly after the first, so their difference
        is a span, never negative. A transaction that begins and ends between two polls is not
        recorded."""
        if self.report.exists():
            self.report.unlink()
        start = time.monotonic()
        proc = self.start()
        try:
            while time.monotonic() - start < limit:
                if commits is not None:
                    for t in TABLES:
                        journal = self.journal(t).exists()
                        now = time.monotonic() - start
                        if (t + "-journal") not in commits:
                            if journal:
                                commits[t + "-journal"] = now
                        elif t not in commits and not journal:
                            commits[t] = now
                if self.report_complete():
                    return time.monotonic() - start
                if proc.poll() is not None:
                    raise AssertionError("the program ended (code %s) before its report"
                                         % proc.returncode)
                time.sleep(0.02)
            raise AssertionError("no complete report within %.0f s" % limit)
        finally:
            kill(proc)


def kill(proc):
    if proc.poll() is None:
        os.killpg(proc.pid, signal.SIGKILL)
    proc.wait()


def integrity(db_path):
    with sqlite3.connect(db_path) as db:
        result = db.execute("PRAGMA integrity_check").fetchall()
    db.close()
    return [r[0] for r in result]


def snapshot(db_path, table):
    """Every row of the table, as a sorted list (table order is not part of the contract for a
    table without a key; the content is)."""
    with sqlite3.connect(db_path) as db:
        rows = db.execute('SELECT * FROM "%s"' % table).fetchall()
    db.close()
    return sorted(rows, key=repr)


def snapshots(folder):
    return {t: snapshot(folder.table_path(t), table_name(t)) for t in TABLES}


def xml_file(root, lines, viderexterne=None):
    parts = ['<?xml version="1.0" encoding="windows-1252"?>', "<%s>" % root,
             '  <Version Numero="1.0"/>']
    if viderexterne is not None:
        parts.append('  <Configuration ViderExterne="%d"/>' % viderexterne)
    parts.append("  <Lignes>")
    parts.extend("    <Ligne %s/>" % " ".join('%s="%s"' % kv for kv in line.items())
                 for line in lines)
    parts += ["  </Lignes>", "</%s>" % root, ""]
    return "\r\n".join(parts).encode("cp1252")


def write_headoffice(folder, lines, state):
    """Head-office files of `lines` lines per table, accented texts in Windows-1252. Messages and
    documents ask for the purge of earlier head-office records so that a second run gives the
    same tables. message.xml repeats one code: the refused line makes every run end with a
    report, written after the last table."""
    rnd = random.Random(state)
    fam = ["MONT", "SOL", "LENT", "VERR", "ACC"]
    remises = [{"Fournisseur": SUPPLIERS[i % 4], "Type": "2", "Famille": "N%05d" % i,
                "Libelle": "Remise réseau n°%d « été »" % i,
                "Taux": "%d,%02d" % (rnd.randrange(40), rnd.randrange(100)),
                "Franco": "1 500,00", "Coefficient": "1,05", "DateDebut": "01/01/2027",
                "DateFin": "2027-12-31", "Cumulable": "oui" if i % 2 else "non"}
               for i in range(lines)]
    perso = [{"Groupe": str(i % 50), "Famille": fam[i % 5], "Modele": "MOD%05d" % i,
              "Libelle": "Modèle %d – édition réseau" % i, "PrixConseille": "%d,90" % (i % 300),
              "Coefficient": "2,2", "Visible": "1", "DateMaj": "15/11/2026"} for i in range(lines)]
    messages = [{"Code": "HO-%06d" % i, "Externe": "5", "TypeMessage": str(1 + i % 9),
                 "Titre": "Message n°%d du siège" % i, "Texte": "Préparez vos vitrines : fêtes",
                 "DateDebut": "01/12/2026", "DateFin": "31/12/2026", "Important": str(i % 2)}
                for i in range(lines)]
    messages.insert(len(messages) // 2, {"Code": DUPLICATE_CODE, "Externe": "5", "Titre": "Un"})
    messages.insert(len(messages) // 2 + 1, {"Code": DUPLICATE_CODE, "Externe": "5",
                                             "Titre": "Deux"})
    message_types = [{"Code": str(100 + i), "Externe": "5", "Libelle": "Qualité %d" % i}
                     for i in range(lines)]
    docs = [{"Code": "DOC-%06d" % i, "Externe": "5", "TypeDoc": str(1 + i % 7),
             "Titre": "Consignes de sécurité %d" % i, "Fichier": "sécurité-%d.pdf" % i,
             "Taille": str(1000 + i), "Publication": "01/12/2026 08:30"} for i in range(lines)]
    doc_types = [{"Code": str(100 + i), "Externe": "5", "Libelle": "Procédure %d" % i}
                 for i in range(lines)]
    files = {"remise_achat.xml": (remises, None), "personnalisation.xml": (perso, None),
             "message.xml": (messages, 1), "message_type.xml": (message_types, 1),
             "mes_docs.xml": (docs, 1), "mes_docs_type.xml": (doc_types, 1)}
    for name, (content, purge) in files.items():
        (folder.source / name).write_bytes(xml_file(HEADOFFICE_FILES[name][0], content, purge))


def fill_store(folder, lines):
    """Earlier head-office records the run must replace, and store records it must keep."""
    admin = folder.admin
    with sqlite3.connect(admin / "REMISES.DB") as db:
        db.executemany("INSERT INTO REMISES VALUES (?,2,'',?,?,5,0,1.0,'2026-01-01',NULL,0)",
                       [(SUPPLIERS[i % 4], "O%05d" % i, "Ancienne remise %d" % i)
                        for i in range(lines)])
    db.close()
    with sqlite3.connect(admin / "Perso.DB") as db:
        db.executemany("INSERT INTO Perso VALUES (?,?,?,'','',?,10,2.0,1,'2025-01-01')",
                       [(i % 50, ["MONT", "SOL", "LENT", "VERR", "ACC"][i % 5], "MOD%05d" % i,
                         "Ancien libellé %d" % i) for i in range(0, lines, 2)])
    db.close()
    for table, code in (("Message", "OLD-%06d"), ("MesDocs", "OLDDOC-%06d")):
        with sqlite3.connect(admin / (table + ".DB")) as db:
            if table == "Message":
                db.executemany("INSERT INTO Message VALUES (?,5,1,?,'ancien',NULL,NULL,0)",
                               [(code % i, "Ancien %d" % i) for i in range(lines)])
            else:
                db.executemany("INSERT INTO MesDocs VALUES (?,5,1,?,'a.pdf',1,NULL)",
                               [(code % i, "Ancien %d" % i) for i in range(lines)])
        db.close()
    for table in ("MessageType", "MesDocsType"):
        with sqlite3.connect(admin / (table + ".DB")) as db:
            db.executemany("INSERT INTO %s VALUES (?,5,?)" % table,
                           [(100000 + i, "Ancien type %d" % i) for i in range(lines)])
        db.close()
