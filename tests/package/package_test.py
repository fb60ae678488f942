"""Tests of the packages, as a user meets them, under Wine.

    package_test.py contents|setup|portable --build WINDOWS_BUILD --source TREE

  contents  the names carry the version, the checksums hold, the setup program
            is a 64-bit program and the portable zip holds every file of the
            distribution folder; signed with a throwaway certificate, every
            program and the setup program verify (no Wine);
  setup     in a fresh Wine prefix: silent install of an older version
            (files, Start-menu shortcut, uninstall entry, the installed
            program starts and shows the bench's device), a refusal while the
            program runs, the upgrade to this version over changed settings
            and an added language file, an upgrade over the maker's library,
            a silent uninstall that keeps the settings and the logs (and
            the flags that ignore the device's USB serial numbers, set by
            each installation for setting.ini's ids and removed by the
            uninstaller, all but those it did not set), and a
            silent install into a folder chosen with /D=, uninstalled through
            the uninstaller's window with Yes to removing settings and logs;
  portable  the zip unpacked into a fresh folder whose path has spaces and
            non-ASCII characters, and the same start of the program there.

Writes a GoogleTest-style XML report where GTEST_OUTPUT points (as the C++
tests do), so that scripts/test counts each case. Exits 1 on any failure.
"""
import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import traceback
import zipfile
from xml.sax.saxutils import quoteattr

UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
USB_FLAGS_KEY = r"HKLM\SYSTEM\CurrentControlSet\Control\UsbFlags"
# The shipped setting.ini's device sections: loader, storage, debug bridge.
SHIPPED_USB_FLAGS = {"IgnoreHWSerNum2F7E3170", "IgnoreHWSerNum2F7E3171", "IgnoreHWSerNum2F7E3172"}
# Set before the program came: another maker's device, and one of the
# program's own ids. Neither is the program's to remove.
FOREIGN_USB_FLAGS = {"IgnoreHWSerNum18D1D00D", "IgnoreHWSerNum2F7E3171"}
# How long one step may take before it counts as a hang.
STEP_TIMEOUT = 120


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def version_of(source):
    text = open(os.path.join(source, "res", "version.h"), encoding="utf-8").read()
    parts = [re.search(r"#define QV_VERSION_%s (\d+)" % p, text).group(1)
             for p in ("MAJOR", "MINOR", "PATCH", "BUILD")]
    product = re.search(r'#define QV_PRODUCT_NAME "([^"]+)"', text).group(1)
    program = re.search(r'#define QV_FILE_NAME "([^"]+)"', text).group(1)
    return ".".join(parts), product, program


def tree_files(folder):
    """Every file below folder, as relative paths with forward slashes."""
    found = set()
    for root, _, files in os.walk(folder):
        for name in files:
            found.add(os.path.relpath(os.path.join(root, name), folder).replace(os.sep, "/"))
    return found


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def same_files(expected_folder, actual_folder, names):
    """The names missing from actual_folder or differing from expected_folder."""
    missing, differing = [], []
    for name in sorted(names):
        actual = os.path.join(actual_folder, name)
        if not os.path.isfile(actual):
            missing.append(name)
        elif digest(actual) != digest(os.path.join(expected_folder, name)):
            differing.append(name)
    return missing, differing


class Report:
    def __init__(self, program):
        self.program = program
        self.cases = []

    def run(self, name, body):
        start = time.time()
        print(f"[ RUN      ] {self.program}.{name}", flush=True)
        failure = None
        try:
            body()
        except Failure as e:
            failure = str(e)
        except Exception:
            failure = traceback.format_exc()
        seconds = time.time() - start
        self.cases.append((name, failure, seconds))
        if failure:
            print(f"{failure}\n[  FAILED  ] {self.program}.{name} ({seconds:.1f} s)", flush=True)
        else:
            print(f"[       OK ] {self.program}.{name} ({seconds:.1f} s)", flush=True)
        return failure is None

    def skip_rest(self, names, why):
        for name in names:
            self.cases.append((name, "not run: " + why, 0.0))
            print(f"[  FAILED  ] {self.program}.{name} (not run: {why})", flush=True)

    def failed(self):
        return any(failure for _, failure, _ in self.cases)

    def write(self):
        target = os.environ.get("GTEST_OUTPUT", "")
        if not target.startswith("xml:"):
            return
        folder = target[4:]
        if re.match(r"^[A-Za-z]:\\", folder):  # the Wine suite names a Windows path
            folder = subprocess.run(["winepath", "-u", folder], capture_output=True,
                                    text=True, env=clean_env()).stdout.strip()
        os.makedirs(folder, exist_ok=True)
        failures = sum(1 for _, failure, _ in self.cases if failure)
        lines = ['<?xml version="1.0" encoding="UTF-8"?>',
                 f'<testsuites tests="{len(self.cases)}" failures="{failures}" name="AllTests">',
                 f'  <testsuite name="{self.program}" tests="{len(self.cases)}" '
                 f'failures="{failures}">']
        for name, failure, seconds in self.cases:
            lines.append(f'    <testcase name="{name}" status="run" result="completed" '
                         f'time="{seconds:.3f}" classname="{self.program}">')
            if failure:
                lines.append(f"      <failure message={quoteattr(failure[:2000])}/>")
            lines.append("    </testcase>")
        lines += ["  </testsuite>", "</testsuites>"]
        with open(os.path.join(folder, self.program + ".xml"), "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")


def clean_env(prefix=None):
    env = dict(os.environ)
    # The library and the tools must find the bench beside themselves.
    env.pop("QVSIM_BENCH", None)
    env.setdefault("WINEDEBUG", "-all")
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env["WINEARCH"] = "win64"
    if prefix:
        env["WINEPREFIX"] = prefix
    return env


class Wine:
    """Runs programs in one Wine prefix; a fresh one is made and ended here."""

    def __init__(self, prefix, fresh):
        self.env = clean_env(prefix)
        self.fresh = fresh
        if fresh:
            os.makedirs(prefix, exist_ok=True)
            self.run(["wineboot", "-i"], check_rc=False)
        # A persistent server keeps each start fast; Wine's services start
        # here on no pipe, so that none holds the test's output open.
        self.run(["wineserver", "-p"], check_rc=False)
        self.wine("cmd.exe", "/c", "exit")
        # Windows closed on a bare display wait 2 s each when managed.
        self.wine("reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                  "/t", "REG_SZ", "/d", "N", "/f")

    def run(self, command, check_rc=True, timeout=STEP_TIMEOUT):
        result = subprocess.run(command, env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                timeout=timeout)
        out = result.stdout.decode("utf-8", "replace").replace("\r", "")
        if check_rc:
            check(result.returncode == 0,
                  f"{' '.join(command)} ended with {result.returncode}:\n{out}")
        return result.returncode, out

    def wine(self, *args, timeout=STEP_TIMEOUT):
        return self.run(["wine"] + list(args), check_rc=False, timeout=timeout)

    def windows_path(self, path):
        return self.run(["winepath", "-w", path])[1].strip()

    def unix_path(self, path):
        return self.run(["winepath", "-u", path])[1].strip()

    def reg_values(self, key):
        """The values of a registry key, or None when there is no such key."""
        rc, out = self.wine("reg", "query", key)
        if rc != 0:
            return None
        values = {}
        for line in out.splitlines():
            match = re.match(r"^\s+(\S+)\s+(REG_\w+)\s+(.*)$", line)
            if match:
                values[match.group(1)] = match.group(3).strip()
        return values

    def usb_flags(self):
        """The names of the set flags that ignore a device's serial number;
        fails on one of another type or value than the binary 01."""
        rc, out = self.wine("reg", "query", USB_FLAGS_KEY)
        flags = set()
        for line in out.splitlines() if rc == 0 else []:
            match = re.match(r"^\s+(IgnoreHWSerNum\S*)\s+(REG_\w+)\s+(.*)$", line, re.I)
            if match:
                check(match.group(2) == "REG_BINARY" and match.group(3).strip() == "01",
                      f"{match.group(1)} is {match.group(2)} {match.group(3)}, not REG_BINARY 01")
                flags.add(match.group(1))
        return flags

    def end(self):
        if self.fresh:
            self.run(["wineserver", "-k"], check_rc=False)


def wait_until(condition, timeout, message):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if condition():
            return
        time.sleep(0.5)
    raise Failure(message)


class Packages:
    def __init__(self, build, source):
        self.build = build
        self.source = source
        self.dist = os.path.join(build, "dist")
        self.bin = os.path.join(build, "bin")
        self.version, self.product, self.program_file = version_of(source)
        self.folder = self.package_folder()
        base = f"QV70-DeviceManager-{self.version}"
        self.top = base
        self.setup = os.path.join(self.folder, base + "-setup.exe")
        self.portable = os.path.join(self.folder, base + "-portable.zip")
        self.sums = os.path.join(self.folder, "SHA256SUMS")
        self.dist_files = tree_files(self.dist)

    def package_folder(self):
        cache = os.path.join(self.build, "CMakeCache.txt")
        for line in open(cache, encoding="utf-8", errors="replace"):
            if line.startswith("QV_PACKAGE_DIR:"):
                return line.split("=", 1)[1].strip()
        return os.path.join(os.path.dirname(self.build), "packages")

    def smoke(self, wine, folder, report_name):
        """Plugs a device into the folder's own bench with the folder's own
        qvsim.exe, then starts the program from the folder: main window,
        the device shown, a clean exit with code 0."""
        folder_w = wine.windows_path(folder)
        rc, out = wine.wine(os.path.join(folder, "qvsim.exe"), "plug", "kind=4",
                            "loader=2.05", "system=1.0.0")
        check(rc == 0, f"qvsim.exe in {folder_w} could not plug a device:\n{out}")
        check(os.path.isdir(os.path.join(folder, "Bench")),
              "the installed bench tool did not use the Bench folder beside it")
        session = os.path.join(self.bin, "ui_session.exe")
        rc, out = wine.wine(session, folder_w, "--smoke", timeout=STEP_TIMEOUT)
        print(out.rstrip(), flush=True)
        check(rc == 0, f"the program in {folder_w} did not run cleanly (ui_session {rc}):\n{out}")
        check("exit code: 0" in out, f"no clean exit reported:\n{out}")


def make_packages(packages, out, env=None, version=None):
    """Packs the distribution folder again into out, as the target does."""
    tools = {t: shutil.which(t) for t in ("makensis", "zip", "osslsigncode")}
    command = ["cmake", f"-DDIST={packages.dist}", f"-DSOURCE={packages.source}",
               f"-DOUT={out}", f"-DMAKENSIS={tools['makensis']}", f"-DZIP={tools['zip']}",
               f"-DOSSLSIGNCODE={tools['osslsigncode']}"]
    if version:
        command.append(f"-DVERSION={version}")
    command += ["-P", os.path.join(packages.source, "package", "make_packages.cmake")]
    result = subprocess.run(command, env=env, capture_output=True, text=True,
                            timeout=STEP_TIMEOUT)
    check(result.returncode == 0, f"making packages failed:\n{result.stdout}{result.stderr}")


def test_contents(packages, report, work):
    def names():
        for path in (packages.setup, packages.portable, packages.sums):
            check(os.path.isfile(path), f"missing package {path}")

    def checksums():
        listed = {}
        for line in open(packages.sums, encoding="utf-8"):
            hash_, name = line.rstrip("\n").split("  ", 1)
            listed[name] = hash_
        check(set(listed) == {os.path.basename(packages.setup),
                              os.path.basename(packages.portable)},
              f"SHA256SUMS lists {sorted(listed)}")
        for name, hash_ in listed.items():
            check(digest(os.path.join(packages.folder, name)) == hash_, f"checksum of {name}")

    def setup_is_64_bit():
        data = open(packages.setup, "rb").read(4096)
        pe = int.from_bytes(data[0x3C:0x40], "little")
        check(data[pe:pe + 4] == b"PE\0\0", "the setup program is no PE file")
        machine = int.from_bytes(data[pe + 4:pe + 6], "little")
        check(machine == 0x8664, f"the setup program is for machine {machine:#x}, not x86-64")

    def zip_holds_dist():
        with zipfile.ZipFile(packages.portable) as archive:
            entries = {i.filename: i for i in archive.infolist() if not i.is_dir()}
            top = {name.split("/", 1)[0] for name in entries}
            check(top == {packages.top}, f"the zip's top folders are {sorted(top)}")
            inside = {name.split("/", 1)[1] for name in entries}
            missing = sorted(packages.dist_files - inside)
            check(not missing, f"files of the distribution folder missing from the zip: {missing}")
            for name in sorted(packages.dist_files):
                content = archive.read(packages.top + "/" + name)
                check(hashlib.sha256(content).hexdigest() ==
                      digest(os.path.join(packages.dist, name)), f"{name} differs in the zip")

    def signing(work):
        # A throwaway certificate; the packages are made again, signed, into
        # a folder of their own.
        cert, key = os.path.join(work, "cert.pem"), os.path.join(work, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                        key, "-out", cert, "-days", "2", "-subj", "/CN=Package Test"],
                       check=True, capture_output=True, timeout=STEP_TIMEOUT)
        out = os.path.join(work, "signed")
        make_packages(packages, out, env=dict(os.environ, QV_SIGN_CERT=cert, QV_SIGN_KEY=key))

        def verify(path, name):
            run = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", path],
                                 capture_output=True, text=True, timeout=STEP_TIMEOUT)
            check(run.returncode == 0 and "Signature verification: ok" in run.stdout,
                  f"{name} is not signed:\n{run.stdout}{run.stderr}")

        verify(os.path.join(out, os.path.basename(packages.setup)), "the setup program")
        unpacked = os.path.join(work, "unpacked")
        with zipfile.ZipFile(os.path.join(out, os.path.basename(packages.portable))) as archive:
            archive.extractall(unpacked)
        binaries = [n for n in packages.dist_files if n.lower().endswith((".exe", ".dll"))]
        check(len(binaries) >= 2, f"programs in the distribution folder: {binaries}")
        for name in binaries:
            verify(os.path.join(unpacked, packages.top, name), name)

    report.run("PackagesNamedWithTheVersion", names)
    report.run("ChecksumsMatch", checksums)
    report.run("SetupProgramIs64Bit", setup_is_64_bit)
    report.run("PortableZipHoldsEveryDistributedFile", zip_holds_dist)
    if shutil.which("osslsigncode") and shutil.which("openssl"):
        report.run("SignedPackagesVerify", lambda: signing(work))


def test_setup(packages, report, work):
    wine = Wine(os.path.join(work, "prefix"), fresh=True)
    try:
        drive = os.path.join(work, "prefix", "drive_c")
        folder = os.path.join(drive, "Program Files", packages.product)
        key = UNINSTALL_KEY + "\\" + packages.product
        shortcut = os.path.join(drive, "ProgramData", "Microsoft", "Windows", "Start Menu",
                                "Programs", packages.product + ".lnk")
        added_language = os.path.join(folder, "Language", "Added.ini")
        log = os.path.join(folder, "Log", "device.log")

        # The first installation is of an older version, which the later
        # steps upgrade.
        older_version = "0.9.0.1"
        older_folder = os.path.join(work, "older")
        older_setup = os.path.join(older_folder,
                                   f"QV70-DeviceManager-{older_version}-setup.exe")

        def silent_install():
            make_packages(packages, older_folder, version=older_version)
            for flag in FOREIGN_USB_FLAGS:
                wine.wine("reg", "add", USB_FLAGS_KEY, "/v", flag, "/t", "REG_BINARY", "/d", "01",
                          "/f")
            rc, out = wine.wine(older_setup, "/S")
            check(rc == 0, f"setup /S ended with {rc}")
            missing, differing = same_files(packages.dist, folder, packages.dist_files)
            check(not missing, f"distributed files not installed: {missing}")
            check(not differing, f"installed files differ from the distribution: {differing}")
            check(os.path.isfile(os.path.join(folder, "Uninstall.exe")), "no uninstaller")
            check(os.path.isfile(shortcut), f"no Start-menu shortcut {shortcut}")
            values = wine.reg_values(key)
            check(values is not None, f"no uninstall entry {key}")
            check(values.get("DisplayName") == packages.product, f"DisplayName: {values}")
            check(values.get("DisplayVersion") == older_version, f"DisplayVersion: {values}")
            check(values.get("Publisher"), f"no Publisher: {values}")
            check(int(values.get("EstimatedSize", "0"), 0) > 1000, f"EstimatedSize: {values}")
            icon = values.get("DisplayIcon", "").rsplit(",", 1)[0]
            check(icon.lower().endswith("\\" + packages.program_file.lower()) and
                  os.path.isfile(wine.unix_path(icon)), f"DisplayIcon: {values}")
            check(values.get("UninstallString", "").strip('"').lower().endswith("uninstall.exe"),
                  f"UninstallString: {values}")
            flags = wine.usb_flags()
            check(flags == SHIPPED_USB_FLAGS | FOREIGN_USB_FLAGS,
                  f"USB flags after the installation: {sorted(flags)}")

        def installed_program_runs():
            packages.smoke(wine, folder, "installed")

        def setup_refuses_while_program_runs():
            program = subprocess.Popen(["wine", os.path.join(folder, packages.program_file)],
                                       env=wine.env, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                # The program holds its instance guard from its first moments;
                # the splash alone shows for two seconds.
                time.sleep(3)
                check(program.poll() is None, "the program ended by itself")
                rc, _ = wine.wine(packages.setup, "/S")
                check(rc == 2, f"setup /S while the program runs ended with {rc}, not 2")
            finally:
                wine.wine("taskkill", "/F", "/IM", packages.program_file)
                try:
                    program.wait(timeout=30)
                except subprocess.TimeoutExpired:
                    program.kill()

        def upgrade_keeps_user_files():
            settings = os.path.join(folder, "setting.ini")
            with open(settings, "a", encoding="utf-8") as f:
                f.write("; changed by the user\n")
            # The device's maker gave the debug-bridge mode another product id.
            text = open(settings, encoding="utf-8").read()
            check("PID=0x3172" in text, "the shipped setting.ini has no debug-bridge id")
            with open(settings, "w", encoding="utf-8", newline="") as f:
                f.write(text.replace("PID=0x3172", "PID=3173"))
            changed = open(settings, "rb").read()
            with open(added_language, "w", encoding="utf-8") as f:
                f.write("[Setting]\nLanguage=Added\n")
            os.makedirs(os.path.dirname(log), exist_ok=True)
            with open(log, "w") as f:
                f.write("a log of the device library\n")
            # An old program file: the upgrade replaces it.
            english = os.path.join(folder, "Language", "English.ini")
            with open(english, "w", encoding="utf-8") as f:
                f.write("[Setting]\nLanguage=English\n")
            rc, _ = wine.wine(packages.setup, "/S")
            check(rc == 0, f"setup /S over the older installation ended with {rc}")
            values = wine.reg_values(key) or {}
            check(values.get("DisplayVersion") == packages.version,
                  f"DisplayVersion after the upgrade: {values}")
            check(open(settings, "rb").read() == changed, "the upgrade replaced setting.ini")
            check(os.path.isfile(added_language), "the upgrade removed an added language file")
            check(os.path.isfile(log), "the upgrade removed the Log folder")
            flags = wine.usb_flags()
            check(flags == (SHIPPED_USB_FLAGS - {"IgnoreHWSerNum2F7E3172"}) |
                  {"IgnoreHWSerNum2F7E3173"} | FOREIGN_USB_FLAGS,
                  f"USB flags after the upgrade over changed ids: {sorted(flags)}")
            missing, differing = same_files(packages.dist, folder,
                                            packages.dist_files - {"setting.ini"})
            check(not missing and not differing,
                  f"program files not replaced: missing {missing}, differing {differing}")

        def upgrade_keeps_makers_library():
            # An installation without the simulated bench, on the maker's library.
            wine.wine("reg", "add", key, "/v", "SimulatedBench", "/t", "REG_DWORD", "/d", "0",
                      "/f")
            library = os.path.join(folder, "QVAndroidDLL.dll")
            with open(library, "wb") as f:
                f.write(b"the maker's library")
            rc, _ = wine.wine(packages.setup, "/S")
            check(rc == 0, f"setup /S ended with {rc}")
            check(open(library, "rb").read() == b"the maker's library",
                  "the upgrade put the simulated library over the maker's")
            check(os.path.isfile(os.path.join(folder, packages.program_file)),
                  "the program was not installed")

        def silent_uninstall():
            settings = open(os.path.join(folder, "setting.ini"), "rb").read()
            values = wine.reg_values(key) or {}
            quiet = values.get("QuietUninstallString", "")
            check(quiet.endswith(" /S"), f"QuietUninstallString: {values}")
            wine.wine(wine.unix_path(quiet[:-3].strip('"')), "/S")
            # The uninstaller runs on from a copy of itself: wait for its end.
            wait_until(lambda: wine.reg_values(key) is None and
                       not os.path.exists(os.path.join(folder, "Uninstall.exe")),
                       60, "the uninstaller did not finish within 60 s")
            left = sorted(n for n in packages.dist_files - {"setting.ini"}
                          if os.path.exists(os.path.join(folder, n)))
            check(not left, f"program files left behind: {left}")
            check(not os.path.exists(shortcut), "the Start-menu shortcut is left")
            check(not os.path.exists(os.path.join(folder, "Bench")), "the bench is left")
            check(open(os.path.join(folder, "setting.ini"), "rb").read() == settings,
                  "setting.ini was not kept")
            check(os.path.isfile(log), "the Log folder was not kept")
            check(os.path.isfile(added_language), "an added language file was removed")
            flags = wine.usb_flags()
            check(flags == FOREIGN_USB_FLAGS, f"USB flags after the uninstallation: {sorted(flags)}")

        def install_into_chosen_folder_and_remove_everything():
            # As typed at a command prompt: /D= last, spaces unquoted.
            chosen = r"C:\Bench Tools\QV70"
            rc, _ = wine.wine("cmd.exe", "/c",
                              f"{wine.windows_path(packages.setup)} /S /D={chosen}")
            check(rc == 0, f"setup /S /D= ended with {rc}")
            chosen_unix = os.path.join(drive, "Bench Tools", "QV70")
            missing, _ = same_files(packages.dist, chosen_unix, packages.dist_files)
            check(not missing, f"not installed into {chosen}: {missing}")
            values = wine.reg_values(key) or {}
            check(values.get("InstallLocation") == chosen, f"InstallLocation: {values}")
            # Uninstalled with its window, Yes to removing settings and logs.
            chosen_log = os.path.join(chosen_unix, "Log", "device.log")
            os.makedirs(os.path.dirname(chosen_log))
            with open(chosen_log, "w") as f:
                f.write("a log of the device library\n")
            rc, out = wine.wine(os.path.join(packages.bin, "uninstall_answer.exe"),
                                wine.windows_path(os.path.join(chosen_unix, "Uninstall.exe")),
                                chosen, "yes")
            print(out.rstrip(), flush=True)
            check(rc == 0, f"the uninstaller with its window: {rc}\n{out}")
            # Enter keeps the job record and the crash reports, and the
            # question says they would go.
            check("default: no" in out, f"the question does not default to No:\n{out}")
            check("job record" in out and "crash reports" in out,
                  f"the question does not name what the Log folder holds:\n{out}")
            check(wine.reg_values(key) is None, "the uninstall entry is left")
            left = sorted(n for n in packages.dist_files
                          if os.path.exists(os.path.join(chosen_unix, n)))
            check(not left, f"left after Yes to removing everything: {left}")
            check(not os.path.exists(os.path.dirname(chosen_log)), "the Log folder is left")
            flags = wine.usb_flags()
            check(flags == FOREIGN_USB_FLAGS, f"USB flags after the uninstallation: {sorted(flags)}")

        steps = [("SilentInstall", silent_install),
                 ("InstalledProgramRuns", installed_program_runs),
                 ("SetupRefusesWhileProgramRuns", setup_refuses_while_program_runs),
                 ("UpgradeKeepsUserFiles", upgrade_keeps_user_files),
                 ("UpgradeKeepsMakersLibrary", upgrade_keeps_makers_library),
                 ("SilentUninstallKeepsSettingsAndLog", silent_uninstall),
                 ("InstallIntoChosenFolderUninstallEverything",
                  install_into_chosen_folder_and_remove_everything)]
        for i, (name, body) in enumerate(steps):
            # Each step stands on the one before it.
            if not report.run(name, body):
                report.skip_rest([n for n, _ in steps[i + 1:]], f"{name} failed")
                break
    finally:
        wine.end()


def test_portable(packages, report, work):
    wine = Wine(os.environ.get("WINEPREFIX") or os.path.join(work, "prefix"),
                fresh=not os.environ.get("WINEPREFIX"))
    try:
        target = os.path.join(work, "Bench Läufer 设备 Übung")
        folder = os.path.join(target, packages.top)

        def unpacked():
            os.makedirs(target)
            subprocess.run(["unzip", "-q", packages.portable, "-d", target], check=True,
                           timeout=STEP_TIMEOUT)
            missing, differing = same_files(packages.dist, folder, packages.dist_files)
            check(not missing and not differing,
                  f"unpacked: missing {missing}, differing {differing}")

        def runs_from_unpacked_folder():
            packages.smoke(wine, folder, "portable")

        if report.run("UnpacksIntoFolderWithSpacesAndNonAscii", unpacked):
            report.run("RunsFromUnpackedFolder", runs_from_unpacked_folder)
        else:
            report.skip_rest(["RunsFromUnpackedFolder"], "unpacking failed")
    finally:
        wine.end()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kind", choices=["contents", "setup", "portable"])
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    args = parser.parse_args()
    packages = Packages(os.path.abspath(args.build), os.path.abspath(args.source))
    report = Report("package_" + args.kind)
    work = tempfile.mkdtemp(prefix="qv-package-")
    try:
        if args.kind == "contents":
            test_contents(packages, report, work)
        elif args.kind == "setup":
            test_setup(packages, report, work)
        else:
            test_portable(packages, report, work)
    finally:
        report.write()
        if os.environ.get("QV_PACKAGE_KEEP") == "1":
            print(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    sys.exit(1 if report.failed() else 0)


if __name__ == "__main__":
    main()
