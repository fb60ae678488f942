#!/usr/bin/env python3
"""End to end: the real qvstation.exe writing its jobs to a real fleet database.

The station runs under Wine on the simulated bench (the folders and helpers
of station_e2e_test.py) with --database naming a throwaway PostgreSQL server
(scripts/lib/test_db.sh, started by ctest's fixture); what arrived is read
back on the server with psql, and compared with the station's own CSV
record.

    station_database_e2e_test.py --dist DIR --bin DIR --db-script FILE
        --db-state DIR --second-prefix DIR [--report DIR] [tests...]

--second-prefix: a Wine prefix for the second of two stations at once (made
when missing; one prefix lets one station run at a time); the first runs in
the prefix of the environment.
"""
import argparse
import os
import signal
import subprocess
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import station_e2e_test as bench  # noqa: E402
from station_e2e_test import (JOB_TIMEOUT_S, StationFolder, end_station, exit_code,  # noqa: E402
                              wait_until)

ARGS = None
IMAGE = "QV70-sample.img"
# A password the server does not know, to be looked for in everything the
# station prints and keeps.
WRONG_PASSWORD = "Wr0ng-S3cret-Pw"
# The outbox retries every 5 s: a row waits at most that long, plus a login.
ARRIVAL_TIMEOUT_S = 30


class Database:
    """The throwaway server of test_db.sh."""

    def __init__(self, script, state):
        self.script = script
        self.state = state

    def _run(self, *args):
        done = subprocess.run(["bash", self.script, *args], capture_output=True, timeout=60)
        return done.returncode, done.stdout.decode(), done.stderr.decode()

    def connection(self):
        with open(os.path.join(self.state, "connection.txt")) as f:
            return f.read().strip()

    def password(self):
        for pair in self.connection().split(";"):
            if pair.lower().startswith("pwd="):
                return pair[4:]
        raise AssertionError("no password in the connection string")

    def sql(self, text):
        code, out, err = self._run("sql", self.state, text)
        if code != 0:
            raise AssertionError(f"sql {text!r}: {err}")
        return [line.split("|") for line in out.splitlines() if line]

    def halt(self):
        code, _, err = self._run("halt", self.state)
        if code != 0:
            raise AssertionError(f"halt: {err}")

    def resume(self):
        code, _, err = self._run("resume", self.state)
        if code != 0:
            raise AssertionError(f"resume: {err}")

    def rows(self, serials):
        """job_id, device_serial, result_code, station of the serials' rows, in
        the order the server took them (each insert is a transaction of its
        own)."""
        if not self.sql("SELECT 1 FROM pg_tables WHERE tablename = 'qv_jobs'"):
            return []
        listed = ", ".join("'" + serial + "'" for serial in serials)
        return self.sql("SELECT job_id, device_serial, result_code, station FROM qv_jobs"
                        f" WHERE device_serial IN ({listed}) ORDER BY xmin::text::bigint")


DB = None


class PrefixedStationFolder(StationFolder):
    """A bench folder whose programs run in a Wine prefix of their own."""

    def __init__(self, test, prefix):
        self.env = dict(os.environ, WINEPREFIX=prefix)
        super().__init__(test)

    def qvsim(self, *args):
        done = subprocess.run(["wine", "qvsim.exe", *args], cwd=self.folder, env=self.env,
                              capture_output=True, timeout=60)
        if done.returncode != 0:
            raise AssertionError(f"qvsim {' '.join(args)}: {done.stderr!r}")
        return done.stdout.decode().strip()

    def station_command(self, *args):
        return ["env", "WINEPREFIX=" + self.env["WINEPREFIX"], "wine", "qvstation.exe", *args]


def database_waits(s):
    return bench.queued_records(s, "database")


def record_errors(s, lines):
    """The lines of the error stream that say a record was not written."""
    prefix = s.text("IDS_207").split("%s")[0]
    return [line for line in lines if prefix in line]


def set_job_database(s, connection):
    """[SYSTEM] JOB_DATABASE in the folder's setting.ini."""
    set_system(s, "JOB_DATABASE", connection)


def set_system(s, key, value):
    """A key of [SYSTEM] in the folder's setting.ini."""
    path = os.path.join(s.folder, "setting.ini")
    with open(path, newline="") as f:
        text = f.read()
    newline = "\r\n" if "\r\n" in text else "\n"
    text = text.replace("[SYSTEM]" + newline, "[SYSTEM]" + newline + key + "=" + value + newline, 1)
    if key + "=" not in text:
        raise AssertionError("no [SYSTEM] section in " + path)
    with open(path, "w", newline="") as f:
        f.write(text)


def cannot_connect(s):
    """The start of the line that says the server cannot be reached: the
    destination's name once, then the driver's SQLSTATE."""
    return s.text("IDS_207").replace("%s", "database: cannot connect: [08001]")


def loop_job(s, out, serial, number):
    """One device through a running station loop: plugged, its job, its
    record, taken away, and the station waiting again."""
    device = s.plug(serial)
    wait_until(lambda: len(s.records()) >= number, JOB_TIMEOUT_S, f"the record of {serial}")
    wait_until(lambda: out.count(s.text("IDS_201")) >= number, 30,
               f"the station asks to remove {serial}")
    s.qvsim("unplug", device)
    wait_until(lambda: out.count(s.waiting) >= number + 1, 30,
               f"the station waits after {serial}")


class StationDatabaseEndToEnd(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        # The table as no station has seen it: the first job makes it.
        DB.sql("DROP TABLE IF EXISTS qv_jobs")

    def assertRowsOfRecords(self, rows, records, station=None):
        """Each record's row once, in the record's order, with its fields; the
        station is the computer's name unless the settings name another."""
        self.assertEqual(rows, [[r["job_id"], r["device_serial"], r["result_code"],
                                 station or r["computer"]] for r in records])
        for r in records:
            self.assertNotEqual(r["job_id"], "")
            self.assertNotEqual(r["computer"], "")

    def assertNoSecret(self, secret, lines, folder):
        self.assertFalse([line for line in lines if secret in line], lines)
        for place, _, names in os.walk(folder):
            for name in names:
                with open(os.path.join(place, name), "rb") as f:
                    data = f.read()
                for encoded in (secret.encode("utf-8"), secret.encode("utf-16-le")):
                    self.assertNotIn(encoded, data, os.path.join(place, name))

    def test_one_job_is_one_row_with_its_fields(self):
        s = StationFolder(self)
        s.plug("DBONE1")
        set_system(s, "STATION_NAME", "LINE-7")
        set_system(s, "OPERATOR", "from the settings")
        code, out, err = s.run("--upgrade", IMAGE, "--wait", "30", "--database", DB.connection(),
                               "--operator", "Li Wei")
        self.assertEqual(code, 0, out + err)
        self.assertEqual(record_errors(s, err), [])
        records = s.records()
        self.assertEqual(len(records), 1)
        self.assertRowsOfRecords(DB.rows(["DBONE1"]), records, station="LINE-7")
        # More of the line, as the server keeps it: numbers as numbers, times
        # as times.
        record = records[0]
        [[mode, kind, size, after, sha, start]] = DB.sql(
            "SELECT mode, device_kind + 0, image_size + 0, device_software_after, image_sha256,"
            " to_char(start AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')"
            f" FROM qv_jobs WHERE job_id = '{record['job_id']}'")
        self.assertEqual([mode, kind, size, after, sha, start],
                         [record["mode"], record["device_kind"], record["image_size"],
                          record["device_software_after"], record["image_sha256"],
                          record["start"]])
        # Who, where, how long each phase took and the local start: the same
        # in the file and the row.
        phases = ["time_switch_s", "time_loader_s", "time_restart_s", "time_download_s"]
        self.assertEqual(record["operator"], "Li Wei")
        for phase in phases:
            self.assertRegex(record[phase], r"^\d+\.\d{3}$", phase)
        self.assertRegex(record["start_local"], r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$")
        # Their sum and the fixed second of settling make the duration, give
        # or take the moments between the job's own clock and the record's.
        self.assertAlmostEqual(sum(float(record[phase]) for phase in phases) + 1.0,
                               float(record["duration_s"]), delta=0.25)
        [row] = DB.sql(
            "SELECT station, operator, " + ", ".join(p + "::text" for p in phases) +
            ", to_char(start_local, 'YYYY-MM-DD HH24:MI:SS') FROM qv_jobs"
            f" WHERE job_id = '{record['job_id']}'")
        self.assertEqual(row, ["LINE-7", "Li Wei"] + [record[p] for p in phases] +
                         [record["start_local"]])
        # Nothing waits: the queue is gone.
        self.assertEqual(database_waits(s), [])

    def test_a_server_halted_during_a_loop_gets_the_rows_once_in_order_when_back(self):
        s = StationFolder(self)
        serials = ["DBHLT1", "DBHLT2", "DBHLT3"]
        process, out, err = s.start("--station", "--upgrade", IMAGE, "--wait", "60",
                                    "--database", DB.connection())
        halted = False
        try:
            wait_until(lambda: out.count(s.waiting) >= 1, 30, "the station waits")
            loop_job(s, out, serials[0], 1)
            wait_until(lambda: len(DB.rows(serials)) == 1, ARRIVAL_TIMEOUT_S,
                       "the first row while the server is up")
            DB.halt()
            halted = True
            loop_job(s, out, serials[1], 2)
            loop_job(s, out, serials[2], 3)
            wait_until(lambda: record_errors(s, err.snapshot()), ARRIVAL_TIMEOUT_S,
                       "the failure on the error stream")
            self.assertTrue(database_waits(s))
            DB.resume()
            halted = False
            wait_until(lambda: len(DB.rows(serials)) >= 3, ARRIVAL_TIMEOUT_S,
                       "the waiting rows once the server is back")
            # Retries that might double a row have had their chance.
            wait_until(lambda: not database_waits(s), 15, "the queue emptied")
            process.send_signal(signal.SIGINT)
            process.wait(timeout=60)
        finally:
            if halted:
                DB.resume()
            end_station(process, out, err)
        lines, errors = out.snapshot(), err.snapshot()
        verdicts = [line for line in lines if bench.is_verdict(line)]
        self.assertEqual(len(verdicts), 3, lines)
        for serial, verdict in zip(serials, verdicts):
            self.assertTrue(verdict.startswith(s.outcome(0, serial)), verdict)
        self.assertNoSecret(DB.password(), lines + errors, os.path.join(s.folder, "Log"))
        failures = record_errors(s, errors)
        self.assertEqual(len(failures), 1, errors)
        self.assertIn(cannot_connect(s), failures[0])
        records = s.records()
        self.assertEqual([r["device_serial"] for r in records], serials)
        self.assertRowsOfRecords(DB.rows(serials), records)

    def test_a_row_the_server_refuses_for_good_is_set_aside_and_the_rows_behind_it_go(self):
        s = StationFolder(self)
        serials = ["DBREF1", "DBREF2", "DBREF3"]
        process, out, err = s.start("--station", "--upgrade", IMAGE, "--wait", "60",
                                    "--database", DB.connection())
        try:
            wait_until(lambda: out.count(s.waiting) >= 1, 30, "the station waits")
            loop_job(s, out, serials[0], 1)
            wait_until(lambda: len(DB.rows(serials)) == 1, ARRIVAL_TIMEOUT_S, "the first row")
            # A rule of the line's own that the second device's row breaks.
            DB.sql("ALTER TABLE qv_jobs ADD CONSTRAINT qv_test_refuse CHECK (device_serial <> 'DBREF2')")
            self.addCleanup(DB.sql, "ALTER TABLE qv_jobs DROP CONSTRAINT IF EXISTS qv_test_refuse")
            loop_job(s, out, serials[1], 2)
            loop_job(s, out, serials[2], 3)
            wait_until(lambda: len(DB.rows(serials)) == 2, ARRIVAL_TIMEOUT_S,
                       "the row behind the refused one")
            process.send_signal(signal.SIGINT)
            process.wait(timeout=60)
        finally:
            end_station(process, out, err)
        records = s.records()
        self.assertEqual([r["device_serial"] for r in records], serials)
        refused = [line for line in record_errors(s, err.snapshot()) if "23514" in line]
        self.assertEqual(len(refused), 1, err.snapshot())
        self.assertIn(records[1]["job_id"], refused[0])
        self.assertEqual([row[1] for row in DB.rows(serials)], ["DBREF1", "DBREF3"])

        code, lines, errors = s.run("--records", "--database", DB.connection())
        self.assertEqual(code, 13, lines + errors)
        self.assertEqual(sum(records[1]["job_id"] in line for line in lines), 1, lines)
        # Resent while the rule stands: refused again, kept.
        code, lines, errors = s.run("--resend-refused", "--database", DB.connection())
        self.assertEqual(code, 13, lines + errors)
        DB.sql("ALTER TABLE qv_jobs DROP CONSTRAINT qv_test_refuse")
        code, lines, errors = s.run("--resend-refused", "--database", DB.connection())
        self.assertEqual(code, 0, lines + errors)
        self.assertEqual(sorted(row[0] for row in DB.rows(serials)),
                         sorted(r["job_id"] for r in records), "each row once")
        self.assertNoSecret(DB.password(), lines + errors, os.path.join(s.folder, "Log"))

    def test_a_wrong_password_keeps_the_row_until_a_run_with_the_right_one(self):
        s = StationFolder(self)
        wrong = DB.connection().replace("Pwd=" + DB.password() + ";", "Pwd=" + WRONG_PASSWORD + ";")
        self.assertIn(WRONG_PASSWORD, wrong)
        s.plug("DBPWD1")
        code, out, err = s.run("--upgrade", IMAGE, "--wait", "30", "--database", wrong)
        self.assertEqual(code, 0, out + err)
        self.assertTrue(any(line.startswith(s.outcome(0, "DBPWD1")) for line in out), out)
        self.assertNoSecret(WRONG_PASSWORD, out + err, os.path.join(s.folder, "Log"))
        failures = record_errors(s, err)
        self.assertEqual(len(failures), 1, err)
        self.assertIn(cannot_connect(s), failures[0])
        self.assertIn("password authentication failed", failures[0])
        self.assertEqual(DB.rows(["DBPWD1"]), [])
        # Kept, and said so at the end, apart from the file, which is written.
        self.assertTrue(any(line.endswith(s.text("IDS_232").replace("%s", "1")) for line in err),
                        err)
        [first] = s.records()
        [waiting] = database_waits(s)
        self.assertIn(first["job_id"].encode(), waiting)

        # The same device's next job, with the password mended, this time in
        # the settings: the kept row goes first, then the new one, each once.
        set_job_database(s, DB.connection())
        code, out, err = s.run("--upgrade", IMAGE, "--wait", "30")
        self.assertEqual(code, 0, out + err)
        self.assertEqual(record_errors(s, err), [])
        self.assertFalse(any(s.text("IDS_232").split("%s")[0] in line for line in err), err)
        records = s.records()
        self.assertEqual(len(records), 2)
        self.assertRowsOfRecords(DB.rows(["DBPWD1"]), records)
        self.assertEqual(database_waits(s), [])

    def test_a_record_file_of_the_earliest_layout_is_imported_once(self):
        s = StationFolder(self)
        # Written before the job_id column: twenty fields a line, and a line
        # whose result code a hand edit broke.
        columns = ["start", "end", "duration_s", "computer", "program_version", "mode",
                   "device_kind", "device_name", "device_serial", "device_software_before",
                   "device_loader_before", "image_file", "image_software", "image_loader",
                   "image_size", "image_sha256", "result_code", "verdict_key", "verdict_text",
                   "device_software_after"]
        lines = []
        for serial, code in (("IMPRT1", "0"), ("IMPRT2", "-9"), ("IMPRT3", "x"),
                             ("IMPRT4", "0")):
            lines.append(",".join([
                "2025-03-01T08:00:00Z", "2025-03-01T08:00:03Z", "3.179", "OLD-BENCH", "1.0.0.1",
                "upgrade", "4", "QV70 \u5347\u7ea7", serial, "1.0.0", "2.05",
                '"C:\\Images\\a, b.img"', "1.2.3", "2.05", "266320", "", code, "IDS_21",
                '"Done.\r\nSay ""yes""."', "1.2.3"]))
        with open(os.path.join(s.folder, "history.csv"), "w", encoding="utf-8-sig",
                  newline="") as f:
            f.write(",".join(columns) + "\r\n" + "\r\n".join(lines) + "\r\n")
        serials = ["IMPRT1", "IMPRT2", "IMPRT3", "IMPRT4"]

        def count(key, number):
            return s.text(key).replace("%s", str(number))

        def said(text, lines):
            return [line for line in lines if line.endswith("  " + text)] != []

        code, out, err = s.run("--import-records", "history.csv", "--database", DB.connection())
        self.assertEqual(code, 14, out + err)
        self.assertTrue(said(count("IDS_291", 3), out), out)
        self.assertTrue(said(count("IDS_292", 0), out), out)
        self.assertTrue(said(count("IDS_293", 1), out), out)
        refused = s.text("IDS_294").replace(
            "%s", "4: " + s.text("IDS_299").replace("%s", "result_code"))
        self.assertTrue(said(refused, err), err)
        rows = DB.rows(serials)
        self.assertEqual([row[1:] for row in rows], [["IMPRT1", "0", "OLD-BENCH"],
                                                     ["IMPRT2", "-9", "OLD-BENCH"],
                                                     ["IMPRT4", "0", "OLD-BENCH"]])
        for row in rows:
            self.assertRegex(row[0], "^[0-9a-f]{32}$")
        [[name, image, verdict, duration]] = DB.sql(
            "SELECT device_name, image_file, verdict_text = E'Done.\\r\\nSay \"yes\".',"
            " duration_s FROM qv_jobs WHERE device_serial = 'IMPRT2'")
        self.assertEqual([name, image, verdict, duration],
                         ["QV70 \u5347\u7ea7", "C:\\Images\\a, b.img", "t", "3.179"])

        # Again: nothing new, every line already there.
        code, out, err = s.run("--import-records", "history.csv", "--database", DB.connection())
        self.assertEqual(code, 14, out + err)
        self.assertTrue(said(count("IDS_291", 0), out), out)
        self.assertTrue(said(count("IDS_292", 3), out), out)
        self.assertEqual(DB.rows(serials), rows)

    def test_two_stations_in_two_prefixes_write_every_row_once(self):
        first = StationFolder(self)
        second = PrefixedStationFolder(self, ARGS.second_prefix)
        self.addCleanup(subprocess.run, ["wineserver", "-k"], env=second.env,
                        capture_output=True, timeout=60)
        stations = [(first, ["DBTWA1", "DBTWA2", "DBTWA3"]),
                    (second, ["DBTWB1", "DBTWB2", "DBTWB3"])]
        started = [s.start("--station", "--upgrade", IMAGE, "--wait", "60",
                           "--database", DB.connection()) for s, _ in stations]
        failures = []

        def loop(s, serials, out):
            try:
                wait_until(lambda: out.count(s.waiting) >= 1, 30, "the station waits")
                for number, serial in enumerate(serials, start=1):
                    loop_job(s, out, serial, number)
            except Exception as error:  # reported by the test's thread
                failures.append(error)

        try:
            threads = [threading.Thread(target=loop, args=(s, serials, out))
                       for (s, serials), (_, out, _) in zip(stations, started)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join(timeout=JOB_TIMEOUT_S * 4)
            self.assertEqual(failures, [])
            every = [serial for _, serials in stations for serial in serials]
            wait_until(lambda: len(DB.rows(every)) >= len(every), ARRIVAL_TIMEOUT_S,
                       "every row")
            for process, _, _ in started:
                process.send_signal(signal.SIGINT)
                process.wait(timeout=60)
        finally:
            for process, out, err in started:
                end_station(process, out, err)
        for (s, serials), (_, out, err) in zip(stations, started):
            self.assertEqual(record_errors(s, err.snapshot()), [])
            records = s.records()
            self.assertEqual([r["device_serial"] for r in records], serials)
            self.assertRowsOfRecords(DB.rows(serials), records)
        [[count, distinct]] = DB.sql("SELECT count(*), count(DISTINCT job_id) FROM qv_jobs"
                                     " WHERE device_serial LIKE 'DBTW%'")
        self.assertEqual((count, distinct), ("6", "6"))


def main():
    global ARGS, DB
    parser = argparse.ArgumentParser()
    parser.add_argument("--dist", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--db-script", required=True)
    parser.add_argument("--db-state", required=True)
    parser.add_argument("--second-prefix", required=True)
    parser.add_argument("--report", default="")
    parser.add_argument("tests", nargs="*")
    ARGS = parser.parse_args()
    bench.ARGS = ARGS
    DB = Database(ARGS.db_script, ARGS.db_state)
    if not os.path.exists(os.path.join(ARGS.second_prefix, "system.reg")):
        os.makedirs(ARGS.second_prefix, exist_ok=True)
        subprocess.run(["wineboot", "-i"], env=dict(os.environ, WINEPREFIX=ARGS.second_prefix),
                       capture_output=True, timeout=180)
    loader = unittest.TestLoader()
    if ARGS.tests:
        suite = unittest.TestSuite(loader.loadTestsFromName(name, sys.modules[__name__])
                                   for name in ARGS.tests)
    else:
        suite = loader.loadTestsFromTestCase(StationDatabaseEndToEnd)
    result = unittest.TextTestRunner(resultclass=bench.XmlResult, verbosity=2).run(suite)
    report = ARGS.report or bench.report_folder()
    if report:
        bench.write_report(report, result, "e2e_station_database_test", "StationDatabaseEndToEnd")
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
