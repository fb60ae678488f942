"""Sums the GoogleTest XML reports of every suite into one closing line.

A test program that failed without a report (a crash, a sanitizer abort, a
time-out) counts as one failed test, so nothing is lost from the sum.
"""
import os
import sys
import xml.etree.ElementTree as ET

root = sys.argv[1]
passed = failed = 0
for suite in sorted(os.listdir(root)):
    folder = os.path.join(root, suite)
    if not os.path.isdir(folder):
        continue
    reported = set()
    clean = set()  # programs whose every reported case passed
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".xml"):
            continue
        try:
            top = ET.parse(os.path.join(folder, name)).getroot()
        except ET.ParseError:
            continue
        program = name[:-4]
        reported.add(program)
        failed_before = failed
        for case in top.iter("testcase"):
            if case.get("result", "completed") == "skipped" or case.get("status") == "notrun":
                continue
            if case.find("failure") is not None or case.find("error") is not None:
                failed += 1
            else:
                passed += 1
        if failed == failed_before:
            clean.add(program)
    failed_list = os.path.join(root, suite + ".failed")
    if os.path.exists(failed_list):
        with open(failed_list) as f:
            for line in f:
                program = line.strip().split(":", 1)[-1]
                if program and (program not in reported or program in clean):
                    # A crash, a sanitizer report at exit or a time-out.
                    print(f"{suite}: {program} failed outside its test cases", file=sys.stderr)
                    failed += 1
print(f"{passed} passed, {failed} failed")
