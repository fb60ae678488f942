#!/usr/bin/env python3
"""Stress: the real qvstation.exe, run after run and device after device, on a
bench whose library answers at once and an image hashed at once, where a job
lost between its start and its first step once left a run silent for ever.

    station_soak.py --dist DIR --bin DIR [--runs N] [--devices N] [--kind K]
                    [--run-limit SECONDS] [--report DIR]

--runs one-job runs, each on the same device; then a station loop of
--devices devices, each plugged in, written and taken away. Every run and
every device must end with its verdict and its line within --run-limit
seconds. --kind is the devices' kind: 4 (mass storage, the default) goes
through the switch to download mode, 2 (loader) straight to the download. Prints the figures (runs and devices per minute, the slowest, the
share over twice the median) and ends with "N passed, N failed".
"""
import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

import station_e2e_test as e2e

RUN_LIMIT_S = 60
# How often a loop's progress is looked at.
POLL_S = 0.05


def figures(name, durations, per):
    if not durations:
        return f"{name}: none"
    median = statistics.median(durations)
    slow = sum(1 for d in durations if d > 2 * median)
    rate = len(durations) / (sum(durations) / 60) if sum(durations) > 0 else 0
    return (f"{name}: {len(durations)} in {sum(durations):.0f} s, {rate:.1f} {per}/min, "
            f"median {median:.2f} s, slowest {max(durations):.2f} s, "
            f"{slow} ({100 * slow / len(durations):.1f}%) over twice the median")


class Bench:
    """A station folder whose library answers at once, and a one-byte image."""

    def __init__(self, test):
        self.s = e2e.StationFolder(test)
        self.s.qvsim("delay", "switch=0", "reset=0", "wait=1", "upgrade=0", "erase=0")
        self.image = "tiny.img"
        done = subprocess.run(["wine", "qvimage.exe", "create", self.image, "size=1"],
                              cwd=self.s.folder, capture_output=True, timeout=60)
        if done.returncode != 0:
            raise AssertionError(f"qvimage: {done.stderr!r}")


def one_job_runs(test, bench, runs, limit):
    """Each run must end with exit code 0 and its line, within the limit."""
    s = bench.s
    device = s.plug("SOAK", ARGS.kind)
    durations, failures = [], []
    for number in range(1, runs + 1):
        started = time.monotonic()
        try:
            code, out, err = s.run("--upgrade", bench.image, "--wait", "30", timeout=limit)
        except subprocess.TimeoutExpired as expired:
            out = (expired.stdout or b"").decode("utf-8", "replace").splitlines()
            failures.append(f"run {number} silent after {limit} s: {out[-3:]}")
            # A hung run holds the program's single-instance guard.
            subprocess.run(["wineserver", "-k"], timeout=60)
            continue
        durations.append(time.monotonic() - started)
        if code != 0:
            failures.append(f"run {number} ended with {code}: {(out + err)[-3:]}")
    records = s.records()
    if len(records) != runs:
        failures.append(f"{len(records)} lines for {runs} runs")
    s.qvsim("unplug", device)
    return durations, failures


def station_loop(test, bench, devices, limit):
    """Every device gets its job, its line, and the call to take it away."""
    s = bench.s
    before = len(s.records())
    remove = s.text("IDS_201")
    waiting = s.waiting
    process, out, err = s.start("--station", "--upgrade", bench.image)
    durations, failures = [], []
    try:
        e2e.wait_until(lambda: out.count(waiting) >= 1, limit, "the station waits")
        for number in range(1, devices + 1):
            started = time.monotonic()
            device = s.plug(f"LOOP{number:04}", ARGS.kind)
            deadline = started + limit
            while time.monotonic() < deadline and out.count(remove) < number:
                time.sleep(POLL_S)
            if out.count(remove) < number:
                failures.append(f"device {number} silent after {limit} s: {out.snapshot()[-3:]}")
                break
            s.qvsim("unplug", device)
            # Taken away as a hand would: seen gone before the next comes.
            while time.monotonic() < deadline and out.count(waiting) < number + 1:
                time.sleep(POLL_S)
            if out.count(waiting) < number + 1:
                failures.append(f"device {number} not seen gone: {out.snapshot()[-3:]}")
                break
            durations.append(time.monotonic() - started)
        process.send_signal(signal.SIGINT)
        process.wait(timeout=limit)
    finally:
        e2e.end_station(process, out, err)
    records = s.records()[before:]
    if len(records) != len(durations) or any(r["result_code"] != "0" for r in records):
        failures.append(f"{len(records)} lines for {len(durations)} devices: "
                        f"{[r['result_code'] for r in records][:10]}")
    return durations, failures


class Soak(e2e.unittest.TestCase):
    def test_every_run_and_every_device_ends_with_its_verdict(self):
        bench = Bench(self)
        runs, run_failures = one_job_runs(self, bench, ARGS.runs, ARGS.run_limit)
        print("\n" + figures("one-job runs", runs, "runs"), flush=True)
        loop, loop_failures = station_loop(self, bench, ARGS.devices, ARGS.run_limit)
        print("\n" + figures("station loop", loop, "devices"), flush=True)
        failures = run_failures + loop_failures
        if failures:
            # The station folder goes with the test: its Log folder (a crash
            # report, the library's log) and the bench's log are kept.
            kept = tempfile.mkdtemp(prefix="qvstation-soak-failed-")
            shutil.copytree(os.path.join(bench.s.folder, "Log"), os.path.join(kept, "Log"),
                            dirs_exist_ok=True)
            shutil.copy(os.path.join(bench.s.folder, "Bench", "bench.log"), kept)
            failures.append(f"logs kept in {kept}")
        self.assertEqual(failures, [], "\n".join(failures[:20]))


ARGS = None


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--dist", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--runs", type=int, default=25)
    parser.add_argument("--devices", type=int, default=25)
    parser.add_argument("--kind", type=int, default=4, choices=[2, 4])
    parser.add_argument("--run-limit", type=float, default=RUN_LIMIT_S)
    parser.add_argument("--report", default="")
    ARGS = parser.parse_args()
    e2e.ARGS = ARGS
    suite = e2e.unittest.TestLoader().loadTestsFromTestCase(Soak)
    result = e2e.unittest.TextTestRunner(resultclass=e2e.XmlResult, verbosity=2).run(suite)
    report = ARGS.report or e2e.report_folder()
    if report:
        e2e.write_report(report, result, name="e2e_station_soak_test", suite_name="StationSoak")
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
