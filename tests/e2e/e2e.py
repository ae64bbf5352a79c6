#!/usr/bin/env python3
"""End-to-end cases of the salestotals program.

Each case prepares the company database, starts the real program with today's date pinned by
faketime on a virtual X server of its own (Xvfb, with openbox to give the keyboard focus and
draw the close button), and works it as an operator does: Enter presses OK and closes each box,
a click on the window's close button ends it. The boxes are found by their windows; their texts
are read from the log of a small Qt plugin that the program loads (box_probe.cpp), since X does
not tell a window's text. After the program has ended, the case reads the tables and compares
the totals with its own computation from the source rows.

    e2e.py CASE --program P --demo-db-tool T --batch-program B --plugins DIR --database FILE
           --artifacts DIR

Exit status: 0 passed, 1 failed, 77 skipped (a tool is missing).
"""

import argparse
import ctypes
import functools
import glob
import json
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
from datetime import date, timedelta
from decimal import ROUND_HALF_UP, Decimal

SKIPPED = 77
TOOLS = ["Xvfb", "openbox", "xdotool", "xwininfo", "xprop", "xmessage", "import"]
# Debian's faketime library, as its faketime command preloads it ($LIB is the loader's).
FAKETIME_LIBRARY = "/usr/$LIB/faketime/libfaketime.so.1"

COMPANY = "C_QVT"
BATCH_ERROR_TITLE = "錯誤"
BATCH_ERROR_TEXT = "資料發生錯誤,資料無法新增"
CODES = ["W101", "W102", "M101", "M102", "Y101", "Y102",
         "W103", "M103", "Y103", "W301", "M301", "Y301"]
EXCLUDED_CUSTOMERS = ["C000", "C0005", "C0007", "C003", "C015", "C016", "C037", "C059", "C108",
                      "C122", "C158", "C163", "C190", "C198", "C903", "C997", "C998"]

WINDOW_TIMEOUT = 60  # start-up on a busy machine
BOX_TIMEOUT = 40     # a batch waiting for a locked database gives up after 5 s
NO_BOX_WAIT = 2.0    # how long "no box" is watched for
CASE_DEADLINE = 240  # the whole case, so that it cleans up before CTest's own time-out


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def log(message):
    print(f"[{time.strftime('%H:%M:%S')}] {message}", flush=True)


# ---- processes -----------------------------------------------------------------------------

def _die_with_parent():
    # Should this driver be killed, Xvfb goes too, and with it every client of the display.
    libc = ctypes.CDLL(None, use_errno=True)
    PR_SET_PDEATHSIG = 1
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def run(args, env, timeout=15, check_status=True):
    try:
        result = subprocess.run(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=timeout, text=True)
    except subprocess.TimeoutExpired:
        raise Failure(f"{' '.join(args)} did not finish within {timeout} s")
    if check_status and result.returncode != 0:
        raise Failure(f"{' '.join(args)} failed ({result.returncode}): {result.stderr.strip()}")
    return result


def stop(process, name):
    """Ends a process this driver started, and everything in its process group."""
    if process is None or process.poll() is not None:
        return
    try:
        os.killpg(process.pid, signal.SIGTERM)
        process.wait(timeout=5)
    except (ProcessLookupError, PermissionError):
        pass
    except subprocess.TimeoutExpired:
        log(f"{name} did not end on SIGTERM; killing it")
        os.killpg(process.pid, signal.SIGKILL)
        process.wait(timeout=5)


def wait_until(what, timeout, probe, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Failure(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


class Display:
    """Xvfb on the first free display number, with openbox managing its windows."""

    def __init__(self, workdir):
        self.workdir = workdir
        self.xvfb = None
        self.openbox = None
        self.env = None

    def __enter__(self):
        try:
            return self._start()
        except BaseException:
            self.__exit__()
            raise

    def _start(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True, preexec_fn=_die_with_parent)
        os.close(write_end)
        number = self._read_display_number(read_end)
        runtime = os.path.join(self.workdir, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        self.env = dict(os.environ, DISPLAY=f":{number}", LANG="C.UTF-8", LC_ALL="C.UTF-8",
                        XDG_RUNTIME_DIR=runtime)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.openbox = subprocess.Popen(
            ["openbox"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True, preexec_fn=_die_with_parent)
        wait_until("openbox", WINDOW_TIMEOUT, self._window_manager_running, 0.1)
        self._wait_until_windows_are_managed()
        log(f"display :{number} with openbox")
        return self

    def _wait_until_windows_are_managed(self):
        """openbox announces itself before it is ready, and a window mapped in between stays
        unmapped for good: show windows of our own until openbox frames one."""
        title = "salestotals-e2e-ready"
        deadline = time.monotonic() + WINDOW_TIMEOUT
        while True:
            check(time.monotonic() < deadline, "openbox frames no window")
            sentinel = subprocess.Popen(
                ["xmessage", "-title", title, "ready"], env=self.env,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
                preexec_fn=_die_with_parent)
            try:
                wait_until("openbox to frame a window", 3, lambda: self._framed(title))
                return
            except Failure:
                log("openbox left a window unmapped; showing another")
            finally:
                stop(sentinel, "xmessage")

    def _framed(self, title):
        found = run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"], self.env,
                    check_status=False).stdout.split()
        return bool(found) and "=" in run(["xprop", "-id", found[0], "_NET_FRAME_EXTENTS"],
                                          self.env, check_status=False).stdout

    def _read_display_number(self, fd):
        deadline = time.monotonic() + WINDOW_TIMEOUT
        text = b""
        with os.fdopen(fd, "rb", buffering=0) as pipe:
            os.set_blocking(fd, False)
            while not text.endswith(b"\n"):
                check(self.xvfb.poll() is None, "Xvfb ended at start")
                check(time.monotonic() < deadline, "Xvfb did not start")
                try:
                    chunk = pipe.read(16)
                except BlockingIOError:
                    chunk = None
                if chunk:
                    text += chunk
                else:
                    time.sleep(0.05)
        return int(text.strip())

    def _window_manager_running(self):
        result = run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK", "_OB_THEME"], self.env,
                     check_status=False)
        return "window id" in result.stdout and "_OB_THEME(" in result.stdout

    def keep_state(self, artifacts):
        """The screen and the window tree at a failure, for the one who looks into it."""
        try:
            run(["import", "-window", "root", os.path.join(artifacts, "failure-screen.png")],
                self.env)
            report = [run(["xwininfo", "-root", "-tree"], self.env).stdout]
            # The program's own windows in full: map state, and the window manager's view.
            probe_log = os.path.join(artifacts, "probe.log")
            if os.path.exists(probe_log):
                with open(probe_log, encoding="utf-8") as f:
                    records = [json.loads(line) for line in f if line.strip()]
                for window in [r["window"] for r in records if "window" in r]:
                    report.append(run(["xwininfo", "-all", "-id", window], self.env,
                                      check_status=False).stdout)
                    report.append(run(["xprop", "-id", window], self.env,
                                      check_status=False).stdout)
            for name, process in [("Xvfb", self.xvfb), ("openbox", self.openbox)]:
                report.append(f"{name}: {'running' if process.poll() is None else 'ended'}")
            with open(os.path.join(artifacts, "failure-windows.txt"), "w") as f:
                f.write("\n".join(report))
        except (Failure, subprocess.TimeoutExpired) as problem:
            log(f"could not keep the screen: {problem}")

    def __exit__(self, *exc):
        stop(self.openbox, "openbox")
        stop(self.xvfb, "Xvfb")


# ---- the program and what the operator sees ------------------------------------------------

def application_title(program):
    # The title is the program's file name up to the first dot, all but its first character
    # in lower case.
    name = os.path.basename(program).split(".", 1)[0]
    return name[:1] + name[1:].lower()


class Box:
    def __init__(self, record):
        self.title = record["title"]
        self.text = record["text"]
        self.icon = record["icon"]
        self.buttons = record["buttons"]
        self.window = int(record["window"])

    def describe(self):
        return f"[{self.title}|{self.text}|{self.icon}|{'/'.join(self.buttons)}]"


def code_box(title, code):
    return (title, code, "none", ("OK",))


def batch_error_box():
    return (BATCH_ERROR_TITLE, BATCH_ERROR_TEXT, "none", ("OK", "Cancel"))


class Program:
    """The program under test, run with a pinned date, seen through the X server."""

    def __init__(self, args, display, today, artifacts):
        self.args = args
        self.display = display
        self.env = display.env
        self.today = today
        self.artifacts = artifacts
        self.title = application_title(args.program)
        self.probe_log = os.path.join(artifacts, "probe.log")
        self.process = None
        self.main_window = None
        self.handled = set()
        self.seen = []  # every box answered, in order

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, exc_type, exc, trace):
        # At a failure, first keep what the screen and the program's threads show.
        if exc_type is not None and self.running():
            self.display.keep_state(self.artifacts)
            self.keep_threads()
        self.kill()

    def keep_threads(self):
        """Where the program's threads stand (with gdb, where it is installed)."""
        pid = str(self.process.pid)
        if shutil.which("gdb"):
            report = subprocess.run(["gdb", "-p", pid, "-batch", "-ex", "thread apply all bt"],
                                    text=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                    timeout=120).stdout
        else:
            report = ""
            for task in os.listdir(f"/proc/{pid}/task"):
                with open(f"/proc/{pid}/task/{task}/wchan") as f:
                    report += f"thread {task} waits in {f.read()}\n"
        with open(os.path.join(self.artifacts, "failure-threads.txt"), "w") as f:
            f.write(report)

    def start(self):
        env = dict(self.env)
        for key in [k for k in env if k.startswith("QT_")]:
            del env[key]
        env.update(QT_QPA_PLATFORM="xcb", QT_PLUGIN_PATH=self.args.plugins,
                   QT_QPA_GENERIC_PLUGINS="salestotals-box-probe",
                   SALESTOTALS_E2E_PROBE_LOG=self.probe_log)
        # Today is pinned by preloading faketime's library, the clock running on from noon.
        # Not through the faketime command: it keeps a semaphore in /dev/shm named after its
        # process id, and one left behind by any killed run makes it refuse to start.
        env["LD_PRELOAD"] = ":".join(filter(None, [FAKETIME_LIBRARY, env.get("LD_PRELOAD")]))
        env["FAKETIME"] = f"@{self.today.isoformat()} 12:00:00"
        # A sanitizer build must not insist on its runtime coming first.
        asan = env.get("ASAN_OPTIONS", "")
        env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "verify_asan_link_order=0"
        if os.path.exists(self.probe_log):
            os.remove(self.probe_log)
        self.output = open(os.path.join(self.artifacts, "program-output.txt"), "w")
        log(f"starting {os.path.basename(self.args.program)} on {self.today}")
        self.process = subprocess.Popen(
            [self.args.program], env=env, stdout=self.output, stderr=subprocess.STDOUT,
            start_new_session=True)

    def kill(self):
        stop(self.process, "the program")

    # -- the probe's log --

    def records(self, event=None):
        if not os.path.exists(self.probe_log):
            return []
        with open(self.probe_log, encoding="utf-8") as f:
            records = [json.loads(line) for line in f if line.strip()]
        return [r for r in records if event is None or r["event"] == event]

    def window_fields(self):
        windows = self.records("window")
        check(len(windows) == 1, f"the window appeared {len(windows)} times")
        return windows[0]["fields"]

    def check_today(self):
        starts = self.records("start")
        check(len(starts) == 1, "the probe did not start once")
        check(starts[0]["today"] == self.today.isoformat(),
              f"the program sees today as {starts[0]['today']}, not {self.today}")

    # -- windows --

    def visible_windows(self):
        result = run(["xdotool", "search", "--onlyvisible", "--name", "."], self.env,
                     check_status=False)
        return [int(w) for w in result.stdout.split()]

    def running(self):
        return self.process.poll() is None

    def wait_for_window(self):
        def shown():
            check(self.running(), f"the program ended early ({self.process.returncode})")
            ids = self.visible_windows()
            windows = self.records("window")
            if windows and int(windows[0]["window"]) in ids:
                return int(windows[0]["window"])
            return None
        self.main_window = wait_until("the main window", WINDOW_TIMEOUT, shown)
        name = run(["xdotool", "getwindowname", str(self.main_window)], self.env).stdout
        check(name.strip() == "Form1", f"the main window's title is {name.strip()!r}")
        return self.main_window

    def wait_for_box(self, timeout=BOX_TIMEOUT):
        def new_box():
            ids = [w for w in self.visible_windows()
                   if w != self.main_window and w not in self.handled]
            if not ids:
                check(self.running(), f"the program ended ({self.process.returncode})")
                return None
            check(len(ids) == 1, f"several boxes at once: {ids}")
            boxes = [Box(r) for r in self.records("box") if int(r["window"]) == ids[0]]
            if not boxes:
                return None  # shown before the probe's line is written; look again
            return boxes[0]
        return wait_until("a box", timeout, new_box)

    def press_enter(self, window):
        run(["xdotool", "windowactivate", "--sync", str(window)], self.env)
        run(["xdotool", "key", "--clearmodifiers", "Return"], self.env)

    def answer_box(self, box, screenshot=None):
        """Reads a box, keeps its picture if asked, and closes it with Enter."""
        if screenshot:
            self.screenshot(box.window, screenshot)
        self.handled.add(box.window)
        self.seen.append(box)
        closed = lambda: box.window not in self.visible_windows()
        for attempt in range(3):
            try:
                self.press_enter(box.window)
            except Failure:
                if closed():
                    return
                raise
            try:
                wait_until("the box to close", 5, closed)
                return
            except Failure:
                log(f"box {box.describe()} still open after Enter (attempt {attempt + 1})")
        raise Failure(f"Enter did not close the box {box.describe()}")

    def answer_boxes(self, expected, screenshots=None, on_box=None):
        """Answers the boxes a press brings up and checks them against the expected ones."""
        screenshots = screenshots or {}
        got = []
        for index in range(len(expected)):
            box = self.wait_for_box()
            got.append((box.title, box.text, box.icon, tuple(box.buttons)))
            check(got[-1] == expected[index],
                  f"box {index + 1} was {box.describe()}, expected {expected[index]}; "
                  f"before it: {[b.describe() for b in self.seen]}")
            if on_box:
                on_box(index, box)
            self.answer_box(box, screenshots.get(index))
        self.expect_no_box()
        return got

    def expect_no_box(self, seconds=NO_BOX_WAIT):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            extra = [w for w in self.visible_windows()
                     if w != self.main_window and w not in self.handled]
            if extra:
                boxes = [Box(r) for r in self.records("box") if int(r["window"]) in extra]
                raise Failure(f"an unexpected box appeared: {[b.describe() for b in boxes]}")
            time.sleep(0.1)

    def press_ok(self):
        log("Enter on the window (OK)")
        self.press_enter(self.main_window)

    def close(self):
        """Clicks the close button that openbox draws at the right end of the title bar."""
        x, y = self.close_button()
        log(f"clicking the close button at {x},{y}")
        run(["xdotool", "mousemove", "--sync", str(x), str(y)], self.env)
        run(["xdotool", "click", "1"], self.env)
        try:
            status = self.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end after its window was closed")
        self.output.close()
        check(status == 0, f"the program ended with status {status}")
        log("the program ended")
        # Every box the program showed was one the operator answered, in that order.
        shown = [Box(r) for r in self.records("box")]
        check([b.window for b in shown] == [b.window for b in self.seen],
              f"the program showed {[b.describe() for b in shown]}, "
              f"the operator answered {[b.describe() for b in self.seen]}")

    def close_button(self):
        info = run(["xwininfo", "-id", str(self.main_window)], self.env).stdout
        values = {}
        for line in info.splitlines():
            key, _, value = line.strip().partition(":")
            values[key] = value.strip()
        left = int(values["Absolute upper-left X"])
        top = int(values["Absolute upper-left Y"])
        width = int(values["Width"])
        extents = run(["xprop", "-id", str(self.main_window), "_NET_FRAME_EXTENTS"],
                      self.env).stdout
        check("=" in extents, f"the window has no frame: {extents.strip()}")
        _, right, title, _ = (int(v) for v in extents.split("=")[1].split(","))
        # The button is about as wide as the title bar is high, flush with the frame's right.
        return left + width + right - title // 2, top - title // 2

    def screenshot(self, window, name):
        """Keeps a picture of a window with its frame once its drawing has settled."""
        path = os.path.join(self.artifacts, name)
        previous = None
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            pixels = subprocess.run(["import", "-window", str(window), "rgb:-"], env=self.env,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                    timeout=15).stdout
            if pixels and pixels == previous:
                break
            previous = pixels
            time.sleep(0.2)
        run(["import", "-window", str(window), "-frame", path], self.env)
        log(f"screenshot {path}")


# ---- the company database ------------------------------------------------------------------

def remove_database(path):
    for suffix in ["", "-journal", "-wal", "-shm"]:
        if os.path.exists(path + suffix):
            os.remove(path + suffix)


def create_demo_database(args, rows):
    remove_database(args.database)
    os.makedirs(os.path.dirname(args.database), exist_ok=True)
    run([args.demo_db_tool, args.database, "--rows", str(rows), "--seed", "7"], os.environ,
        timeout=120)


def read_table(path, sql):
    with sqlite3.connect(f"file:{path}?mode=ro", uri=True) as db:
        return db.execute(sql).fetchall()


# ---- the totals, computed here from the source rows ----------------------------------------

def key(text):
    """The server compares texts without regard to letter case or trailing blanks."""
    return None if text is None else text.rstrip(" ").upper()


def decimal_of(value, places):
    if value is None:
        return None
    return Decimal(repr(value) if isinstance(value, float) else str(value)).quantize(
        Decimal(1).scaleb(-places), ROUND_HALF_UP)


def date_of(text):
    """A date text as the server converts it with style 112; blank texts are 1900-01-01."""
    if text is None:
        return None
    if text.strip() == "":
        return date(1900, 1, 1)
    return date(int(text[0:4]), int(text[4:6]), int(text[6:8]))


def week_of(day):
    """Weeks run Sunday to Saturday; week 1 holds 1 January."""
    first = date(day.year, 1, 1)
    sunday_before = first - timedelta(days=(first.weekday() + 1) % 7)
    return (day - sunday_before).days // 7 + 1


def in_period(day, code, year, week, month):
    if day is None or day.year != year:
        return False
    if code[0] == "W":
        return week_of(day) == week
    if code[0] == "M":
        return day.month == month
    return True


def add(a, b):
    return None if a is None or b is None else a + b


@functools.lru_cache(maxsize=4)
def read_source(path, sql, modified):
    return read_table(path, sql)


def source_rows(path, code):
    modified = os.stat(path).st_mtime_ns
    if code.endswith("301"):
        rows = read_source(path, "SELECT TG003, TG004, TG006, TG023, TG045, TG046 FROM COPTG",
                           modified)
        for tg003, tg004, tg006, tg023, tg045, tg046 in rows:
            # NOT IN and NOT LIKE are unknown for a missing customer: the row is left out.
            if key(tg023) != "Y" or tg004 is None:
                continue
            if key(tg004) in {key(c) for c in EXCLUDED_CUSTOMERS} or key(tg004).startswith("A"):
                continue
            yield date_of(tg003), tg006, add(decimal_of(tg045, 2), decimal_of(tg046, 2))
        return
    types = {"3221", "5221"} if code[1:] in ("101", "102") else {"2221", "222U"}
    rows = read_source(path, "SELECT TC001, TC003, TC006, TC009, TC027, TC029, TC030, TC031 "
                             "FROM COPTC", modified)
    for tc001, tc003, tc006, tc009, tc027, tc029, tc030, tc031 in rows:
        if key(tc027) != "Y" or key(tc001) not in types:
            continue
        if code.endswith("101"):
            measure = decimal_of(tc031, 3)
        else:
            measure = add(decimal_of(tc029, 2), decimal_of(tc030, 2))
            measure = None if measure is None or tc009 is None else measure * decimal_of(tc009, 6)
        yield date_of(tc003), tc006, measure


def expected_totals(path, code, year, week, month):
    """{group key: (total or None, spellings of the key)} for one batch."""
    groups = {}
    for day, group, measure in source_rows(path, code):
        if not in_period(day, code, year, week, month):
            continue
        total, spellings = groups.get(key(group), (None, set()))
        if measure is not None:
            total = measure if total is None else total + measure
        groups[key(group)] = (total, spellings | {group})
    if not code.endswith("101"):
        groups = {k: (None if t is None else t.quantize(Decimal("0.01"), ROUND_HALF_UP), s)
                  for k, (t, s) in groups.items()}
    return groups


class Period:
    def __init__(self, year, week, month):
        self.year = year
        self.week = week
        self.month = month
        self.roc = str(year - 1911)

    def value(self, code):
        return {"W": str(self.week), "M": str(self.month), "Y": self.roc}[code[0]]

    def __str__(self):
        return f"year {self.year}, week {self.week}, month {self.month}, ROC year {self.roc}"


def check_completion_rows(path, period, codes):
    rows = read_table(path, "SELECT COMPANY, XY000, XY001, XY002, XY003 FROM FADMXY")
    got = sorted(tuple(str(v) for v in row) for row in rows)
    want = sorted((COMPANY, "1", code, str(period.year), period.value(code)) for code in codes)
    check(got == want, f"completion rows {got}, expected {want}")


def stored_decimal(value):
    if value is None:
        return None
    return Decimal(repr(value)) if isinstance(value, float) else Decimal(str(value))


def check_summary_rows(path, period, codes):
    """Every summary row against the totals computed here, each group exactly once."""
    rows = read_table(path, "SELECT COMPANY, XX000, XX001, XX002, XX003, XX004, XX005, XX006 "
                            "FROM FADMXX")
    by_code = {}
    for company, xx000, xx001, xx002, xx003, xx004, xx005, xx006 in rows:
        where = f"summary row {(company, xx000, xx001, xx002, xx003, xx004, xx005, xx006)}"
        check(xx001 in codes, f"{where}: no rows expected for this code")
        check((company, xx000, xx002, str(xx003), xx006) ==
              (COMPANY, "1", str(period.year), period.value(xx001), ""),
              f"{where}: expected company {COMPANY}, 1, year {period.year}, "
              f"period {period.value(xx001)} and an empty XX006")
        groups = by_code.setdefault(xx001, {})
        check(key(xx005) not in groups, f"{where}: its group key is written twice")
        groups[key(xx005)] = (stored_decimal(xx004), xx005)
    count = 0
    for code in codes:
        want = expected_totals(path, code, period.year, period.week, period.month)
        got = by_code.get(code, {})
        check(set(got) == set(want),
              f"{code}: group keys {sorted(got, key=str)}, expected {sorted(want, key=str)}")
        for group, (total, spellings) in want.items():
            written, spelling = got[group]
            check(written == total, f"{code} group {group}: total {written}, expected {total}")
            check(spelling in spellings, f"{code} group {group}: key {spelling!r} "
                  f"is none of the source's {sorted(spellings)}")
        count += len(want)
    check(count == len(rows), f"{len(rows)} summary rows, expected {count}")
    return count


def check_results(path, period, codes):
    check_completion_rows(path, period, codes)
    groups = check_summary_rows(path, period, codes)
    log(f"tables hold {len(codes)} completion rows and {groups} summary rows, as computed")


# ---- cases ---------------------------------------------------------------------------------

TODAY_ROWS = {
    # today: year, proposed week, month of that week, as the window proposes them
    "2026-12-08": (2026, 49, 12),
    "2026-03-02": (2026, 9, 2),
    "2026-01-05": (2026, 1, 1),
    "2026-01-02": (2025, 53, 1),
    "2023-01-05": (2022, 53, 12),
}


def check_proposed(program, period):
    fields = program.window_fields()
    shown = (fields.get("Edit1"), fields.get("WSpinEdit"), fields.get("MSpinEdit"))
    check(shown == (str(period.year), str(period.week), str(period.month)),
          f"the window proposes year, week, month {shown}, expected {period}")


def all_code_boxes(program):
    return [code_box(program.title, code) for code in CODES]


def case_today(args, display, artifacts, today_text):
    year, week, month = TODAY_ROWS[today_text]
    period = Period(year, week, month)
    create_demo_database(args, 2000)
    with Program(args, display, date.fromisoformat(today_text), artifacts) as program:
        program.wait_for_window()
        program.check_today()
        check_proposed(program, period)
        program.press_ok()
        program.answer_boxes(all_code_boxes(program))
        program.close()
    check_results(args.database, period, CODES)


def case_demo_run(args, display, artifacts):
    period = Period(2025, 24, 6)  # 2025-06-18 lies in week 25
    create_demo_database(args, 20000)
    with Program(args, display, date(2025, 6, 18), artifacts) as program:
        program.wait_for_window()
        program.check_today()
        check_proposed(program, period)
        program.screenshot(program.main_window, "window.png")
        program.press_ok()
        program.answer_boxes(all_code_boxes(program), screenshots={0: "code-box.png"})
        after_first = read_table(args.database, "SELECT * FROM FADMXX ORDER BY rowid")
        log("second press")
        program.press_ok()
        program.expect_no_box()
        program.close()
    check(read_table(args.database, "SELECT * FROM FADMXX ORDER BY rowid") == after_first,
          "the second press changed the summary rows")
    check_results(args.database, period, CODES)


def case_missing_database(args, display, artifacts):
    remove_database(args.database)
    folder = os.path.dirname(args.database)
    os.makedirs(folder, exist_ok=True)
    before = sorted(os.listdir(folder))
    with Program(args, display, date(2026, 12, 8), artifacts) as program:
        box = program.wait_for_box()
        check((box.title, box.icon, box.buttons) == (program.title, "critical", ["OK"]),
              f"the start-up box is {box.describe()}")
        check(args.database in box.text and box.text.endswith("."),
              f"the start-up box does not name the missing file: {box.text!r}")
        program.answer_box(box, "error-box.png")
        program.wait_for_window()
        fields = program.window_fields()
        check((fields["Edit1"], fields["MSpinEdit"], fields["WSpinEdit"], fields["StaticText1"],
               fields["StaticText2"], fields["ComboBox1"]) ==
              ("", "1", "1", "StaticText1", "StaticText2", ""),
              f"the window does not show its design values: {fields}")
        program.press_ok()
        program.answer_boxes([(program.title, box.text, "critical", ("OK",))])
        program.close()
    check(sorted(os.listdir(folder)) == before,
          f"the program wrote into {folder}: {sorted(os.listdir(folder))}")


def case_missing_coptg(args, display, artifacts):
    period = Period(2026, 49, 12)
    create_demo_database(args, 2000)
    with sqlite3.connect(args.database) as db:
        db.execute("DROP TABLE COPTG")
    with Program(args, display, date(2026, 12, 8), artifacts) as program:
        expected = [code_box(program.title, code) for code in CODES[:9]]
        # W301 shows its code only after its summary statement has worked.
        expected += [batch_error_box(),
                     code_box(program.title, "M301"), batch_error_box(),
                     code_box(program.title, "Y301"), batch_error_box()]
        program.wait_for_window()
        program.press_ok()
        program.answer_boxes(expected, screenshots={9: "batch-error-box.png"})
        program.close()
    check_results(args.database, period, CODES[:9])


class Lock:
    """Another process's open write transaction on the company database."""

    def __init__(self, path):
        self.db = sqlite3.connect(path, timeout=20, isolation_level=None)
        self.db.execute("BEGIN IMMEDIATE")
        self.db.execute("INSERT INTO FCMSFL (FL000, FL001, FL002) VALUES ('99', 'LOCK', 'x')")
        log("another connection holds a write transaction")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()

    def tables(self):
        return (self.db.execute("SELECT * FROM FADMXX").fetchall(),
                self.db.execute("SELECT * FROM FADMXY").fetchall())

    def release(self):
        if self.db is not None:
            self.db.execute("COMMIT")
            self.db.close()
            self.db = None
            log("the write transaction is committed")


def locked_run_boxes(title, codes):
    boxes = []
    for code in codes:
        if code != "W301":  # W301 shows its code after its summary statement
            boxes.append(code_box(title, code))
        boxes.append(batch_error_box())
    return boxes


def case_locked_database(args, display, artifacts):
    period = Period(2026, 49, 12)
    create_demo_database(args, 2000)
    with Program(args, display, date(2026, 12, 8), artifacts) as program:
        program.wait_for_window()
        with Lock(args.database) as lock:
            program.press_ok()
            started = time.monotonic()
            program.answer_boxes(locked_run_boxes(program.title, CODES))
            log(f"the locked run took {time.monotonic() - started:.1f} s")
            check(lock.tables() == ([], []), f"the locked run wrote rows: {lock.tables()}")
        program.press_ok()
        program.answer_boxes(all_code_boxes(program))
        program.close()
    check_results(args.database, period, CODES)


def case_lock_released_during_run(args, display, artifacts):
    """The lock goes while the third batch's error is shown: the rest of the run completes,
    and the next press does the three failed batches only."""
    period = Period(2026, 49, 12)
    create_demo_database(args, 2000)
    failed = CODES[:3]
    with Program(args, display, date(2026, 12, 8), artifacts) as program:
        expected = locked_run_boxes(program.title, failed)
        expected += [code_box(program.title, code) for code in CODES[3:]]
        program.wait_for_window()
        with Lock(args.database) as lock:

            def release_at_third_error(index, box):
                if index == len(failed) * 2 - 1:
                    check(lock.tables() == ([], []),
                          f"failed batches wrote rows: {lock.tables()}")
                    lock.release()

            program.press_ok()
            program.answer_boxes(expected, on_box=release_at_third_error)
        check_completion_rows(args.database, period, CODES[3:])
        program.press_ok()
        program.answer_boxes([code_box(program.title, code) for code in failed])
        program.close()
    check_results(args.database, period, CODES)


def case_reader_blocks_commit(args, display, artifacts):
    """W301 shows its code between its two statements, inside its transaction. Another process
    that starts reading just then keeps the batch from committing: the batch fails as a whole,
    leaving no summary rows, and the next press does it once."""
    period = Period(2026, 49, 12)
    create_demo_database(args, 2000)
    reader = sqlite3.connect(args.database, timeout=20, isolation_level=None)
    try:
        with Program(args, display, date(2026, 12, 8), artifacts) as program:
            expected = [code_box(program.title, code) for code in CODES[:10]]
            expected += [batch_error_box()]
            expected += [code_box(program.title, code) for code in CODES[10:]]

            def read_while_w301_is_shown(index, box):
                if index == 9:
                    reader.execute("BEGIN")
                    reader.execute("SELECT count(*) FROM FADMXX").fetchall()
                    log("another connection holds a read transaction")
                elif index == 10:
                    reader.execute("ROLLBACK")
                    log("the read transaction has ended")

            program.wait_for_window()
            program.press_ok()
            program.answer_boxes(expected, on_box=read_while_w301_is_shown)
            done = [code for code in CODES if code != "W301"]
            check_completion_rows(args.database, period, done)
            w301 = read_table(args.database, "SELECT * FROM FADMXX WHERE XX001 = 'W301'")
            check(w301 == [], f"the failed W301 left summary rows: {w301}")
            program.press_ok()
            program.answer_boxes([code_box(program.title, "W301")])
            program.close()
    finally:
        reader.close()
    check_results(args.database, period, CODES)


def lock_file_written(path):
    try:
        return os.path.getsize(path) > 0
    except OSError:
        return False


def case_batch_run_holds_the_lock(args, display, artifacts):
    """OK while salestotals-batch holds the company database: the box names that run and the
    window changes nothing; once the run has ended, OK finds every batch done."""
    period = Period(2026, 49, 12)
    create_demo_database(args, 20000)
    lock_file = args.database + ".run-lock"
    with Program(args, display, date(2026, 12, 8), artifacts) as program:
        program.wait_for_window()
        # Stopped as soon as it holds the lock: it keeps it while OK is pressed.
        batch = None
        for attempt in range(5):
            batch = subprocess.Popen(
                [args.batch_program, "--year", "2026", "--month", "12", "--week", "49"],
                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            # The file is made first and written after: stopped in between, it names nobody.
            while batch.poll() is None and not lock_file_written(lock_file):
                time.sleep(0.001)
            if batch.poll() is None:
                os.kill(batch.pid, signal.SIGSTOP)
                break
            log(f"salestotals-batch ended before it could be stopped ({batch.returncode})")
        check(batch.poll() is None, "salestotals-batch never held the lock long enough")
        log(f"salestotals-batch (process {batch.pid}) holds the lock and is stopped")
        try:
            program.press_ok()
            box = program.wait_for_box()
            program.answer_box(box, "busy-box.png")
            holder = f"Another run holds the company database {COMPANY}: salestotals-batch " \
                     f"(process {batch.pid} on "
            check((box.title, box.icon, box.buttons) == (program.title, "critical", ["OK"]) and
                  box.text.startswith(holder) and ", since " in box.text and
                  box.text.endswith("."), f"the busy box is {box.describe()}")
            program.expect_no_box()
        finally:
            os.kill(batch.pid, signal.SIGCONT)
        out, err = batch.communicate(timeout=120)
        check(batch.returncode == 0 and len(out.splitlines()) == 12,
              f"salestotals-batch ended with {batch.returncode}: {out}{err}")
        log("salestotals-batch has ended; OK again")
        program.press_ok()
        program.expect_no_box()
        program.close()
    check(not os.path.exists(lock_file), "the lock file is left behind")
    check_results(args.database, period, CODES)


CASES = {f"today-{today}": (lambda a, d, f, t=today: case_today(a, d, f, t))
         for today in TODAY_ROWS}
CASES.update({
    "demo-run": case_demo_run,
    "missing-database": case_missing_database,
    "missing-coptg": case_missing_coptg,
    "locked-database": case_locked_database,
    "lock-released-during-run": case_lock_released_during_run,
    "reader-blocks-commit": case_reader_blocks_commit,
    "batch-run-holds-the-lock": case_batch_run_holds_the_lock,
})


def overdue(signum, frame):
    raise Failure(f"the case took longer than {CASE_DEADLINE} s")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--program", required=True)
    parser.add_argument("--demo-db-tool", required=True)
    parser.add_argument("--batch-program", required=True)
    parser.add_argument("--plugins", required=True)
    parser.add_argument("--database", required=True)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()

    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if not glob.glob("/usr/lib/*/faketime/libfaketime.so.1") + glob.glob(
            "/usr/lib*/faketime/libfaketime.so.1"):
        missing.append("libfaketime")
    if missing:
        print(f"SKIPPED: missing {', '.join(missing)} (scripts/setup installs them)")
        return SKIPPED

    artifacts = os.path.join(args.artifacts, args.case)
    shutil.rmtree(artifacts, ignore_errors=True)
    os.makedirs(artifacts)
    # Beyond the deadline the case fails and cleans up before CTest kills it.
    signal.signal(signal.SIGALRM, overdue)
    signal.alarm(CASE_DEADLINE)
    started = time.monotonic()
    workdir = tempfile.mkdtemp(prefix="salestotals-e2e-")
    try:
        with Display(workdir) as display:
            try:
                CASES[args.case](args, display, artifacts)
            except Failure:
                if not os.path.exists(os.path.join(artifacts, "failure-screen.png")):
                    display.keep_state(artifacts)
                raise
    except Failure as failure:
        print(f"FAILED: {failure}", flush=True)
        print(f"artifacts: {artifacts}")
        return 1
    finally:
        signal.alarm(0)
        shutil.rmtree(workdir, ignore_errors=True)
    print(f"PASSED in {time.monotonic() - started:.1f} s; artifacts: {artifacts}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
