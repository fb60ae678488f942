#!/usr/bin/env python3
"""Fails when an include runs back up a floor.

Each folder stands on the floors below it and never includes one above or
beside it:

    app/ (window program start-up)     station/ (console program)
                 ui/ (windows only: main window, About, splash)
       commands/ (the portable command logic both programs run)
                     records/ (job record, its queue, file and database)
           device/ (watcher, job, driver, inspection, job events)   controls/
    base/ (platform interfaces, process state, view interface, texts, settings file)

records/ stands on device/ (it listens to the job events); commands/ never
needs it. res/ holds the resource ids that every floor may name. station/ may use
app/'s settings loading beside it. sim/ is a house of its own beside the
floors: it may use the device library's interface from
base/ and device/, and res/ for the version its files ship with, nothing of
the window. tests/ may include anything.

Usage: check_floors.py [ROOT]. Prints each offending include and exits 1.
"""
import os
import re
import subprocess
import sys

# What each folder may include besides itself.
ALLOWED = {
    "base": {"res"},
    "device": {"base", "res"},
    "records": {"base", "device", "res"},
    "controls": {"base", "res"},
    "commands": {"base", "device", "res"},
    "ui": {"base", "device", "records", "controls", "commands", "res"},
    "app": {"base", "device", "records", "controls", "commands", "ui", "res"},
    # The console program stands beside the window program's start-up and
    # shares its settings loading; it uses the portable commands and no
    # window code of ui/.
    "station": {"base", "device", "records", "controls", "commands", "app", "res"},
    "sim": {"base", "device", "res"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/')


def tracked_sources(root):
    out = subprocess.run(
        ["git", "-C", root, "ls-files", "--cached", "--others", "--exclude-standard",
         "*.h", "*.hpp", "*.c", "*.cpp", "*.rc"],
        check=True, capture_output=True, text=True).stdout
    return [line for line in out.splitlines() if line]


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.getcwd()
    faults = []
    for path in tracked_sources(root):
        floor = path.split("/", 1)[0]
        if floor not in ALLOWED:
            continue
        try:
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                lines = f.readlines()
        except FileNotFoundError:
            continue
        for number, line in enumerate(lines, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            if target != floor and target not in ALLOWED[floor]:
                faults.append(f"{path}:{number}: {floor}/ includes {target}/: {line.strip()}")
            elif floor == "station" and target in ("ui", "app") and "_win." in line:
                faults.append(f"{path}:{number}: station/ includes window code: {line.strip()}")
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) run back up or across a floor")
        return 1
    print("floors: every include stays on its floor or below")
    return 0


if __name__ == "__main__":
    sys.exit(main())
