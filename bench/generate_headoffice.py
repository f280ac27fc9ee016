#!/usr/bin/env python3
"""Writes the head-office files and store tables that bench_integration measures.

Usage: generate_headoffice.py OUTPUT_FOLDER [SCALE]
       generate_headoffice.py OUTPUT_FOLDER --messages LINES

OUTPUT_FOLDER receives Auto/ (the head-office files, Windows-1252), Administration/ (REMISES.DB,
Perso.DB, Message.DB as the store holds them before the run) and Maj/FOURNIS.db. SCALE divides
every count (1 gives the full sizes: 100,000 lines against 100,000 records), so that a profiler
can run the same work on a smaller store. With --messages, only message.xml of LINES lines and
its Message.DB are written (the whole-run measurement's million-line file).
"""

import os
import sqlite3
import sys


def xml_attr(value):
    return value.replace("&", "&amp;").replace("<", "&lt;").replace('"', "&quot;")


def write_headoffice(path, root, lines, purge=False):
    with open(path, "w", encoding="cp1252", newline="\n") as out:
        out.write('<?xml version="1.0" encoding="windows-1252"?>\n')
        out.write("<%s>\n  <Version Numero=\"1.0\"/>\n" % root)
        if purge:
            out.write('  <Configuration ViderExterne="1"/>\n')
        out.write("  <Lignes>\n")
        for attributes in lines:
            out.write("    <Ligne")
            for name, value in attributes:
                out.write(' %s="%s"' % (name, xml_attr(value)))
            out.write("/>\n")
        out.write("  </Lignes>\n</%s>\n" % root)


def fresh_db(path, schema):
    if os.path.exists(path):
        os.remove(path)
    db = sqlite3.connect(path)
    db.executescript(schema)
    return db


REMISES = """
CREATE TABLE REMISES (
    Fournisseur VARCHAR(10) NOT NULL, Type SMALLINT NOT NULL,
    Client VARCHAR(10) NOT NULL DEFAULT '', Famille VARCHAR(10) NOT NULL DEFAULT '',
    Libelle VARCHAR(60), Taux MONEY, Franco MONEY, Coefficient FLOAT, DateDebut DATE,
    DateFin DATE, Cumulable LOGICAL DEFAULT 0,
    PRIMARY KEY (Fournisseur, Type, Client, Famille));
CREATE INDEX RemisesParType ON REMISES (Type, Fournisseur);
"""

FOURNIS = """
CREATE TABLE FOURNIS (Code VARCHAR(10) PRIMARY KEY, Nom VARCHAR(60) NOT NULL,
    Ville VARCHAR(40), Actif LOGICAL DEFAULT 1);
"""

PERSO = """
CREATE TABLE Perso (
    Groupe INTEGER NOT NULL, Famille VARCHAR(10) NOT NULL DEFAULT '',
    Modele VARCHAR(20) NOT NULL DEFAULT '', Fournisseur VARCHAR(10) NOT NULL DEFAULT '',
    Produit VARCHAR(20) NOT NULL DEFAULT '', Libelle VARCHAR(60), PrixConseille MONEY,
    Coefficient FLOAT, Visible LOGICAL DEFAULT 1, DateMaj DATE);
CREATE INDEX PersoParModele ON Perso (Groupe, Famille, Modele);
"""

PERSO_DECLARED = """
CREATE TABLE Perso (
    Groupe TEXT NOT NULL, Famille ALPHA(10) NOT NULL DEFAULT '',
    Modele ALPHA(20) NOT NULL DEFAULT '', Fournisseur ALPHA(10) NOT NULL DEFAULT '',
    Produit ALPHA(20) NOT NULL DEFAULT '', Libelle MEMO, PrixConseille MONEY,
    Coefficient FLOAT, Visible LOGICAL DEFAULT 1, DateMaj DATE);
CREATE INDEX PersoParModele ON Perso (Groupe, Famille, Modele);
"""

MESSAGE = """
CREATE TABLE Message (
    Code VARCHAR(20) PRIMARY KEY, Externe SMALLINT NOT NULL DEFAULT 0, TypeMessage INTEGER,
    Titre VARCHAR(80) NOT NULL, Texte MEMO, DateDebut DATE, DateFin DATE,
    Important LOGICAL DEFAULT 0);
"""


def purchase_conditions(out, scale):
    suppliers = 1000 // scale
    per_supplier = 100
    unknown = max(1, suppliers // 50)
    # The file's suppliers: S0000.. known to the store, then a few the store does not know.
    codes = ["S%04d" % i for i in range(suppliers - unknown)] + \
        ["X%04d" % i for i in range(unknown)]
    lines = []
    for n in range(per_supplier):
        for code in codes:
            lines.append([
                ("Fournisseur", code), ("Type", "2"), ("Famille", "F%03d" % n),
                ("Libelle", "Remise réseau %s n°%d" % (code, n)),
                ("Taux", "%d,%02d" % (n % 40, n % 100)), ("Franco", "1 500,00"),
                ("Coefficient", "1.05"), ("DateDebut", "01/01/2027"),
                ("DateFin", "2027-12-31"), ("Cumulable", "non"),
            ])
    write_headoffice(os.path.join(out, "Auto", "remise_achat.xml"), "RemisesAchat", lines)

    db = fresh_db(os.path.join(out, "Maj", "FOURNIS.db"), FOURNIS)
    db.executemany("INSERT INTO FOURNIS VALUES (?, ?, 'Ville', 1)",
                   [("S%04d" % i, "Fournisseur %d" % i) for i in range(5000 // scale)])
    db.commit()
    db.close()

    # 100,000 records: 50 for each of the file's suppliers (30 network-wide ones that the file
    # replaces, 20 the store keeps) and 50 for as many suppliers the file does not name.
    rows = []
    others = ["S%04d" % (2000 + i) for i in range(suppliers)]
    for code in codes + others:
        for n in range(30):
            rows.append((code, 2, "", "F%03d" % n, "Ancienne remise", 10.0, 150.0))
        for n in range(10):
            rows.append((code, 1, "", "F%03d" % n, "Remise magasin", 3.0, 0.0))
            rows.append((code, 2, "C%03d" % n, "F%03d" % n, "Remise client", 15.0, 0.0))
    db = fresh_db(os.path.join(out, "Administration", "REMISES.DB"), REMISES)
    db.executemany("INSERT INTO REMISES (Fournisseur, Type, Client, Famille, Libelle, Taux, "
                   "Franco) VALUES (?, ?, ?, ?, ?, ?, ?)", rows)
    db.commit()
    db.close()


def personalisation(out, scale):
    count = 100000 // scale
    keys = [(1 + i % 20, "FAM%02d" % (i // 20 % 50), "MOD%05d" % (i // 1000)) for i in range(count)]
    lines = [[
        ("Groupe", str(g)), ("Famille", f), ("Modele", m),
        ("Libelle", "Modèle %s %s édition réseau" % (f, m)), ("PrixConseille", "95,00"),
        ("Coefficient", "2,2"), ("Visible", "1"), ("DateMaj", "15/11/2026"),
    ] for g, f, m in keys]
    write_headoffice(os.path.join(out, "Auto", "personnalisation.xml"), "Personnalisations", lines)

    # A third are general records of the file's keys; the rest are restricted to a supplier or a
    # product, or belong to models the file does not name.
    rows = []
    for i in range(count):
        g, f, m = keys[i]
        if i % 3 == 0:
            rows.append((g, f, m, "", "", "Ancien libellé"))
        elif i % 3 == 1:
            rows.append((g, f, m, "ALPINA", "", "Chez Alpina"))
        else:
            rows.append((g + 100, f, m, "", "", "Modèle du magasin"))
    db = fresh_db(os.path.join(out, "Administration", "Perso.DB"), PERSO)
    db.executemany("INSERT INTO Perso (Groupe, Famille, Modele, Fournisseur, Produit, Libelle, "
                   "PrixConseille, Coefficient) VALUES (?, ?, ?, ?, ?, ?, 89, 2.1)", rows)
    db.commit()
    db.close()

    # The same records as a store may declare them: the group as text (a third of them written
    # with a leading zero), the texts ALPHA and MEMO. No SQL comparison reads '05' as 5, so the
    # program finds them through its own lookup.
    os.makedirs(os.path.join(out, "Administration-declared"), exist_ok=True)
    db = fresh_db(os.path.join(out, "Administration-declared", "Perso.DB"), PERSO_DECLARED)
    db.executemany("INSERT INTO Perso (Groupe, Famille, Modele, Fournisseur, Produit, Libelle, "
                   "PrixConseille, Coefficient) VALUES (?, ?, ?, ?, ?, ?, 89, 2.1)",
                   [(("%02d" if i % 3 == 0 else "%d") % row[0],) + row[1:]
                    for i, row in enumerate(rows)])
    db.commit()
    db.close()


def messages(out, count):
    # A generator: a million lines are written without being held.
    lines = ([
        ("Code", "HO-N%06d" % i), ("Externe", "5"), ("TypeMessage", str(1 + i % 4)),
        ("Titre", "Message du siège n°%d" % i),
        ("Texte", "Les nouveautés arrivent en février : préparez vos vitrines."),
        ("DateDebut", "01/12/2026"), ("DateFin", "2026-12-31"), ("Important", "0"),
    ] for i in range(count))
    write_headoffice(os.path.join(out, "Auto", "message.xml"), "Messages", lines, purge=True)

    rows = [("HO-A%06d" % i, 5, "Ancien message du siège") for i in range(count // 2)]
    rows += [("MAG-%06d" % i, 0, "Message du magasin") for i in range(count // 20)]
    db = fresh_db(os.path.join(out, "Administration", "Message.DB"), MESSAGE)
    db.executemany("INSERT INTO Message (Code, Externe, Titre) VALUES (?, ?, ?)", rows)
    db.commit()
    db.close()

    # "Externe" as text, as a store may declare it: the purge goes through the program's own
    # lookup, from one head-office record to the next.
    os.makedirs(os.path.join(out, "Administration-declared"), exist_ok=True)
    db = fresh_db(os.path.join(out, "Administration-declared", "Message.DB"),
                  MESSAGE.replace("Externe SMALLINT", "Externe VARCHAR(2)"))
    db.executemany("INSERT INTO Message (Code, Externe, Titre) VALUES (?, ?, ?)",
                   [(code, "%02d" % externe, title) for code, externe, title in rows])
    db.commit()
    db.close()


def main():
    out = sys.argv[1]
    for sub in ("Auto", "Administration", "Maj"):
        os.makedirs(os.path.join(out, sub), exist_ok=True)
    if len(sys.argv) > 3 and sys.argv[2] == "--messages":
        messages(out, int(sys.argv[3]))
        return
    scale = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    purchase_conditions(out, scale)
    personalisation(out, scale)
    messages(out, 100000 // scale)


if __name__ == "__main__":
    main()
