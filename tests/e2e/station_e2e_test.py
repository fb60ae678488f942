#!/usr/bin/env python3
"""End to end: the real qvstation.exe on the simulated bench, under Wine.

Each scenario copies the distribution folder (the program, the simulated
library, setting.ini, the languages, the sample image) into a folder of its
own, whose bench (the folder Bench beside the library) it drives with
qvsim.exe. What the station prints is compared with the shipped English
texts, and its job record is read with Python's csv module, as any user's
tool would read it.

    station_e2e_test.py --dist DIR --bin DIR [--report DIR]

--report writes a GoogleTest-style XML report for scripts/test's sum.
"""
import argparse
import csv
import hashlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import unittest
import xml.etree.ElementTree as ET

ARGS = None
JOB_TIMEOUT_S = 90


def exit_code(returncode):
    """A Windows exit code as Wine hands it to Linux: the low byte."""
    return returncode - 256 if returncode >= 128 else returncode


def read_language(path):
    """The [String] texts of a language file, escapes decoded."""
    with open(path, "rb") as f:
        raw = f.read()
    text = raw[2:].decode("utf-16-le") if raw.startswith(b"\xff\xfe") else raw.decode("utf-8")
    texts, section = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            section = line[1:-1]
        elif section == "String" and "=" in line and not line.startswith(";"):
            key, value = line.split("=", 1)
            value = value.strip()
            for escape, char in (("\\r", "\r"), ("\\n", "\n"), ("\\t", "\t"),
                                 ('\\"', '"'), ("\\'", "'")):
                value = value.replace(escape, char)
            texts[key.strip()] = value
    return texts


def one_line(text):
    return re.sub(r"[\r\n\t]+", " ", text).strip()


class Output:
    """The lines of a running program's stream, collected on a thread."""

    def __init__(self, stream):
        self.lines = []
        self._lock = threading.Lock()
        self._thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self._thread.start()

    def _read(self, stream):
        for raw in iter(stream.readline, b""):
            with self._lock:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\r\n"))

    def snapshot(self):
        with self._lock:
            return list(self.lines)

    def count(self, part):
        """Lines holding the text, or for which the test says yes."""
        if callable(part):
            return sum(1 for line in self.snapshot() if part(line))
        return sum(1 for line in self.snapshot() if part in line)

    def join(self):
        self._thread.join(timeout=10)


class StationFolder:
    """A copy of the distribution folder with its own bench."""

    def __init__(self, test):
        self.root = tempfile.mkdtemp(prefix="qvstation-e2e-")
        self.folder = os.path.join(self.root, "QV70")
        shutil.copytree(ARGS.dist, self.folder)
        shutil.copy(os.path.join(ARGS.bin, "qvsim.exe"), self.folder)
        test.addCleanup(shutil.rmtree, self.root, True)
        self.texts = read_language(os.path.join(self.folder, "Language", "English.ini"))
        self.image = os.path.join(self.folder, "QV70-sample.img")
        # A quick bench: the device answers at once after a switch or reset.
        self.qvsim("delay", "switch=0", "reset=0", "wait=20", "upgrade=100", "erase=50")
        self.qvsim("driver", "installed")

    def qvsim(self, *args):
        done = subprocess.run(["wine", "qvsim.exe", *args], cwd=self.folder,
                              capture_output=True, timeout=60)
        if done.returncode != 0:
            raise AssertionError(f"qvsim {' '.join(args)}: {done.stderr!r}")
        return done.stdout.decode().strip()

    def plug(self, serial, kind=4):
        return self.qvsim("plug", f"kind={kind}", f"serial={serial}")

    def station_command(self, *args):
        return ["wine", "qvstation.exe", *args]

    def run(self, *args, timeout=JOB_TIMEOUT_S):
        done = subprocess.run(self.station_command(*args), cwd=self.folder,
                              capture_output=True, timeout=timeout)
        out = done.stdout.decode("utf-8", "replace").splitlines()
        err = done.stderr.decode("utf-8", "replace").splitlines()
        return exit_code(done.returncode), out, err

    def start(self, *args):
        process = subprocess.Popen(self.station_command(*args), cwd=self.folder,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        return process, Output(process.stdout), Output(process.stderr)

    def record_path(self):
        return os.path.join(self.folder, "Log", "jobs.csv")

    def records(self):
        path = self.record_path()
        if not os.path.exists(path):
            return []
        # Shared for reading while the station appends.
        with open(path, encoding="utf-8-sig", newline="") as f:
            return list(csv.DictReader(f))

    def text(self, key):
        return one_line(self.texts[key])

    def waiting(self, line):
        """The station's wait for a device, with an end (--wait) or without."""
        up_to = re.escape(self.text("IDS_234")).replace("%s", r"\d+")
        return self.text("IDS_200") in line or re.search(up_to, line) is not None

    def verdict(self, code):
        """The verdict's text as the station words it."""
        keys = {0: "IDS_262", -3: "IDS_265", -9: "IDS_264"}
        text = self.texts[keys[code]]
        if code in (-9,):
            text += self.texts["IDS_263"]
        return one_line(text)

    def outcome(self, code, serial):
        """A verdict line's start: its outcome and the device."""
        word = "PASS" if code == 0 else self.text("IDS_261").replace("%s", str(code))
        return f"{word}  {serial}  "


def is_verdict(line):
    return line.startswith("PASS  ") or line.startswith("FAIL ")


def queued_records(s, destination):
    """The records waiting in the program's queue for "database" or "file"
    destinations: the contents of their files (waiting, held or claimed)."""
    root = os.path.join(s.folder, "Log", "queue")
    found = []
    if not os.path.isdir(root):
        return found
    for folder in sorted(os.listdir(root)):
        if folder != destination and not folder.startswith(destination + "-"):
            continue
        path = os.path.join(root, folder)
        for name in sorted(os.listdir(path)):
            if re.search(r"\.rec($|\.held-|\.claim-)", name):
                with open(os.path.join(path, name), "rb") as f:
                    found.append(f.read())
    return found


def end_station(process, out, err):
    """Ends a station still running (a failed test) and drains its streams."""
    if process.poll() is None:
        process.kill()
    out.join()
    err.join()


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.1)
    raise AssertionError(f"timed out: {what}")


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class StationEndToEnd(unittest.TestCase):
    maxDiff = None

    def test_one_upgrade_and_one_repair_each_with_its_record(self):
        s = StationFolder(self)
        s.plug("ONE1")
        code, out, err = s.run("--upgrade", "QV70-sample.img", "--wait", "30")
        self.assertEqual(code, 0, err)
        self.assertIn(s.text("IDS_234").replace("%s", "30"), out[0])
        self.assertTrue(any(s.text("IDS_89") in line for line in out), out)
        self.assertTrue(any(s.text("IDS_92") in line for line in out), out)
        verdicts = [line for line in out if is_verdict(line)]
        self.assertEqual(len(verdicts), 1, out)
        # The outcome, the serial, the version before and the image's as the target.
        self.assertTrue(verdicts[0].startswith("PASS  ONE1  1.0.0 -> "), verdicts[0])
        self.assertTrue(verdicts[0].endswith(s.verdict(0)), verdicts[0])

        code, out, err = s.run("--repair", "QV70-sample.img", "--wait", "30")
        self.assertEqual(code, 0, err)
        self.assertTrue(any(line.startswith("PASS  ONE1  ") for line in out), out)

        records = s.records()
        self.assertEqual(len(records), 2)
        upgrade, repair = records
        self.assertEqual(upgrade["mode"], "upgrade")
        self.assertEqual(repair["mode"], "repair")
        for record in records:
            self.assertEqual(record["result_code"], "0")
            self.assertEqual(record["device_serial"], "ONE1")
            self.assertEqual(record["device_kind"], "4")
            self.assertEqual(record["program_version"], "1.2.0.3")
            self.assertEqual(record["image_sha256"], sha256(s.image))
            self.assertEqual(int(record["image_size"]), os.path.getsize(s.image))
            self.assertTrue(record["image_file"].endswith("\\QV70-sample.img"), record)
            self.assertRegex(record["start"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
            self.assertNotEqual(record["device_software_after"], "")
        self.assertEqual(upgrade["verdict_key"], "IDS_21")
        self.assertEqual(upgrade["verdict_text"], s.texts["IDS_21"])
        self.assertEqual(upgrade["device_software_before"], "1.0.0")
        self.assertEqual(upgrade["device_software_after"], upgrade["image_software"])

    def test_a_device_without_a_serial_is_done_and_recorded_with_none(self):
        s = StationFolder(self)
        s.plug("none")
        code, out, err = s.run("--upgrade", "QV70-sample.img", "--wait", "30")
        self.assertEqual(code, 0, out + err)
        # Records filled to the last byte: the empty serial is followed by filler.
        s.qvsim("record", "full")
        code, out, err = s.run("--repair", "QV70-sample.img", "--wait", "30")
        self.assertEqual(code, 0, out + err)

        records = s.records()
        self.assertEqual([r["result_code"] for r in records], ["0", "0"])
        self.assertEqual([r["device_serial"] for r in records], ["", ""])
        # The version after comes only from the same device back after its job.
        for record in records:
            self.assertEqual(record["device_software_after"], record["image_software"], record)

    def test_a_pass_the_device_does_not_prove_ends_with_its_own_code(self):
        s = StationFolder(self)
        s.plug("OLD1")
        s.qvsim("fault", "old-software-back")
        code, out, err = s.run("--upgrade", "QV70-sample.img", "--wait", "30")
        self.assertEqual(code, 10, out + err)
        self.assertTrue(any(line.startswith("PASS  OLD1") for line in out), out)
        not_verified = [line for line in err if s.text("IDS_250").replace("%s", "1.0.0") in line]
        self.assertEqual(len(not_verified), 1, err)
        self.assertIn("OLD1", not_verified[0])

        records = s.records()
        self.assertEqual(len(records), 1)
        self.assertEqual(records[0]["result_code"], "0")
        self.assertEqual(records[0]["device_software_after"], "1.0.0")
        self.assertNotEqual(records[0]["image_software"], "1.0.0")
        self.assertEqual(records[0]["verified"], "no")

    def test_a_device_done_and_verified_is_not_written_again(self):
        s = StationFolder(self)
        s.plug("DONE1")
        code, out, err = s.run("--upgrade", "QV70-sample.img", "--wait", "30", "--skip-done")
        self.assertEqual(code, 0, out + err)
        self.assertEqual([r["verified"] for r in s.records()], ["yes"])

        code, out, err = s.run("--upgrade", "QV70-sample.img", "--wait", "30", "--skip-done")
        self.assertEqual(code, 0, out + err)
        self.assertFalse(any(s.text("IDS_89") in line for line in out), out)
        first, second = s.records()
        done = s.text("IDS_251").replace("%s", f"{first['end']}, {first['computer']}")
        self.assertTrue(any("DONE1" in line and line.endswith(done + " [-103]") for line in out),
                        out)
        self.assertEqual(second["device_serial"], "DONE1")
        self.assertEqual(second["result_code"], "-103")
        self.assertEqual(second["verdict_key"], "ALREADY_DONE")
        self.assertEqual(second["verdict_text"], s.texts["IDS_251"].replace(
            "%s", f"{first['end']}, {first['computer']}"))
        self.assertEqual(second["image_sha256"], sha256(s.image))
        self.assertEqual(second["verified"], "")

    def test_three_devices_in_a_row_the_second_with_a_fault(self):
        s = StationFolder(self)
        process, out, err = s.start("--station", "--upgrade", "QV70-sample.img", "--wait", "6")
        try:
            waiting = s.waiting
            wait_until(lambda: out.count(waiting) >= 1, 30, "the station waits")
            for number, serial in enumerate(["ROW1", "ROW2", "ROW3"], start=1):
                if serial == "ROW2":
                    s.qvsim("fault", "download-fails")
                device = s.plug(serial)
                wait_until(lambda: len(s.records()) >= number, JOB_TIMEOUT_S,
                           f"the record of {serial}")
                s.qvsim("clear-fault", "all")
                wait_until(lambda: out.count(s.text("IDS_201")) >= number, 30,
                           f"the station asks to remove {serial}")
                s.qvsim("unplug", device)
                wait_until(lambda: out.count(waiting) >= number + 1, 30,
                           f"the station waits after {serial}")
            process.wait(timeout=60)
        finally:
            end_station(process, out, err)
        lines = out.snapshot()
        self.assertEqual(exit_code(process.returncode), 9, lines + err.snapshot())

        verdicts = [line for line in lines if is_verdict(line)]
        self.assertEqual(len(verdicts), 3, lines)
        self.assertTrue(verdicts[0].startswith(s.outcome(0, "ROW1")), verdicts[0])
        self.assertTrue(verdicts[0].endswith(s.verdict(0)), verdicts[0])
        self.assertTrue(verdicts[1].startswith(s.outcome(-9, "ROW2")), verdicts[1])
        self.assertTrue(verdicts[1].endswith(s.verdict(-9)), verdicts[1])
        self.assertTrue(verdicts[2].startswith(s.outcome(0, "ROW3")), verdicts[2])
        self.assertIn(s.text("IDS_204").replace("%s", "6"), " ".join(err.snapshot()))

        records = s.records()
        self.assertEqual([r["device_serial"] for r in records], ["ROW1", "ROW2", "ROW3"])
        self.assertEqual([r["result_code"] for r in records], ["0", "-9", "0"])
        self.assertEqual([r["verdict_key"] for r in records], ["IDS_21", "IDS_118", "IDS_21"])
        self.assertEqual(records[1]["verdict_text"], s.texts["IDS_118"] + s.texts["IDS_93"])
        self.assertEqual(records[0]["device_software_after"], records[0]["image_software"])

    def test_lines_wait_while_a_spreadsheet_holds_the_record_and_arrive_once(self):
        s = StationFolder(self)
        os.makedirs(os.path.dirname(s.record_path()), exist_ok=True)
        holder = subprocess.Popen(["wine", os.path.abspath(os.path.join(ARGS.bin, "e2e_file_holder.exe")),
                                   "Log\\jobs.csv"], cwd=s.folder,
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(lambda: holder.poll() is None and holder.kill())
        self.assertEqual(holder.stdout.readline().strip(), b"held")
        process, out, err = s.start("--station", "--upgrade", "QV70-sample.img", "--wait", "30")
        try:
            waiting = s.waiting
            wait_until(lambda: out.count(waiting) >= 1, 30, "the station waits")
            for number, serial in enumerate(["HELD1", "HELD2"], start=1):
                device = s.plug(serial)
                wait_until(lambda: out.count(s.text("IDS_201")) >= number, JOB_TIMEOUT_S,
                           f"the station asks to remove {serial}")
                s.qvsim("unplug", device)
                wait_until(lambda: out.count(waiting) >= number + 1, 30,
                           f"the station waits after {serial}")
            # Each line that waits is named on the error stream.
            waits = s.text("IDS_231").split("%s")[0]
            wait_until(lambda: sum(waits in line for line in err.snapshot()) >= 2, 30,
                       "both lines are said to wait")
            self.assertEqual(s.records(), [])
            self.assertEqual(len(queued_records(s, "file")), 2)

            holder.stdin.close()
            holder.wait(timeout=30)
            # The retry while lines wait, without a next job.
            wait_until(lambda: len(s.records()) >= 2, 30, "the lines once the file is free")
            process.send_signal(signal.SIGINT)
            process.wait(timeout=60)
        finally:
            end_station(process, out, err)
        records = s.records()
        self.assertEqual([r["device_serial"] for r in records], ["HELD1", "HELD2"])
        ids = [r["job_id"] for r in records if r["job_id"]]
        self.assertEqual(len(ids), len(set(ids)), records)
        self.assertEqual(queued_records(s, "file"), [])

    def test_a_device_slow_to_come_back_is_written_once(self):
        s = StationFolder(self)
        # Back 14 s after each reset: after the job, well within the minute
        # the verdict promises, but later than any shorter wait.
        s.qvsim("delay", "reset=14000", "wait=1000")
        process, out, err = s.start("--station", "--upgrade", "QV70-sample.img", "--wait", "8")
        try:
            wait_until(lambda: out.count(s.waiting) >= 1, 30, "the station waits")
            device = s.plug("SLOW1")
            wait_until(lambda: out.count(s.text("IDS_201")) >= 1, JOB_TIMEOUT_S + 30,
                       "the station asks to remove the device back after its job")
            # Left in place for longer than it took to come back.
            time.sleep(16)
            s.qvsim("unplug", device)
            process.wait(timeout=60)
        finally:
            end_station(process, out, err)
        lines = out.snapshot()
        self.assertEqual(exit_code(process.returncode), 0, lines + err.snapshot())
        verdicts = [line for line in lines if is_verdict(line)]
        self.assertEqual(len(verdicts), 1, lines)
        self.assertTrue(verdicts[0].startswith(s.outcome(0, "SLOW1")), verdicts[0])
        records = s.records()
        self.assertEqual([r["device_serial"] for r in records], ["SLOW1"])
        self.assertEqual(records[0]["device_software_after"], records[0]["image_software"])

    def test_a_question_without_its_flag_is_answered_no_and_the_flag_named(self):
        s = StationFolder(self)
        s.qvsim("ask", "1")
        s.plug("ASK1")
        code, out, err = s.run("--upgrade", "QV70-sample.img", "--wait", "30")
        self.assertEqual(code, -3, out + err)
        named = s.text("IDS_205").replace("%s", "--yes-continue")
        self.assertTrue(any(line.startswith(s.outcome(-3, "ASK1"))
                            and line.endswith(s.verdict(-3) + " " + named) for line in out), out)

        code, out, err = s.run("--upgrade", "QV70-sample.img", "--wait", "30", "--yes-continue")
        self.assertEqual(code, 0, out + err)
        self.assertEqual([r["result_code"] for r in s.records()], ["-3", "0"])

    def test_json_prints_one_object_per_job(self):
        s = StationFolder(self)
        s.plug("JSON1")
        code, out, err = s.run("--upgrade", "QV70-sample.img", "--wait", "30", "--json",
                               "--record", "other.csv")
        self.assertEqual(code, 0, err)
        self.assertEqual(len(out), 1, out)
        job = json.loads(out[0])
        self.assertEqual(job["result_code"], 0)
        self.assertEqual(job["device_serial"], "JSON1")
        self.assertEqual(job["image_sha256"], sha256(s.image))
        self.assertEqual(job["declined_by"], "")
        # --record names another file than the settings' one.
        self.assertEqual(s.records(), [])
        with open(os.path.join(s.folder, "other.csv"), encoding="utf-8-sig", newline="") as f:
            self.assertEqual(len(list(csv.DictReader(f))), 1)

    def test_a_second_copy_is_refused_and_no_device_ends_the_wait(self):
        s = StationFolder(self)
        # More language files than the first list has room for, all found
        # before English: the second copy's message is still the English text.
        for n in range(21):
            with open(os.path.join(s.folder, "Language", f"A{n:02}.ini"), "w") as f:
                f.write(f"[Setting]\nLanguage=Other{n}\n[String]\nIDS_1=x\n")
        process, out, err = s.start("--upgrade", "QV70-sample.img", "--wait", "4")
        try:
            wait_until(lambda: out.count(s.waiting) >= 1, 30, "the first copy waits")
            code, second_out, second_err = s.run("--upgrade", "QV70-sample.img")
            self.assertEqual(code, 4)
            self.assertIn(s.text("IDS_206"), second_err)
            process.wait(timeout=30)
        finally:
            end_station(process, out, err)
        self.assertEqual(exit_code(process.returncode), 7)
        self.assertIn(s.text("IDS_204").replace("%s", "4"), " ".join(err.snapshot()))

    def test_ctrl_c_between_jobs_ends_at_once_and_during_a_job_after_its_verdict(self):
        s = StationFolder(self)
        # Wine turns SIGINT into the console's Ctrl+C.
        process, out, err = s.start("--station", "--upgrade", "QV70-sample.img")
        try:
            wait_until(lambda: out.count(s.waiting) >= 1, 30, "the station waits")
            process.send_signal(signal.SIGINT)
            process.wait(timeout=30)
        finally:
            end_station(process, out, err)
        # A loop that never saw a device did nothing: it ends as no device.
        self.assertEqual(exit_code(process.returncode), 7)
        # Stopped, then the loop's summary.
        self.assertTrue(out.snapshot()[-2].endswith(s.text("IDS_203")), out.snapshot())
        self.assertIn(s.text("IDS_279").split("%s")[0], out.snapshot()[-1])

        # A download slow enough to be interrupted half-way.
        s.qvsim("speed", "64K")
        s.plug("STOP1")
        process, out, err = s.start("--station", "--upgrade", "QV70-sample.img")
        try:
            wait_until(lambda: out.count(s.text("IDS_91")) >= 1, JOB_TIMEOUT_S, "the download")
            process.send_signal(signal.SIGINT)
            process.wait(timeout=JOB_TIMEOUT_S)
        finally:
            end_station(process, out, err)
        lines = out.snapshot()
        self.assertEqual(exit_code(process.returncode), 0, lines + err.snapshot())
        finishing = [i for i, line in enumerate(lines) if line.endswith(s.text("IDS_202"))]
        verdict = [i for i, line in enumerate(lines) if line.startswith(s.outcome(0, "STOP1"))]
        self.assertEqual(len(finishing), 1, lines)
        self.assertEqual(len(verdict), 1, lines)
        self.assertLess(finishing[0], verdict[0])
        self.assertEqual([r["result_code"] for r in s.records()], ["0"])
        self.assertFalse(any(line.endswith(s.text("IDS_201")) for line in lines),
                         "no wait for the next device")

    def test_the_wait_after_a_verdict_is_said_and_ends_at_ctrl_c(self):
        s = StationFolder(self)
        # Back 5 s after each reset, time enough to take it away for good
        # once the verdict is out.
        s.qvsim("delay", "reset=5000", "wait=500")
        device = s.plug("GONE1")
        process, out, err = s.start("--upgrade", "QV70-sample.img", "--wait", "30")
        try:
            wait_until(lambda: out.count(s.outcome(0, "")[:6]) >= 1, JOB_TIMEOUT_S, "the verdict")
            s.qvsim("unplug", device)
            said = s.text("IDS_233").replace("%s", "60")
            wait_until(lambda: out.count(said) >= 1, 30, "the wait is said")
            pressed = time.monotonic()
            process.send_signal(signal.SIGINT)
            process.wait(timeout=30)
            waited = time.monotonic() - pressed
        finally:
            end_station(process, out, err)
        self.assertEqual(exit_code(process.returncode), 0, out.snapshot() + err.snapshot())
        self.assertLess(waited, 10, "Ctrl+C ends the wait, not the minute")
        records = s.records()
        self.assertEqual([r["result_code"] for r in records], ["0"])
        self.assertEqual(records[0]["device_software_after"], "", "written as it stands")

    def test_a_station_killed_after_its_verdict_loses_no_line(self):
        s = StationFolder(self)
        # Back 5 s after each reset: taken away for good once the verdict is out.
        s.qvsim("delay", "reset=5000", "wait=500")
        device = s.plug("KILL1")
        process, out, err = s.start("--upgrade", "QV70-sample.img", "--wait", "30")
        try:
            wait_until(lambda: out.count(s.outcome(0, "")[:6]) >= 1, JOB_TIMEOUT_S, "the verdict")
            s.qvsim("unplug", device)
            said = s.text("IDS_233").replace("%s", "60")
            wait_until(lambda: out.count(said) >= 1, 30, "the wait for the device is said")
            process.kill()  # the console window closed, the computer switched off
            process.wait(timeout=30)
        finally:
            end_station(process, out, err)
        self.assertEqual(s.records(), [])
        code, out, err = s.run("--records")
        self.assertEqual(code, 13, out + err)
        self.assertEqual(sum(s.text("IDS_239").split("%s")[0] in line for line in out), 1, out)
        # Sent by the next run, as it stood at the verdict.
        code, out, err = s.run("--resend-refused")
        self.assertEqual(code, 0, out + err)
        records = s.records()
        self.assertEqual([(r["device_serial"], r["result_code"]) for r in records], [("KILL1", "0")])
        self.assertEqual(records[0]["device_software_after"], "")
        self.assertEqual(queued_records(s, "file"), [])

    def test_a_record_share_that_drops_and_comes_back_loses_no_line(self):
        s = StationFolder(self)
        share = os.path.join(s.root, "share")
        os.makedirs(share)
        # The share is a drive of its own, taken away and given back.
        prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
        drive = os.path.join(prefix, "dosdevices", "q:")
        if os.path.lexists(drive):
            self.skipTest("drive Q: is taken in this Wine prefix")
        os.symlink(share, drive)
        self.addCleanup(lambda: os.path.lexists(drive) and os.remove(drive))
        record = os.path.join(share, "jobs.csv")

        def lines():
            if not os.path.exists(record):
                return []
            with open(record, encoding="utf-8-sig", newline="") as f:
                return list(csv.DictReader(f))

        process, out, err = s.start("--station", "--upgrade", "QV70-sample.img", "--wait", "60",
                                    "--record", "Q:\\jobs.csv")
        try:
            wait_until(lambda: out.count(s.waiting) >= 1, 30, "the station waits")
            for number, serial in enumerate(["SHARE1", "SHARE2", "SHARE3"], start=1):
                if number == 2:
                    wait_until(lambda: len(lines()) == 1, 30, "the first line on the share")
                    os.remove(drive)  # the share drops
                device = s.plug(serial)
                wait_until(lambda: out.count(s.text("IDS_201")) >= number, JOB_TIMEOUT_S,
                           f"the station asks to remove {serial}")
                s.qvsim("unplug", device)
                wait_until(lambda: out.count(s.waiting) >= number + 1, 30,
                           f"the station waits after {serial}")
            wait_until(lambda: len(queued_records(s, "file")) == 2, 30, "two lines kept locally")
            os.symlink(share, drive)  # back
            wait_until(lambda: len(lines()) == 3, 30, "the waiting lines once the share is back")
            process.send_signal(signal.SIGINT)
            process.wait(timeout=60)
        finally:
            end_station(process, out, err)
        self.assertEqual([r["device_serial"] for r in lines()], ["SHARE1", "SHARE2", "SHARE3"])
        self.assertEqual(queued_records(s, "file"), [])

    def test_bad_arguments_and_a_refused_image_have_their_own_codes(self):
        s = StationFolder(self)
        code, out, err = s.run("--upgrade")
        self.assertEqual(code, 2)
        self.assertTrue(any("--upgrade" in line for line in err))
        with open(os.path.join(s.folder, "broken.img"), "wb") as f:
            f.write(b"not an image")
        code, out, err = s.run("--upgrade", "broken.img", "--wait", "1")
        self.assertEqual(code, 5, out + err)
        self.assertTrue(any(s.text("IDS_104") in line for line in err), err)


    def test_a_count_ends_the_loop_with_its_summary(self):
        s = StationFolder(self)
        process, out, err = s.start("--station", "--upgrade", "QV70-sample.img", "--wait", "30",
                                    "--count", "2")
        try:
            wait_until(lambda: out.count(s.waiting) >= 1, 30, "the station waits")
            passed = s.text("IDS_270").split("%s")[0]
            for number, serial in enumerate(["CNT1", "CNT2", "CNT3"], start=1):
                if serial == "CNT2":
                    s.qvsim("fault", "download-fails")
                else:
                    s.qvsim("clear-fault", "all")
                device = s.plug(serial)
                wait_until(lambda: out.count(s.text("IDS_201")) >= number, JOB_TIMEOUT_S,
                           f"the station asks to remove {serial}")
                s.qvsim("unplug", device)
                wait_until(lambda: out.count(lambda line: passed in line) >= number, 30,
                           f"the progress after {serial}")
            process.wait(timeout=30)
        finally:
            end_station(process, out, err)
        lines = out.snapshot()
        # Two passed, one failed on the way.
        self.assertEqual(exit_code(process.returncode), 9, lines + err.snapshot())
        summary = s.text("IDS_279").split("%s")[0]
        self.assertIn(summary, lines[-1])
        self.assertIn(s.text("IDS_270").replace("%s", "2"), lines[-1])
        self.assertIn(s.text("IDS_271").replace("%s", "1 (-9: 1)"), lines[-1])
        progress = [line for line in lines if passed in line and summary not in line]
        self.assertEqual(len(progress), 3, lines)
        self.assertIn(s.text("IDS_274").replace("%s", "0 ("), progress[-1])
        self.assertEqual(out.count(s.waiting), 3, "no wait after the count is reached")

    def test_a_missing_image_or_a_folder_is_named_by_its_full_path(self):
        s = StationFolder(self)
        os.makedirs(os.path.join(s.folder, "folder.img"))
        for name in ("missing.img", "folder.img"):
            code, out, err = s.run("--upgrade", name, "--wait", "1")
            self.assertEqual(code, 5, out + err)
            said = s.text("IDS_267").replace("%s", "")
            named = [line for line in err if said in line]
            self.assertEqual(len(named), 1, err)
            self.assertRegex(named[0], r"[A-Z]:\\.*\\QV70\\" + re.escape(name) + "$")
            self.assertFalse(any(s.text("IDS_104") in line for line in err), err)

    def test_two_devices_for_the_whole_wait_end_with_their_own_code(self):
        s = StationFolder(self)
        s.plug("TWO1")
        s.plug("TWO2")
        code, out, err = s.run("--upgrade", "QV70-sample.img", "--wait", "3")
        self.assertEqual(code, 11, out + err)
        self.assertIn(s.text("IDS_268").replace("%s", "3"), " ".join(err))
        self.assertFalse(any(s.text("IDS_204").replace("%s", "3") in line for line in err), err)
        # One line says there are several; the window's status lines are not repeated.
        self.assertEqual(sum(s.text("IDS_109") in line for line in err), 1, err)
        self.assertFalse(any(s.text("IDS_28") in line or s.text("IDS_29") in line
                             for line in out), out)
        self.assertFalse(any(line.endswith(s.text("IDS_38")) for line in out), out)
        self.assertEqual(s.records(), [])


class XmlResult(unittest.TextTestResult):
    """Also keeps every case's outcome for the report."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.cases = []

    def addSuccess(self, test):
        super().addSuccess(test)
        self.cases.append((test, None))

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self.cases.append((test, self._exc_info_to_string(err, test)))

    def addError(self, test, err):
        super().addError(test, err)
        self.cases.append((test, self._exc_info_to_string(err, test)))


def write_report(folder, result, name="e2e_station_test", suite_name="StationEndToEnd"):
    suites = ET.Element("testsuites")
    suite = ET.SubElement(suites, "testsuite", name=suite_name)
    for test, failure in result.cases:
        case = ET.SubElement(suite, "testcase", name=test.id().split(".")[-1],
                             classname=suite_name, status="run", result="completed")
        if failure:
            ET.SubElement(case, "failure", message="failed").text = failure
    os.makedirs(folder, exist_ok=True)
    ET.ElementTree(suites).write(os.path.join(folder, name + ".xml"))


def report_folder():
    """The folder of GTEST_OUTPUT, as scripts/test asks every test program for
    its report; empty without it."""
    gtest_output = os.environ.get("GTEST_OUTPUT", "")
    if not gtest_output.startswith("xml:"):
        return ""
    # scripts/test names a Windows folder for the programs under Wine.
    folder = gtest_output[4:]
    if re.match(r"^[A-Za-z]:", folder):
        try:
            folder = subprocess.run(["winepath", "-u", folder], capture_output=True,
                                    timeout=30).stdout.decode().strip()
        except (OSError, subprocess.SubprocessError):
            traceback.print_exc()
            folder = ""
    return folder


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--dist", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--report", default="")
    parser.add_argument("tests", nargs="*")
    ARGS = parser.parse_args()
    loader = unittest.TestLoader()
    if ARGS.tests:
        suite = unittest.TestSuite(loader.loadTestsFromName(name, sys.modules[__name__])
                                   for name in ARGS.tests)
    else:
        suite = loader.loadTestsFromTestCase(StationEndToEnd)
    result = unittest.TextTestRunner(resultclass=XmlResult, verbosity=2).run(suite)
    report = ARGS.report or report_folder()
    if report:
        write_report(report, result)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
