#!/usr/bin/python3
"""Kills the real program with SIGKILL at random moments of its integration and checks the store.

Each head-office file is integrated in one transaction of its table, so after any kill every
table must pass PRAGMA integrity_check and hold either the whole effect of its file or none of
it: it must equal its snapshot before the run or its snapshot after an uninterrupted run. A
table of a two-file category (messages, documents) may be 'after' while its twin is 'before':
the unit is the file, not the category. A normal run afterwards must then bring every table to
its 'after' snapshot, since every file of this store is idempotent on a second run.

CI version (ctest):  kill_test.py --trials 12 --lines 3000
Long version:        kill_test.py --trials 60 --lines 30000
A failing trial prints its --random-state; pass it again to replay the same kill moments.
"""

import argparse
import random
import shutil
import sqlite3
import sys
import time

import relsupport as rs


def restore(folder, pristine):
    for table in rs.TABLES:
        for leftover in (folder.admin.glob(table + "-*")):
            leftover.unlink()
        shutil.copy2(pristine / table, folder.table_path(table))
    for name in folder.root.joinpath("Auto").iterdir():
        name.unlink()
    if folder.report.exists():
        folder.report.unlink()


def checked_copy(folder, table):
    check = folder.root / "check"
    shutil.rmtree(check, ignore_errors=True)
    check.mkdir()
    for source in folder.admin.glob(table + "*"):
        shutil.copy2(source, check / source.name)
    return check / table


def report_entries(folder):
    """The entry texts of the report, without their times."""
    text = folder.report_text()
    return [line.split('">', 1)[1] for line in text.split("\r\n")
            if line.startswith('<div class="message" code=')]


def kill_between_files(folder, pristine, before, after, reference_entries):
    """Another process holds the write lock of one table, so the program, which integrates the
    files in their order, has committed every table before it once those read as after a run;
    the kill then lands while it waits (or later): the held table must still be as before."""
    held = "MesDocs.DB"
    earlier = rs.TABLES[:rs.TABLES.index(held)]
    failures = []
    restore(folder, pristine)
    holder = sqlite3.connect(folder.table_path(held), isolation_level=None)
    holder.execute("BEGIN IMMEDIATE")
    proc = folder.start()
    try:
        give_up = time.monotonic() + 300
        while time.monotonic() < give_up and proc.poll() is None:
            try:
                if all(rs.snapshot(folder.table_path(t), rs.table_name(t)) == after[t]
                       for t in earlier):
                    break
            except sqlite3.OperationalError:
                pass  # the program is committing: read again at the next poll
            time.sleep(0.05)
    finally:
        rs.kill(proc)
        holder.execute("ROLLBACK")
        holder.close()
    for table in rs.TABLES:
        if rs.integrity(folder.table_path(table)) != ["ok"]:
            failures.append("held-table kill: %s integrity_check failed" % table)
            continue
        now = rs.snapshot(folder.table_path(table), rs.table_name(table))
        if table in earlier and now != after[table]:
            failures.append("held-table kill: %s was not integrated before the held table"
                            % table)
        if table == held and now != before[table]:
            failures.append("held-table kill: the held table %s changed" % table)
    print("held-table kill: %s" % " ".join(
        "%s=%s" % (rs.table_name(t),
                   "A" if rs.snapshot(folder.table_path(t), rs.table_name(t)) == after[t]
                   else "B") for t in rs.TABLES))
    folder.run_until_report()
    for table in rs.TABLES:
        if rs.snapshot(folder.table_path(table), rs.table_name(table)) != after[table]:
            failures.append("held-table kill: after the second run %s is not as after an "
                            "uninterrupted run" % table)
    if report_entries(folder) != reference_entries:
        failures.append("held-table kill: the second run reported %r"
                        % report_entries(folder)[:5])
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--trials", type=int, default=12)
    parser.add_argument("--lines", type=int, default=3000)
    parser.add_argument("--random-state", type=int, default=None)
    args = parser.parse_args()
    state = args.random_state if args.random_state is not None else int(time.time())
    print("kill_test: --random-state %d --trials %d --lines %d" % (state, args.trials, args.lines))
    rnd = random.Random(state)

    # Writers take turns through the lock file of NetDir: a killed writer must not leave the
    # turn taken for the next run.
    folder = rs.ProgramFolder(args.binary, net_dir=True)
    failures = []
    try:
        rs.fill_store(folder, args.lines)
        rs.write_headoffice(folder, args.lines, state)
        pristine = folder.root / "pristine"
        pristine.mkdir()
        for table in rs.TABLES:
            shutil.copy2(folder.table_path(table), pristine / table)
        before = rs.snapshots(folder)

        commits = {}
        seconds = folder.run_until_report(commits=commits)
        after = rs.snapshots(folder)
        reference_entries = report_entries(folder)
        spans = [(t, commits[t] - commits[t + "-journal"]) for t in rs.TABLES
                 if t in commits and t + "-journal" in commits]
        print("uninterrupted run: report after %.2f s, %d entries; tables written at %s"
              % (seconds, len(reference_entries),
                 ", ".join("%s %.2f s" % (t, c) for t, c in sorted(commits.items(),
                                                                  key=lambda kv: kv[1]))))
        for table in rs.TABLES:
            if before[table] == after[table]:
                failures.append("%s: the run did not change the table" % table)
        duplicates = [e for e in reference_entries if "Violation de clé" in e]
        if len(duplicates) != 1 or not duplicates[0].startswith(
                "[Fonction MessageInsertRecords()] Erreur à l'insertion de l'enregistrement "):
            failures.append("expected exactly one refused duplicate line, got %r"
                            % reference_entries)

        mixed = 0
        journals = 0
        counts = {"before": 0, "after": 0}
        for trial in range(args.trials):
            restore(folder, pristine)
            # Half the kills at a moment of the run, half inside one table's transaction:
            # from the moment its journal appears, a random part of the time it took to commit
            # in the uninterrupted run (a little more, to land just after the commit too).
            proc = folder.start()
            if trial % 2 == 0 or not spans:
                moment = rnd.uniform(0.5, seconds)
                time.sleep(moment)
                where = "%.3f s" % moment
            else:
                table, length = rnd.choice(spans)
                delay = rnd.uniform(0.0, length * 1.2)
                give_up = time.monotonic() + 3 * seconds
                while not folder.journal(table).exists() and time.monotonic() < give_up:
                    time.sleep(0.001)
                time.sleep(delay)
                where = "%.3f s into %s" % (delay, rs.table_name(table))
            rs.kill(proc)
            states = {}
            for table in rs.TABLES:
                # Checked on a copy (with its journal, which the first reader rolls back), so
                # that the program's own next run still meets what the kill left.
                copy = checked_copy(folder, table)
                if folder.admin.joinpath(table + "-journal").exists():
                    journals += 1
                check = rs.integrity(copy)
                if check != ["ok"]:
                    failures.append("trial %d: %s integrity_check %r" % (trial, table, check))
                    continue
                now = rs.snapshot(copy, rs.table_name(table))
                if now == before[table]:
                    states[table] = "before"
                elif now == after[table]:
                    states[table] = "after"
                else:
                    failures.append("trial %d (kill at %s): %s holds part of its file "
                                    "(%d rows; before %d, after %d)"
                                    % (trial, where, table, len(now), len(before[table]),
                                       len(after[table])))
            for s in states.values():
                counts[s] += 1
            if "before" in states.values() and "after" in states.values():
                mixed += 1
            print("trial %2d: kill at %s: %s" % (
                trial, where, " ".join("%s=%s" % (rs.table_name(t), s[0].upper())
                                        for t, s in states.items())))

            # A normal run over whatever the kill left.
            folder.run_until_report()
            for table in rs.TABLES:
                check = rs.integrity(folder.table_path(table))
                now = rs.snapshot(folder.table_path(table), rs.table_name(table))
                if check != ["ok"] or now != after[table]:
                    failures.append("trial %d: after the second run %s is not as after an "
                                    "uninterrupted run (%r, %d rows, expected %d)"
                                    % (trial, table, check, len(now), len(after[table])))
            if report_entries(folder) != reference_entries:
                failures.append("trial %d: the second run reported %r" % (
                    trial, report_entries(folder)[:5]))

        print("tables found whole before: %d, whole after: %d; trials killed between two "
              "files: %d; journals left by a kill for the next run: %d"
              % (counts["before"], counts["after"], mixed, journals))
        # Random moments may all land before or after the integration under load; one kill
        # between two files is made certain instead.
        failures += kill_between_files(folder, pristine, before, after, reference_entries)
    finally:
        folder.close()

    for failure in failures:
        print("FAIL: " + failure)
    if failures:
        print("replay with --random-state %d" % state)
        return 1
    print("kill_test: all %d trials passed" % args.trials)
    return 0


if __name__ == "__main__":
    sys.exit(main())
