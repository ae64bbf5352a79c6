#!/usr/bin/env python3
"""The Windows release under Wine, against the native build on the same database.

Installs the MSI silently without properties into a fresh Wine prefix on a virtual X server
(the demo: its database under ProgramData), then works the installed window as an operator does
(with today pinned), runs the installed batch program in its three outcomes beside the native
one, and points both programs at a closed port through SALESTOTALS_CONFIG.
In a second fresh prefix it installs the MSI as a site does, with SERVER=, upgrades it without
properties, runs the installed programs against the SQL Server stand-in through the
Microsoft-style driver double, removes it, then installs the demo again for the weekly task.
The window is driven and read with the end-to-end machinery of tests/e2e/e2e.py; here it runs
under Wine, whose X windows carry no Qt window ids, so windows are matched by order and title.

    wine_stage.py --zip ZIP --plugins DIR --linux-batch PROGRAM --demo-db FILE --msi MSI
                  --msi-older MSI --site-driver SO --site-port PORT --work DIR [--only CHECK]...

Prints which checks passed. Exit status: 0 when all passed, 1 otherwise.
"""

import argparse
import glob
import json
import os
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import time
import zipfile
from datetime import date, datetime

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import e2e  # noqa: E402
from e2e import CODES, Box, Display, Failure, Period, Program, check, log, run  # noqa: E402

TODAY = date(2026, 12, 8)
WINE_TIMEOUT = 300  # wineboot of a fresh prefix on a busy machine
STAGE_DEADLINE = 1500
# Longer than the default wait for the lock (SALESTOTALS_RUN_LOCK_WAIT, 30 s).
TASK_HELD_SECONDS = 40
STANDIN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sqlserver", "standin.py")
CHECKS = ["install", "window", "batch", "sqlserver", "msi", "show-config", "site", "site-window",
          "msi-remove", "task"]
SETTINGS_KEY = r"HKLM\SOFTWARE\salestotals"
SETTINGS_ORIGIN = r"HKEY_LOCAL_MACHINE\SOFTWARE\salestotals, value "
DEMO_DB = r"C:\ProgramData\salestotals\QVT.sqlite"


def windows_path(path):
    """Wine's drive Z: is the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Wine:
    """A fresh Wine prefix on the given display. The whole session sees the same pinned clock:
    faketime moves the real time by a fixed offset in every Wine process and the wineserver."""

    def __init__(self, prefix, display, odbc):
        shutil.rmtree(prefix, ignore_errors=True)
        os.makedirs(os.path.dirname(prefix), exist_ok=True)
        noon = datetime.combine(TODAY, datetime.min.time()).replace(hour=12)
        offset = int(noon.timestamp() - time.time())
        self.prefix = prefix
        self.env = dict(display.env, WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all",
                        # no downloads of Mono or Gecko, which nothing here needs
                        WINEDLLOVERRIDES="mscoree,mshtml=",
                        LD_PRELOAD=e2e.FAKETIME_LIBRARY, FAKETIME=f"{offset:+d}",
                        FAKETIME_DONT_FAKE_MONOTONIC="1", ODBCSYSINI=odbc)
        for key in [k for k in self.env if k.startswith("QT_")]:
            del self.env[key]

    def boot(self):
        started = time.monotonic()
        run(["wineboot", "-i"], self.env, timeout=WINE_TIMEOUT)
        run(["wineserver", "-w"], self.env, timeout=WINE_TIMEOUT)
        log(f"Wine prefix {self.prefix} made in {time.monotonic() - started:.0f} s")

    def run(self, args, timeout=120, extra=None, env=None):
        env = dict(env or self.env, **(extra or {}))
        return run(["wine"] + args, env, timeout=timeout, check_status=False)

    def real_clock(self, extra):
        """A Wine session of its own on the real clock: a Kerberos realm's KDC refuses
        tickets pinned more than a day behind it (error 32, "Ticket expired")."""
        self.end()
        run(["wineserver", "-w"], self.env, timeout=WINE_TIMEOUT)
        env = {k: v for k, v in self.env.items() if k not in ("LD_PRELOAD", "FAKETIME")}
        return dict(env, **extra)

    def end(self):
        run(["wineserver", "-k"], self.env, check_status=False)

    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")


class WineProgram(Program):
    """The program started through Wine. Qt's window ids there are Windows handles, not X
    windows: the main window is found by its title and each new box is the probe's next."""

    def __init__(self, exe, wine, display, artifacts, plugins, env=None):
        super().__init__(argparse.Namespace(program=exe, plugins=plugins), display, TODAY,
                         artifacts)
        self.wine = wine
        self.base_env = env or wine.env

    def start(self):
        # Wine hands on no QT_ variable of Unix's; it turns WINEQT_X into QT_X.
        env = dict(self.base_env, WINEQT_PLUGIN_PATH=windows_path(self.args.plugins),
                   WINEQT_QPA_GENERIC_PLUGINS="salestotals-box-probe",
                   SALESTOTALS_E2E_PROBE_LOG=windows_path(self.probe_log))
        if os.path.exists(self.probe_log):
            os.remove(self.probe_log)
        self.output = open(os.path.join(self.artifacts, "program-output.txt"), "w")
        log(f"starting {self.args.program} under Wine")
        self.process = subprocess.Popen(["wine", self.args.program], env=env, stdout=self.output,
                                        stderr=subprocess.STDOUT, start_new_session=True)

    def wait_for_window(self):
        def shown():
            check(self.running(), f"the program ended early ({self.process.returncode})")
            if not self.records("window"):
                return None
            found = run(["xdotool", "search", "--onlyvisible", "--name", "^Form1$"], self.env,
                        check_status=False).stdout.split()
            return int(found[0]) if found else None
        self.main_window = e2e.wait_until("the main window", e2e.WINDOW_TIMEOUT, shown)
        return self.main_window

    def wait_for_box(self, timeout=e2e.BOX_TIMEOUT):
        def new_box():
            ids = [w for w in self.visible_windows()
                   if w != self.main_window and w not in self.handled]
            if not ids:
                check(self.running(), f"the program ended ({self.process.returncode})")
                return None
            check(len(ids) == 1, f"several boxes at once: {ids}")
            records = self.records("box")
            if len(records) <= len(self.seen):
                return None
            box = Box(records[len(self.seen)])
            check(run(["xdotool", "getwindowname", str(ids[0])], self.env).stdout.strip() ==
                  box.title, f"the new window is not the box {box.describe()}")
            box.window = ids[0]
            return box
        return e2e.wait_until("a box", timeout, new_box)

    def close(self):
        x, y = self.close_button()
        log(f"clicking the close button at {x},{y}")
        # Without --sync: it waits for a motion that never comes when the pointer is already
        # there, as it is when an earlier window stood in the same place.
        run(["xdotool", "mousemove", str(x), str(y)], self.env)
        time.sleep(0.3)
        run(["xdotool", "click", "1"], self.env)
        try:
            status = self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end after its window was closed")
        self.output.close()
        check(status == 0, f"the program ended with status {status}")
        shown = [(b.title, b.text) for b in map(Box, self.records("box"))]
        check(shown == [(b.title, b.text) for b in self.seen],
              f"the program showed {len(shown)} boxes, the operator answered {len(self.seen)}")


# ---- the native build beside it -------------------------------------------------------------

def linux_batch(args, folder, database, arguments):
    """The native batch program on its own copy of a database; its data source lies beside it."""
    os.makedirs(folder, exist_ok=True)
    program = os.path.join(folder, "salestotals-batch")
    shutil.copy2(args.linux_batch, program)
    if database is not None:
        shutil.copy2(database, os.path.join(folder, "QVT.sqlite"))
    env = dict(os.environ, LD_PRELOAD=e2e.FAKETIME_LIBRARY,
               FAKETIME=f"@{TODAY.isoformat()} 12:00:00")
    return subprocess.run([program] + arguments, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, timeout=300)


def batch_lines(text):
    """A run's lines without their times, which differ from run to run."""
    return [re.sub(r" \d+ ms$", "", line) for line in text.splitlines()]


def summary_tables(path):
    return {table: e2e.read_table(path, f"SELECT * FROM {table} ORDER BY "
                                  + ("XX001, XX005" if table == "FADMXX" else "XY001"))
            for table in ("FADMXX", "FADMXY")}


def same_tables(windows_db, linux_db, what):
    got, want = summary_tables(windows_db), summary_tables(linux_db)
    for table in got:
        check(len(want[table]) > 0, f"{what}: the native build wrote no {table} rows")
        if got[table] != want[table]:
            only_ours = sorted(set(got[table]) - set(want[table]))[:3]
            only_theirs = sorted(set(want[table]) - set(got[table]))[:3]
            raise Failure(f"{what}: {table} differs: Windows {len(got[table])} rows, native "
                          f"{len(want[table])}; only under Wine {only_ours}, only native "
                          f"{only_theirs}")
    return len(got["FADMXX"])


def msiexec(wine, action, package, *properties):
    result = wine.run(["msiexec", action, windows_path(package), "/qn", *properties],
                      timeout=WINE_TIMEOUT)
    check(result.returncode == 0,
          f"msiexec {action} {os.path.basename(package)} ended with {result.returncode}")
    run(["wineserver", "-w"], wine.env, timeout=WINE_TIMEOUT)


def products(wine):
    """(name, version) of each installed product of ours, from the uninstall registrations."""
    out = wine.run(["reg", "query", r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall",
                    "/s"]).stdout
    entries = []
    for line in out.splitlines():
        if line.startswith("HKEY_"):
            entries.append({})
        elif entries and len(line.split(None, 2)) == 3:
            name, _, value = line.split(None, 2)
            entries[-1][name] = value
    return sorted((e.get("DisplayName"), e.get("DisplayVersion")) for e in entries
                  if e.get("DisplayName", "").startswith("salestotals"))


def settings(wine):
    """The values of the settings key, or None when there is no key."""
    result = wine.run(["reg", "query", SETTINGS_KEY])
    if result.returncode != 0:
        return None
    values = {}
    for line in result.stdout.splitlines():
        parts = line.split(None, 2)
        if line.startswith("    ") and len(parts) == 3:
            check(parts[1] == "REG_SZ", f"{parts[0]} is a {parts[1]}, not a string: {line!r}")
            values[parts[0]] = parts[2]
    return values


class StandIn:
    """The SQL Server stand-in on the site's port with a Kerberos realm for the integrated
    login; events() are the JSON lines it logged."""

    def __init__(self, port, folder):
        self.port, self.folder = port, folder
        self.log = os.path.join(folder, "standin.jsonl")
        self.env = dict(KRB5_CONFIG=os.path.join(folder, "krb5.conf"),
                        KRB5CCNAME="FILE:" + os.path.join(folder, "krb5cc"),
                        KRB5_CLIENT_KTNAME=os.path.join(folder, "client.keytab"))

    def __enter__(self):
        with open(os.path.join(self.folder, "standin.err"), "w") as err:
            # python3-gssapi is Debian's: its interpreter.
            self.process = subprocess.Popen(["/usr/bin/python3", STANDIN, "items", self.log,
                                             "--port", self.port, "--realm", self.folder],
                                            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                            stderr=err, text=True)
        if self.process.stdout.readline().strip() != self.port:
            self.__exit__()
            raise Failure(f"the stand-in did not start on port {self.port}")
        return self

    def __exit__(self, *exc):
        self.process.stdin.close()
        self.process.wait(timeout=10)

    def events(self, kind):
        with open(self.log, encoding="utf-8") as f:
            seen = [json.loads(line) for line in f]
        check(not [e for e in seen if e["event"] == "standin-error"],
              f"the stand-in failed: {seen}")
        return [e for e in seen if e["event"] == kind]


def msi_version(path):
    """The product version of a release's MSI, from its name (salestotals-1.0-win64.msi)."""
    version = re.fullmatch(r"salestotals-([\d.]+)-win64\.msi", os.path.basename(path)).group(1)
    return version + ".0" * (2 - version.count("."))


def zipped(path):
    """The files of the zip, relative to its one top folder."""
    with zipfile.ZipFile(path) as z:
        return {n.split("/", 1)[1] for n in z.namelist() if "/" in n and not n.endswith("/")}


def tree(folder):
    """The files below a folder, as paths relative to it with '/'."""
    return {os.path.relpath(os.path.join(root, name), folder).replace(os.sep, "/")
            for root, _, names in os.walk(folder) for name in names}


def start_menu(wine, name):
    return glob.glob(os.path.join(wine.drive_c(), "**", "Start Menu", "Programs", name,
                                  "salestotals.lnk"), recursive=True)


# ---- the checks ------------------------------------------------------------------------------

class Stage:
    def __init__(self, args):
        self.args = args
        self.results = []
        self.install_dir = None
        self.database = None
        self.msi_dir = None
        self.msi_files = None

    def step(self, name, function, needed_by=()):
        if self.args.only and not {name, *needed_by} & set(self.args.only):
            return
        started = time.monotonic()
        try:
            detail = function()
            self.results.append((name, True, detail or ""))
            log(f"PASSED {name}")
        except (Failure, subprocess.SubprocessError, OSError, sqlite3.Error) as problem:
            self.results.append((name, False, str(problem)))
            log(f"FAILED {name}: {problem}")
        self.results[-1] += (time.monotonic() - started,)

    def artifacts(self, name):
        folder = os.path.join(self.args.work, "artifacts", name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        return folder

    def install(self, wine):
        """The MSI without properties: the demo, the programs under Program Files, the
        database under ProgramData where its users can write, named by the one setting."""
        wine.boot()
        msiexec(wine, "/i", self.args.msi)
        self.install_dir = os.path.join(wine.drive_c(), "Program Files", "salestotals")
        self.database = os.path.join(wine.drive_c(), "ProgramData", "salestotals", "QVT.sqlite")
        check(os.path.exists(self.database), "no demo database under ProgramData")
        check(settings(wine) == {"database_file": DEMO_DB},
              f"the demo installation's settings are {settings(wine)}")
        expected = ["salestotals.exe", "salestotals-batch.exe", "salestotals-demo-db.exe",
                    "Qt6Core.dll", "Qt6Gui.dll", "Qt6Widgets.dll", "Qt6Sql.dll", "sqlite3.dll",
                    "libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll",
                    "platforms/qwindows.dll", "styles/qwindowsvistastyle.dll",
                    "sqldrivers/qsqlite.dll", "sqldrivers/qsqlodbc.dll",
                    "salestotals-batch-task.xml", "salestotals-batch-verify-task.xml"]
        installed = tree(self.install_dir)
        check(not set(expected) - installed, f"not installed: {set(expected) - installed}")
        check(installed == zipped(self.args.zip) - {"QVT.sqlite"},
              f"installed unlike the zip (without its database): "
              f"{sorted(installed ^ (zipped(self.args.zip) - {'QVT.sqlite'}))}")
        check(start_menu(wine, "salestotals"), "no Start-menu shortcut")
        return f"{len(installed)} files as in the zip, the database under ProgramData"

    def window(self, wine, display):
        """The window proposes what the native build proposes for the same day; OK writes
        what the native batch writes on the same database, and what is computed here."""
        native = linux_batch(self.args, os.path.join(self.args.work, "native-proposal"),
                             self.args.demo_db, ["--dry-run"])
        check(native.returncode == 0, f"the native dry run failed: {native.stderr}")
        proposal = native.stdout.splitlines()[0]
        match = re.fullmatch(r"-- year (\d+), month (\d+), week (\d+)", proposal)
        check(match, f"the native dry run begins with {proposal!r}")
        year, month, week = (int(v) for v in match.groups())
        period = Period(year, week, month)
        artifacts = self.artifacts("window")
        database = self.database
        with WineProgram(os.path.join(self.install_dir, "salestotals.exe"), wine, display,
                         artifacts, self.args.plugins) as program:
            program.wait_for_window()
            program.check_today()
            e2e.check_proposed(program, period)
            program.screenshot(program.main_window, "window.png")
            program.press_ok()
            program.answer_boxes(e2e.all_code_boxes(program), screenshots={0: "code-box.png"})
            program.close()
        e2e.check_results(database, period, CODES)
        native = linux_batch(self.args, os.path.join(self.args.work, "native-window"),
                             self.args.demo_db, [])
        check(native.returncode == 0, f"the native batch run failed: {native.stderr}")
        rows = same_tables(database, os.path.join(self.args.work, "native-window", "QVT.sqlite"),
                           "the window's run")
        return f"{period}; {rows} summary rows equal the native build's"

    def batch(self, wine):
        """The batch program's lines and exit status in its three outcomes, beside the native
        one's; the runs go on from one database state to the next on both sides."""
        exe = os.path.join(self.install_dir, "salestotals-batch.exe")
        database = self.database
        native_dir = os.path.join(self.args.work, "native-batch")
        shutil.rmtree(native_dir, ignore_errors=True)
        native_db = os.path.join(native_dir, "QVT.sqlite")
        shutil.copy2(self.args.demo_db, database)
        seen = []

        def both(what, arguments, status, change=None):
            if change:
                change(database)
                change(native_db)
            ours = wine.run([exe] + arguments, timeout=300)
            theirs = linux_batch(self.args, native_dir, self.args.demo_db if not seen else None,
                                 arguments)
            seen.append(what)
            check((ours.returncode, theirs.returncode) == (status, status),
                  f"{what}: exit {ours.returncode} under Wine, {theirs.returncode} native, "
                  f"expected {status}; Wine said {ours.stderr.strip()!r}")
            check(batch_lines(ours.stdout) == batch_lines(theirs.stdout),
                  f"{what}: Wine printed {ours.stdout!r}, native {theirs.stdout!r}")
            return ours

        ours = both("a given period", ["--year", "2025", "--month", "6", "--week", "24"], 0)
        check(len(ours.stdout.splitlines()) == 12, f"not twelve lines: {ours.stdout!r}")
        rows = same_tables(database, native_db, "the batch run")
        both("a bad option", ["--bogus"], 2)

        def drop_invoices(path):
            with sqlite3.connect(path) as db:
                db.execute("DROP TABLE COPTG")
        ours = both("a missing table", [], 1, drop_invoices)
        check(sum(" failed: " in line for line in ours.stdout.splitlines()) == 3,
              f"not the three invoice batches failed: {ours.stdout!r}")
        both("no database", [], 2, os.remove)
        return f"exit 0, 2, 1, 2 as native; {rows} summary rows equal"

    def sqlserver(self, wine, display):
        """The installed programs given a configuration for SQL Server (SALESTOTALS_CONFIG) on
        a closed port reach FreeTDS through Wine's ODBC (its driver "SQL Server" is the double
        over FreeTDS); the driver's message is in the box and the window still opens."""
        conf = os.path.join(self.artifacts("sqlserver"), "closed.conf")
        with open(conf, "w") as f:
            f.write(f"backend = sqlserver\nserver = localhost,{self.args.site_port}\n")
        env = dict(wine.env, SALESTOTALS_CONFIG=windows_path(conf))
        batch = wine.run([os.path.join(self.install_dir, "salestotals-batch.exe")], env=env)
        check(batch.returncode == 2 and "FreeTDS" in batch.stderr,
              f"the sqlserver batch ended with {batch.returncode}: {batch.stderr!r}")
        with WineProgram(os.path.join(self.install_dir, "salestotals.exe"), wine, display,
                         os.path.dirname(conf), self.args.plugins, env) as program:
            box = program.wait_for_box(timeout=120)
            check((box.title, box.icon, box.buttons) == (program.title, "critical", ["OK"]),
                  f"the start-up box is {box.describe()}")
            check("FreeTDS" in box.text, f"the box does not show the driver's message: {box.text!r}")
            program.answer_box(box, "error-box.png")
            program.wait_for_window()
            program.close()
        return box.text

    # ---- the MSI as a site installs it, in a prefix of its own ------------------------------

    def msi_install(self, wine):
        """An older version with SERVER= (and a wait), then this one over it without
        properties: one installation, this version's, holding the zip's programs, with the
        site's settings kept and no demo database."""
        wine.boot()
        site = {"backend": "sqlserver", "server": f"localhost,{self.args.site_port}",
                "run_lock_wait": "45"}
        msiexec(wine, "/i", self.args.msi_older, f"SERVER={site['server']}", "RUN_LOCK_WAIT=45")
        check(products(wine) == [("salestotals", "0.9.0")],
              f"after installing the older MSI: {products(wine)}")
        check(settings(wine) == site, f"the older MSI wrote {settings(wine)}")
        msiexec(wine, "/i", self.args.msi)
        version = msi_version(self.args.msi)
        check(products(wine) == [("salestotals", version)],
              f"after the upgrade, installed: {products(wine)}")
        check(settings(wine) == site, f"after the upgrade without properties: {settings(wine)}")
        # A repair puts back a value that went missing and keeps the others.
        wine.run(["reg", "delete", SETTINGS_KEY, "/v", "backend", "/f"])
        msiexec(wine, "/i", self.args.msi, "REINSTALL=ALL", "REINSTALLMODE=omus")
        check(settings(wine) == site, f"after a repair without properties: {settings(wine)}")
        downgrade = wine.run(["msiexec", "/i", windows_path(self.args.msi_older), "/qn"],
                             timeout=WINE_TIMEOUT)
        check(downgrade.returncode != 0 and products(wine) == [("salestotals", version)],
              f"installing the older MSI over the newer ended with {downgrade.returncode}, "
              f"leaving {products(wine)}")
        self.msi_dir = os.path.join(wine.drive_c(), "Program Files", "salestotals")
        installed = tree(self.msi_dir)
        check(installed == zipped(self.args.zip) - {"QVT.sqlite"},
              f"installed unlike the zip: {sorted(installed ^ zipped(self.args.zip))}")
        demo = os.path.join(wine.drive_c(), "ProgramData", "salestotals")
        check(not os.path.exists(demo), f"a site installation made {demo}")
        check(start_menu(wine, "salestotals"), "no Start-menu shortcut")
        self.msi_files = installed
        return (f"0.9.0 with SERVER= then {version} without, and a repair: {len(installed)} "
                f"files, the settings kept; the downgrade refused ({downgrade.returncode})")

    def show_config(self, wine):
        """--show-config of the installed program names the registry values."""
        shown = wine.run([os.path.join(self.msi_dir, "salestotals-batch.exe"), "--show-config"])
        check(shown.returncode == 0, f"--show-config ended with {shown.returncode}: "
              f"{shown.stderr!r}")
        lines = shown.stdout.splitlines()
        check(lines[0] == r"configuration: HKEY_LOCAL_MACHINE\SOFTWARE\salestotals",
              f"--show-config begins {lines[0]!r}")
        origins = {m.group(1): (m.group(2), m.group(3)) for m in
                   (re.fullmatch(r"(\w+) = (.*?) +# (.*)", line) for line in lines) if m}
        for key, value in [("backend", "sqlserver"), ("server", f"localhost,{self.args.site_port}"),
                           ("run_lock_wait", "45")]:
            check(origins.get(key) == (value, SETTINGS_ORIGIN + key),
                  f"--show-config shows {key} as {origins.get(key)}")
        check(origins.get("odbc_driver", ("", ""))[1] == "built in",
              f"the driver is {origins.get('odbc_driver')}")
        odbc = [line for line in lines if line.startswith("ODBC connection: ")]
        check(odbc and "DRIVER={SQL Server}" in odbc[0] and
              f"SERVER=localhost,{self.args.site_port}" in odbc[0],
              f"the ODBC connection shown: {odbc}")
        return odbc[0]

    def site(self, wine):
        """The installed salestotals-batch.exe, with nothing but the MSI's settings, names
        Windows' own driver "SQL Server", which Wine's ODBC looks up in unixODBC: there it is
        the Microsoft-style double (FreeTDS in manual-commit mode). Against the stand-in the
        twelve batches are done, each completion row committed once, under the run lock."""
        with StandIn(self.args.site_port, self.artifacts("site")) as standin:
            try:
                env = wine.real_clock(standin.env)
                ran = wine.run([os.path.join(self.msi_dir, "salestotals-batch.exe")], 300,
                               env=env)
            finally:
                wine.end()
        done = [line[:10] for line in ran.stdout.splitlines()]
        check(ran.returncode == 0 and done == [code + " done " for code in CODES],
              f"the site installation ended with {ran.returncode}: {ran.stdout!r} {ran.stderr!r}")
        principals = {e.get("principal") for e in standin.events("login")}
        check(principals == {"salestotals@SALESTOTALS.TEST"}, f"the logins were {principals}")
        implicit = sum(e["sql"] == "SET IMPLICIT_TRANSACTIONS ON" for e in standin.events("batch"))
        check(implicit >= 12, f"{implicit} times SET IMPLICIT_TRANSACTIONS ON: not the double")
        rows = {}
        for commit in standin.events("commit"):
            if commit["deletes"]:
                rows = {}
            for insert in commit["inserts"]:
                check(commit["run_lock"], f"committed without the run lock: {commit}")
                if insert["table"] == "fadmxy":
                    rows[insert["code"]] = rows.get(insert["code"], 0) + 1
        check(rows == {code: 1 for code in CODES}, f"committed completion rows: {rows}")
        return (f"{len(standin.events('login'))} integrated logins; 12 batches done, each "
                "committed once")

    def site_window(self, wine, display):
        """The installed window starts against the same server: it logs in, reads today's
        week from the calendar and opens with no box."""
        folder = self.artifacts("site-window")
        with StandIn(self.args.site_port, folder) as standin:
            try:
                env = wine.real_clock(standin.env)
                with WineProgram(os.path.join(self.msi_dir, "salestotals.exe"), wine, display,
                                 folder, self.args.plugins, env) as program:
                    program.wait_for_window()
                    program.screenshot(program.main_window, "window.png")
                    program.close()
            finally:
                wine.end()
        check(standin.events("login"), "the window did not log in")
        calendar = [e for kind in ("rpc", "batch") for e in standin.events(kind)
                    if "fcmsdt" in e["sql"].lower()]
        check(calendar, "the window did not read the calendar")
        return f"{len(standin.events('login'))} logins, the calendar read, no box"

    def msi_remove(self, wine):
        """msiexec /x removes every file, the folder, the shortcut, the registration and the
        settings."""
        msiexec(wine, "/x", self.args.msi)
        left = [f for f in self.msi_files if os.path.exists(os.path.join(self.msi_dir, f))]
        check(not left, f"left after msiexec /x: {left}")
        check(not os.path.exists(self.msi_dir), f"{self.msi_dir} is still there")
        check(not start_menu(wine, "salestotals"), "the shortcut is still there")
        check(products(wine) == [], f"still registered: {products(wine)}")
        check(settings(wine) is None, f"{SETTINGS_KEY} is still there: {settings(wine)}")
        return f"{len(self.msi_files)} files, the folder, the shortcut and the settings removed"

    def task(self, wine, display):
        """The demo installed where the site was (nothing of it comes back), its task
        definition registered with schtasks, and its command line run by hand (Wine runs no
        scheduled task) while the window's OK press holds the company database past the
        default wait: the run waits, then the log gets a header and the twelve lines, and windows_exporter's folder the metrics
        file."""
        msiexec(wine, "/i", self.args.msi)
        check(settings(wine) == {"database_file": DEMO_DB},
              f"the demo after the site's removal has the settings {settings(wine)}")
        folder = os.path.join(wine.drive_c(), "Program Files", "salestotals")
        demo = os.path.join(wine.drive_c(), "ProgramData", "salestotals")

        definition = os.path.join(folder, "salestotals-batch-task.xml")
        created = wine.run(["schtasks", "/create", "/tn", "salestotals-batch", "/xml",
                            windows_path(definition)])
        check(created.returncode == 0, f"schtasks /create ended with {created.returncode}")
        # Wine's schtasks has no /query; /change finds a task by name or fails.
        found = wine.run(["schtasks", "/change", "/tn", "salestotals-batch", "/enable"])
        missing = wine.run(["schtasks", "/change", "/tn", "salestotals-batch-none", "/enable"])
        check((found.returncode, missing.returncode != 0) == (0, True),
              f"schtasks /change found the task: {found.returncode}, a missing one: "
              f"{missing.returncode}")
        registered = os.path.join(wine.drive_c(), "windows", "system32", "tasks",
                                  "salestotals-batch")
        check(os.path.exists(registered), "no registered task file")

        with open(definition, encoding="utf-16") as f:
            xml = f.read()
        command, arguments, workdir = (
            re.search(f"<{tag}>(.*?)</{tag}>", xml).group(1)
            for tag in ("Command", "Arguments", "WorkingDirectory"))
        check("<Monday />" in xml and "T04:30:00<" in xml, "the task is not weekly on Mondays at 04:30")
        check("--wait " in arguments, f"the task passes no wait: {arguments!r}")
        # windows_exporter's textfile folder, as its installer leaves it.
        textfiles = os.path.join(wine.drive_c(), "Program Files", "windows_exporter",
                                 "textfile_inputs")
        os.makedirs(textfiles, exist_ok=True)
        script = os.path.join(self.args.work, "task.cmd")
        with open(script, "w", newline="\r\n") as f:
            f.write(f'@echo off\ncd /d "{workdir}"\n{command} {arguments}\n')
        ran = self.task_behind_window(wine, display, folder, script)
        check(ran.returncode == 0, f"the task's command line ended with {ran.returncode}: "
              f"{ran.stderr.strip()!r}")
        printed = [line for line in ran.stdout.splitlines() if line.strip()]
        log_file = os.path.join(wine.drive_c(), "ProgramData", "salestotals",
                                "salestotals-batch.log")
        check(os.path.exists(log_file), f"no log in {log_file}")
        with open(log_file, encoding="utf-8") as f:
            logged = f.read().splitlines()
        check(len(logged) == 14, f"the log has {len(logged)} lines, not 14: {logged!r}")
        check(re.fullmatch(r"== \d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d\d:\d\d on \S+: "
                           r"year 2026, month 12, week 49", logged[0]),
              f"the log's header is {logged[0]!r}")
        check(logged[1:13] == printed, f"the log's lines {logged[1:13]!r} are not the printed "
              f"ones {printed!r}")
        check(all(re.fullmatch(r"[WMY]\d{3} done \d+ rows? \d+ ms", line) for line in printed)
              and [line[:4] for line in printed] == CODES,
              f"not the twelve batches done: {printed!r}")
        check(logged[13] == "== exit status 0", f"the log ends with {logged[13]!r}")
        metrics = os.path.join(textfiles, "salestotals-batch.prom")
        with open(metrics, encoding="utf-8") as f:
            prom = f.read()
        check("\nsalestotals_run_exit_status 0\n" in prom
              and 'salestotals_run_batches{outcome="done"} 12\n' in prom,
              f"the metrics file says {prom!r}")

        removed = wine.run(["schtasks", "/delete", "/tn", "salestotals-batch", "/f"])
        check(removed.returncode == 0 and not os.path.exists(registered),
              f"schtasks /delete ended with {removed.returncode}")
        msiexec(wine, "/x", self.args.msi)
        check(not os.path.exists(folder) and settings(wine) is None,
              "msiexec /x left the programs or the settings")
        kept = sorted(os.listdir(demo))
        check(kept == ["QVT.sqlite", "salestotals-batch.log"],
              f"after msiexec /x {demo} holds {kept}, not the database and the log")
        return f"{logged[0]}; 12 lines, exit status 0; the database kept after /x"

    def task_behind_window(self, wine, display, folder, script):
        """The task's command line started while the window's run stands in its first code box,
        which holds the lock; the box stands longer than the default wait, then the window's
        run ends and frees it."""
        task = []

        def start_task(index, box):
            if index:
                return
            task.append(subprocess.Popen(["wine", "cmd", "/c", windows_path(script)],
                                         env=wine.env, stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, text=True))
            time.sleep(TASK_HELD_SECONDS)
            check(task[0].poll() is None,
                  f"the task's run ended with {task[0].poll()} while the window held the lock")

        with WineProgram(os.path.join(folder, "salestotals.exe"), wine, display,
                         self.artifacts("task-window"), self.args.plugins) as program:
            program.wait_for_window()
            program.press_ok()
            program.answer_boxes(e2e.all_code_boxes(program), on_box=start_task)
            program.close()
        try:
            out, err = task[0].communicate(timeout=300)
        except subprocess.TimeoutExpired:
            task[0].kill()
            raise Failure("the task's run did not end after the window's run")
        return subprocess.CompletedProcess(task[0].args, task[0].returncode, out, err)

    def report(self):
        print("\nWindows stage under Wine:")
        for name, passed, detail, seconds in self.results:
            print(f"  {'PASS' if passed else 'FAIL'}  {name:<11} {seconds:5.0f} s  {detail}")
        return all(passed for _, passed, _, _ in self.results)


def overdue(signum, frame):
    raise Failure(f"the stage took longer than {STAGE_DEADLINE} s")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ["zip", "plugins", "linux-batch", "demo-db", "msi", "msi-older", "site-driver",
                   "site-port", "work"]:
        parser.add_argument(f"--{option}", required=True)
    parser.add_argument("--only", action="append", choices=CHECKS,
                        help="run this check (and those it needs) only; may be repeated")
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    missing = [tool for tool in e2e.TOOLS + ["wine", "wineboot", "wineserver"]
               if shutil.which(tool) is None]
    check(not missing, f"missing {missing}")

    signal.signal(signal.SIGALRM, overdue)
    signal.alarm(STAGE_DEADLINE)
    stage = Stage(args)
    os.makedirs(args.work, exist_ok=True)
    workdir = os.path.join(args.work, "display")
    os.makedirs(workdir, exist_ok=True)
    # The sqlserver builds' driver, "SQL Server", as unixODBC finds it under Wine.
    odbc = os.path.join(args.work, "odbc")
    os.makedirs(odbc, exist_ok=True)
    with open(os.path.join(odbc, "odbcinst.ini"), "w") as f:
        f.write(f"[SQL Server]\nDriver={os.path.abspath(args.site_driver)}\n")
    with Display(workdir) as display:
        wine = Wine(os.path.join(args.work, "prefix"), display, odbc)
        try:
            stage.step("install", lambda: stage.install(wine), ("window", "batch", "sqlserver"))
            if stage.install_dir:
                stage.step("window", lambda: stage.window(wine, display))
                stage.step("batch", lambda: stage.batch(wine))
                stage.step("sqlserver", lambda: stage.sqlserver(wine, display))
        finally:
            wine.end()
        machine = Wine(os.path.join(args.work, "msi-prefix"), display, odbc)
        try:
            stage.step("msi", lambda: stage.msi_install(machine),
                       ("show-config", "site", "site-window", "msi-remove", "task"))
            if stage.msi_files:
                stage.step("show-config", lambda: stage.show_config(machine))
                stage.step("site", lambda: stage.site(machine))
                stage.step("site-window", lambda: stage.site_window(machine, display))
                stage.step("msi-remove", lambda: stage.msi_remove(machine), ("task",))
                stage.step("task", lambda: stage.task(machine, display))
        finally:
            machine.end()
    signal.alarm(0)
    return 0 if stage.report() else 1


if __name__ == "__main__":
    sys.exit(main())
