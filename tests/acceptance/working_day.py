#!/usr/bin/env python3
"""An operator's working day, played with the real program.

A camera card (exFAT through FUSE over a loop device where the machine allows
it, ext4 on a loop device otherwise, labelled EOS_DIGITAL) is mounted under the
removable-media root while the real `lumisort` waits idle under Xvfb and
openbox. The day is driven with xdotool as an operator works: the card is
imported (the old photos of the working folder go to the trash after the
question), two photos shot before the first barcode card get a scanned barcode,
two photos are marked unknown, the barcodes read in the barcode photos are
applied with one Return each, one photo is deleted and the folder is filed.
It is picture day: the school's roster is opened from the File menu, the sections
and the sheet name the subjects, a code the roster lacks takes a second Return, and
at the end the report (the command-line tool's and the exported one) says who has
photos today, who has none and which code is on no roster; camera cards are printed.

After every step the disk is checked against what the rules say: every photo
of the card exists exactly once (working folder, destination tree or trash),
byte for byte, under the name it must have; nothing stays in staging; the card
is unmounted after the import and unchanged at the end of the day.

A screenshot of every step goes to the output folder (LUMISORT_DAY_OUTPUT);
scripts/screenshots takes the README's pictures from there.

Exit codes: 0 the day went as it must, 1 something went wrong (the message
says what, the output folder holds the screen and the program's log), 77 the
machine does not permit the run (no X server, no loop device or FUSE, mounting
refused), with the reason.
"""

import csv
import datetime
import hashlib
import io
import itertools
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SKIP = 77
SCREEN = (1600, 1200)
LABEL = "EOS_DIGITAL"
CARD_MB = 64
YESTERDAY = "yesterday's photo"
ON_CARD = ("card", None)  # where a photo is before the import: nowhere on this machine
OFFER_COLOUR = bytes((255, 244, 200))  # the background of the bar offering a card
# A pixel of the red frame around a marked photo (found at every byte: callers keep whole pixels).
RED_PIXEL = re.compile(rb"(?=[\xdd-\xff][\x00-\x28][\x00-\x28])", re.DOTALL)


class Skip(Exception):
    """The machine does not permit the run."""


class Failed(Exception):
    """The program did not behave as the day requires."""


def ean13(first12):
    digits = [int(c) for c in first12]
    check = (10 - sum(d * (3 if i % 2 else 1) for i, d in enumerate(digits)) % 10) % 10
    return first12 + str(check)


# The barcode the operator scans by hand (EAN-13, restricted-circulation range).
LOOSE_BARCODE = ean13("200000000099")


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def run(args, env=None, check=True, timeout=60):
    done = subprocess.run(args, env=env, capture_output=True, text=True, timeout=timeout)
    if check and done.returncode != 0:
        raise RuntimeError(f"{' '.join(map(str, args))} failed ({done.returncode}): "
                           f"{(done.stderr or done.stdout).strip()}")
    return done


def wait_until(condition, timeout, what, interval=0.15):
    """Polls until condition() gives something true; returns it."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failed(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


# --- the rules the disk must follow ------------------------------------------------


def base_name(name):
    return name.rsplit(".", 1)[0] if "." in name else name


def is_unknown(name):
    lowered = base_name(name).lower()
    return lowered.startswith("?") or lowered.startswith("unknown")


def folder_order(names):
    # The browser's order by file name: character codes, no locale, no numbers.
    return sorted(names, key=lambda n: n.encode("utf-16-be"))


# --- the screen ------------------------------------------------------------------


class Window:
    def __init__(self, wid, name, transient, x, y, w, h):
        self.id, self.name, self.transient = wid, name, transient
        self.x, self.y, self.w, self.h = x, y, w, h

    @property
    def title(self):
        # Sheets read "Reassign — Lumisort"; alerts have only the program's name.
        return self.name.split(" — ")[0]

    def __repr__(self):
        return f"<{self.name!r} {self.w}x{self.h}+{self.x}+{self.y}>"


class Screen:
    def __init__(self, env, out):
        self.env = env
        self.out = out

    def x(self, *args, check=True):
        return run(list(args), env=self.env, check=check)

    def xdo(self, *args):
        return self.x("xdotool", *map(str, args))

    def grab(self, window=None):
        """The screen (or one window) as (width, height, RGB bytes)."""
        target = str(window.id) if window else "root"
        ppm = subprocess.run(["import", "-silent", "-window", target, "-depth", "8", "ppm:-"],
                             env=self.env, capture_output=True, check=True, timeout=30).stdout
        # "P6", width, height, maximum, each followed by one white-space byte, then the pixels.
        fields, at = [], 0
        while len(fields) < 4:
            end = at
            while ppm[end:end + 1].isdigit() or ppm[end:end + 1].isalpha():
                end += 1
            if end > at:
                fields.append(ppm[at:end])
            at = end + 1
        w, h = int(fields[1]), int(fields[2])
        data = ppm[at:]
        if fields[0] != b"P6" or len(data) != w * h * 3:
            raise Failed(f"a screen grab gave {len(ppm)} bytes for {w}x{h}")
        return w, h, data

    def save(self, name):
        path = self.out / f"{name}.png"
        self.x("import", "-silent", "-window", "root", str(path))
        return path

    def settle(self, window=None, timeout=15):
        """Waits until two grabs a moment apart are the same (thumbnails and redraws done)."""
        last = self.grab(window)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            time.sleep(0.25)
            now = self.grab(window)
            if now == last:
                return now
            last = now
        raise Failed(f"{window or 'the screen'} kept changing for {timeout} s")

    def windows(self):
        found = self.x("xdotool", "search", "--all", "--onlyvisible", "--classname", "lumisort", check=False)
        result = []
        for wid in found.stdout.split():
            props = self.x("xprop", "-id", wid, "_NET_WM_NAME", "WM_TRANSIENT_FOR", check=False).stdout
            name = ""
            for line in props.splitlines():
                if line.startswith("_NET_WM_NAME") and "=" in line:
                    name = json.loads(line.split("=", 1)[1].strip())
            transient = "window id" in props
            info = self.x("xwininfo", "-id", wid, check=False).stdout
            geometry = {}
            for line in info.splitlines():
                key, _, value = line.strip().partition(":")
                geometry[key] = value.strip()
            try:
                result.append(Window(wid, name, transient, int(geometry["Absolute upper-left X"]),
                                     int(geometry["Absolute upper-left Y"]), int(geometry["Width"]),
                                     int(geometry["Height"])))
            except (KeyError, ValueError):
                continue  # gone meanwhile
        return result

    def wait_window(self, test, what, timeout=20):
        def look():
            return next((w for w in self.windows() if test(w)), None)
        return wait_until(look, timeout, what)

    def wait_gone(self, window, what, timeout=60):
        wait_until(lambda: all(w.id != window.id for w in self.windows()), timeout, what)

    def click(self, x, y, ctrl=False):
        if ctrl:
            self.xdo("mousemove", x, y, "keydown", "ctrl", "click", "1", "keyup", "ctrl")
        else:
            self.xdo("mousemove", x, y, "click", "1")
        # A pointer resting on a photo would show its tooltip in the screenshots.
        self.xdo("mousemove", SCREEN[0] - 1, SCREEN[1] - 1)

    def keys(self, *keys):
        self.xdo("key", "--delay", "40", *keys)

    def scan(self, code):
        # A hand-held scanner: fast keystrokes, then Return.
        self.xdo("type", "--delay", "5", code)
        self.xdo("key", "Return")


def button_rects(img, top=0, bottom=None):
    """Push buttons in a grab, found by their outlines: two horizontal lines of one colour,
    darker than the window, of the same extent and a button's height apart."""
    w, h, data = img
    lines = {}
    bottom = h if bottom is None else min(bottom, h)
    for y in range(top, bottom):
        row = data[y * w * 3:(y + 1) * w * 3]
        x = 0
        for colour, group in itertools.groupby(zip(row[0::3], row[1::3], row[2::3])):
            n = sum(1 for _ in group)
            if n >= 20 and sum(colour) < 640:
                lines.setdefault(y, []).append((x, x + n - 1))
            x += n
    rects, bottoms = [], set()
    for y in sorted(lines):
        for x0, x1 in lines[y]:
            if (y, x0) in bottoms:
                continue
            for y2 in range(y + 14, min(y + 61, bottom)):
                match = [line for line in lines.get(y2, []) if abs(line[0] - x0) <= 2 and abs(line[1] - x1) <= 2]
                if match:
                    bottoms.add((y2, match[0][0]))
                    rects.append((x0, y, x1, y2))
                    break
    return rects


def buttons_in_window(screen, window, stacked=False):
    """Screen points of a dialog's buttons: left to right along its bottom row, or top
    to bottom for buttons stacked across its width."""
    img = screen.grab(window)
    w, h, _ = img
    rects = [r for r in button_rects(img, 0 if stacked else max(0, h - 150)) if r[2] - r[0] >= 24]
    if stacked:
        rects = sorted((r for r in rects if r[2] - r[0] > w // 2), key=lambda r: r[1])
    elif rects:
        bottom = max(r[3] for r in rects)
        rects = sorted((r for r in rects if r[3] >= bottom - 3 and r[2] - r[0] < w * 0.8), key=lambda r: r[0])
    return [(window.x + (r[0] + r[2]) // 2, window.y + (r[1] + r[3]) // 2) for r in rects]


# --- the grid of photos ------------------------------------------------------------


class Grid:
    """The browser's grid, driven by keyboard and mouse. Photos are found on screen by
    the red frame of a marked photo: the keyboard marks one, the frame says where it is."""

    def __init__(self, screen, main):
        self.screen = screen
        self.main = main

    def empty_spot(self):
        # The layout leaves room under the last row at this screen size; the status bar
        # takes the bottom of the window.
        return self.main.x + self.main.w // 2, min(self.main.y + self.main.h, SCREEN[1]) - 60

    def focus_and_clear(self):
        self.screen.click(*self.empty_spot())
        self.screen.keys("ctrl+shift+a")

    def red_frames(self, img, baseline):
        """Boxes around the red frames in a grab that were not red in the baseline."""
        w, _, data = img
        base = baseline[2]
        points = set()
        for match in RED_PIXEL.finditer(data):
            i = match.start()
            y, x = divmod(i // 3, w)
            if i % 3 == 0 and x % 2 == 0 and y % 2 == 0 and not RED_PIXEL.match(base, i):
                points.add((x, y))
        frames = []
        while points:
            stack = [points.pop()]
            xs, ys = [], []
            while stack:
                px, py = stack.pop()
                xs.append(px)
                ys.append(py)
                for dx in (-4, -2, 0, 2, 4):
                    for dy in (-4, -2, 0, 2, 4):
                        q = (px + dx, py + dy)
                        if q in points:
                            points.remove(q)
                            stack.append(q)
            if len(xs) > 40:
                frames.append((min(xs), min(ys), max(xs), max(ys)))
        return sorted(frames, key=lambda f: (f[1] // 20, f[0]))

    def locate(self, indices):
        """Where the photos at these positions of the folder order are on screen."""
        self.focus_and_clear()
        baseline = self.screen.settle()
        places = []
        for index in indices:
            self.screen.keys("Home", *(["Right"] * index))
            # Settled, the frame is on the last key's photo, not on one passed on the way.
            frames = self.red_frames(self.screen.settle(), baseline)
            if len(frames) != 1:
                raise Failed(f"marking photo {index} alone framed {len(frames)} photos")
            x0, y0, x1, y1 = frames[0]
            places.append(((x0 + x1) // 2, (y0 + y1) // 2))
        self.focus_and_clear()
        return places, baseline

    def mark(self, indices, what):
        places, baseline = self.locate(indices)
        for i, (x, y) in enumerate(places):
            self.screen.click(x, y, ctrl=i > 0)
        img = self.screen.settle()
        frames = self.red_frames(img, baseline)
        centres = sorted(((a + c) // 2, (b + d) // 2) for a, b, c, d in frames)
        if len(frames) != len(places) or any(abs(a[0] - b[0]) > 6 or abs(a[1] - b[1]) > 6
                                             for a, b in zip(centres, sorted(places))):
            raise Failed(f"marking {what}: {len(frames)} photos framed at {centres}, wanted {sorted(places)}")
        return places


# --- the day ---------------------------------------------------------------------


class WorkingDay:
    def __init__(self):
        self.app_path = os.environ.get("LUMISORT_APP", "")
        self.cli_path = os.environ.get("LUMISORT_CLI", "")
        self.testdata = Path(os.environ.get("LUMISORT_TESTDATA_DIR", ""))
        self.out = Path(os.environ.get("LUMISORT_DAY_OUTPUT", "working-day")).resolve()
        self.keep = os.environ.get("LUMISORT_DAY_KEEP") == "1"
        self.sandbox = None
        self.procs = {}
        self.loop_device = None
        self.mounted = []
        self.made_dirs = []
        self.log_lines = []
        self.started = time.monotonic()
        self.step_number = 0

    # --- reporting

    def say(self, text):
        line = f"[{time.monotonic() - self.started:6.1f} s] {text}"
        self.log_lines.append(line)
        print(line, flush=True)

    def step(self, name):
        self.step_number += 1
        self.say(f"step {self.step_number}: {name}")

    def shot(self, name):
        path = self.screen.save(f"{self.step_number:02d}-{name}")
        self.say(f"  screenshot {path.name}")

    # --- preconditions

    def check_machine(self):
        if not self.app_path or not Path(self.app_path).is_file():
            raise Failed(f"the program is missing: LUMISORT_APP={self.app_path!r}")
        if not self.cli_path or not Path(self.cli_path).is_file():
            raise Failed(f"the command-line tool is missing: LUMISORT_CLI={self.cli_path!r}")
        if not (self.testdata / "orientation").is_dir() or not (self.testdata / "camera").is_dir():
            raise Failed(f"the test photos are missing: LUMISORT_TESTDATA_DIR={str(self.testdata)!r}")
        tools = {"Xvfb": "xvfb", "openbox": "openbox", "xdotool": "xdotool", "import": "imagemagick",
                 "xwininfo": "x11-utils", "xprop": "x11-utils", "mount": "mount", "pdftoppm": "poppler-utils"}
        missing = sorted({f"{tool} ({package})" for tool, package in tools.items() if not shutil.which(tool)})
        if missing:
            raise Skip("missing: " + ", ".join(missing) + " (scripts/deps installs them)")
        if os.geteuid() != 0:
            raise Skip("mounting a card needs root")

    # --- the X server

    def start_display(self):
        read_end, write_end = os.pipe()
        self.procs["Xvfb"] = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=open(self.out / "xvfb.log", "w"))
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.5)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip():
            raise Skip("Xvfb did not start (see xvfb.log in the output folder)")
        display = ":" + number.decode().strip()
        self.say(f"Xvfb on {display}")
        env = self.base_env()
        env["DISPLAY"] = display
        self.env = env
        self.screen = Screen(env, self.out)
        self.procs["openbox"] = subprocess.Popen(["openbox", "--sm-disable"], env=env,
                                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: "window id" in run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"],
                                              env=env, check=False).stdout, 20, "openbox")

    def base_env(self):
        env = {k: v for k, v in os.environ.items()
               if k not in ("XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                            "QT_QPA_PLATFORMTHEME", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
                            "SESSION_MANAGER", "DBUS_SESSION_BUS_ADDRESS", "LUMISORT_ALERTS_ANSWER_FIRST")}
        home = self.sandbox / "home"
        env.update({
            "HOME": str(home),
            "XDG_CONFIG_HOME": str(home / ".config"),
            "XDG_DATA_HOME": str(home / ".local/share"),
            "XDG_CACHE_HOME": str(home / ".cache"),
            "XDG_STATE_HOME": str(home / ".local/state"),
            "XDG_RUNTIME_DIR": str(self.sandbox / "runtime"),
            # The removable-media root the card is mounted under is this user's.
            "USER": self.user,
            "LOGNAME": self.user,
            "QT_QPA_PLATFORM": "xcb",
            "QT_STYLE_OVERRIDE": "Fusion",
            "LANG": "C.UTF-8",
        })
        return env

    # --- the sandbox and the settings

    def make_sandbox(self):
        self.sandbox = Path(tempfile.mkdtemp(prefix="lumisort-day-"))
        self.user = f"lumisort-day-{os.getpid()}"
        self.home = self.sandbox / "home"
        (self.sandbox / "runtime").mkdir(mode=0o700)
        self.home.mkdir()
        self.working = self.sandbox / "Studio Work"
        self.working.mkdir()
        self.archive = self.sandbox / "Archive"
        self.trash_files = self.home / ".local/share/Trash/files"
        self.trash_info = self.home / ".local/share/Trash/info"

    def cli(self, *args):
        # The tool draws only into files (make-card): no display needed.
        return run([self.cli_path, *map(str, args)], env=dict(self.env, QT_QPA_PLATFORM="offscreen")).stdout

    def configure(self):
        settings = [
            ("prefSourcePath", self.working, "string"),
            ("prefDestinationPath", self.archive, "string"),
            # The operator's own daily-folder pattern, chosen as the preferences pane stores it.
            ("prefDateFormatterTag", "6", "int"),
            ("prefUserDefinedDateFormatter", "yyyyMMdd", "string"),
            ("prefDailyFolderDateFormat", "yyyyMMdd", "string"),
            ("prefDoUnassignedProcess", "true", "bool"),
            ("prefMoveUnasignedPhotoMethodTag", "1", "int"),
            ("prefOriginalNameFormatTag", "1", "int"),
            # The folder in camera order, by file name.
            ("prefInputFolderSortKeySelectedIndex", "0", "int"),
            ("prefRadioSet1SelectedTag", "200", "int"),
            ("prefReassignedBarcodeRequiredLength", "13", "int"),
            ("prefCheckReassignedBarcodeLength", "true", "bool"),
        ]
        for key, value, kind in settings:
            self.cli("settings", "set", key, value, "--type", kind)
        # The studio's companion program asks for the way of reassigning every time.
        prefs = self.home / "Library/Preferences"
        prefs.mkdir(parents=True)
        (prefs / "com.apple.java.util.prefs.plist").write_text(
            '<?xml version="1.0" encoding="UTF-8"?>\n'
            '<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" '
            '"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n'
            '<plist version="1.0"><dict><key>/</key><dict><key>Mainstay/</key><dict>'
            '<key>disablescan</key><string>true</string></dict></dict></dict></plist>\n')

    # --- the card

    def build_card_files(self):
        """The card's files as a camera leaves them, in a folder of the sandbox."""
        source = self.sandbox / "card-files"
        dcim = source / "DCIM" / "100CANON"
        dcim.mkdir(parents=True)
        self.barcodes = {}  # photo name -> barcode shown on it

        def make_card(folder, groups, photos, start, seed, size="1200x800"):
            self.cli("make-card", folder, "--groups", groups, "--photos", photos, "--size", size,
                     "--start-number", start, "--seed", seed, "--quality", "85")
            manifest = json.loads((folder / "lumisort-card.json").read_text())
            for p in manifest["photos"]:
                name = Path(p["path"]).name
                shutil.copyfile(folder / p["path"], dcim / name)
                if p.get("barcodePhoto"):
                    self.barcodes[name] = p["barcode"]
            return manifest

        # Shot before the first barcode card: real camera photos.
        for number, photo in ((1, "Canon_40D.jpg"), (2, "Nikon_D70.jpg"), (3, "canon_hdr_NO.jpg")):
            shutil.copyfile(self.testdata / "camera" / photo, dcim / f"IMG_{number:04d}.JPG")
        make_card(self.sandbox / "part-a", 1, 2, 4, 11)  # IMG_0004 barcode, IMG_0005-0006
        # The first customer turned around: real photos in several orientations.
        for number, photo in ((7, "Landscape_3.jpg"), (8, "Portrait_6.jpg"), (9, "Landscape_8.jpg"),
                              (10, "Portrait_5.jpg")):
            shutil.copyfile(self.testdata / "orientation" / photo, dcim / f"IMG_{number:04d}.JPG")
        make_card(self.sandbox / "part-b", 2, 3, 11, 12)  # IMG_0011 barcode, 12-14; IMG_0015 barcode, 16-18
        # A video with the camera's thumbnail beside it: neither is a photo.
        thumb = self.sandbox / "part-c"
        self.cli("make-card", thumb, "--groups", 1, "--photos", 0, "--size", "160x120", "--seed", 13)
        shutil.copyfile(thumb / "DCIM/100CANON/IMG_0001.JPG", dcim / "MVI_0019.THM")
        # A second camera whose names have no "_" and two phones: how many "_" parts a name has
        # tells nothing about whether it carries a barcode.
        for photo, name in (("Reconyx_HC500_Hyperfire.jpg", "DSCN0020.JPG"),
                            ("../orientation/Portrait_2.jpg", "HMD_Nokia_8.3_5G.jpg"),
                            ("../orientation/Landscape_5.jpg", "IMG_20261207_093012.jpg")):
            shutil.copyfile(self.testdata / "camera" / photo, dcim / name)
        (dcim / "MVI_0019.MOV").write_bytes(b"\x00\x00\x00\x14ftypqt  \x00\x00\x00\x00qt  " + os.urandom(300000))
        for folder in ("part-a", "part-b", "part-c"):
            shutil.rmtree(self.sandbox / folder)

        self.card_files = {p.name: sha256(p) for p in sorted(dcim.iterdir())}
        self.photos = {name: digest for name, digest in self.card_files.items() if name.lower().endswith(".jpg")}
        self.photo_sizes = {(dcim / name).stat().st_size for name in self.photos}
        if len(set(self.card_files.values())) != len(self.card_files):
            raise Failed("two files of the card have the same bytes; the checks could not tell them apart")
        if sorted(self.barcodes) != ["IMG_0004.JPG", "IMG_0011.JPG", "IMG_0015.JPG"] or \
                len(set(self.barcodes.values())) != 3 or LOOSE_BARCODE in self.barcodes.values():
            raise Failed(f"the demo card's barcode photos are not as planned: {self.barcodes}")
        self.say(f"card: {len(self.photos)} photos, barcodes {self.barcodes}")
        return source

    def write_roster(self):
        """The day's roster as a school's system exports it: UTF-8 with a byte-order mark,
        semicolons, CRLF, quoted names with commas and accents. Its ids are the day's barcodes
        but the last barcode card's, plus a subject nobody photographs."""
        first, second, self.unlisted = (self.barcodes[n] for n in sorted(self.barcodes))
        self.absent = ean13("200000000077")
        rows = [(first, '"Lindqvist, Jr."', "Åsa", "3A"), (second, '"Núñez"', "José", "3A"),
                (LOOSE_BARCODE, "O'Brien", "Siobhán", "4B"), (self.absent, "Ødegård", "Ingrid", "4B")]
        if self.absent in self.barcodes.values():
            raise Failed(f"the subject meant to stay unphotographed has a barcode card: {self.absent}")
        self.subjects = {row[0]: f"{row[2]} {row[1].strip(chr(34))}" for row in rows}
        lines = ["Student ID;Last Name;First Name;Grade;Teacher;Email"]
        lines += [f'{code};{last};{first_name};{grade};"Weiß, K.";{code}@school.example'
                  for code, last, first_name, grade in rows]
        self.roster_path = self.sandbox / "Picture day roster.csv"
        self.roster_path.write_bytes(b"\xef\xbb\xbf" + "\r\n".join(lines).encode() + b"\r\n")

    def make_card_image(self, source):
        """Formats the card image and fills it; a FUSE exFAT card where possible."""
        image = self.sandbox / "card.img"
        fill = self.sandbox / "card-fill"
        fill.mkdir()
        reasons = []
        for kind in ("exfat", "ext4"):
            try:
                with open(image, "wb") as f:
                    f.truncate(CARD_MB << 20)
                if kind == "exfat":
                    if not shutil.which("mkfs.exfat") or not shutil.which("mount.exfat-fuse"):
                        raise RuntimeError("exfatprogs or exfat-fuse is not installed")
                    if not os.path.exists("/dev/fuse"):
                        raise RuntimeError("no /dev/fuse")
                    run(["mkfs.exfat", "-L", LABEL, str(image)])
                else:
                    run(["mkfs.ext4", "-q", "-F", "-L", LABEL, str(image)])
                try:
                    self.loop_device = run(["losetup", "-f", "--show", str(image)]).stdout.strip()
                except (RuntimeError, OSError) as error:
                    raise RuntimeError(f"no loop device: {error}")
                self.device = self.loop_device
                self.card_kind = kind
                self.mount_card(fill)
            except (RuntimeError, OSError, subprocess.TimeoutExpired) as error:
                reasons.append(f"{kind}: {error}")
                self.release_loop()
                continue
            try:
                shutil.copytree(source / "DCIM", fill / "DCIM")
            finally:
                self.unmount(fill)
            shutil.rmtree(source)
            self.say(f"card image: {kind} on {self.device}" + (f" (refused: {reasons})" if reasons else ""))
            return
        raise Skip("no card could be mounted here: " + "; ".join(reasons))

    def mount_card(self, folder, read_only=False):
        if self.card_kind == "exfat":
            args = ["mount.exfat-fuse"] + (["-o", "ro"] if read_only else []) + [self.device, str(folder)]
        else:
            args = ["mount", "-t", "ext4"] + (["-o", "ro"] if read_only else []) + [self.device, str(folder)]
        run(args)
        self.mounted.append(folder)

    @staticmethod
    def is_mounted(folder):
        target = os.fsencode(str(folder))
        with open("/proc/self/mountinfo", "rb") as f:
            return any(line.split(b" ")[4] == target for line in f)

    def unmount(self, folder):
        if self.is_mounted(folder):
            if run(["umount", str(folder)], check=False).returncode != 0:
                run(["umount", "-l", str(folder)], check=False)
        if folder in self.mounted:
            self.mounted.remove(folder)

    def release_loop(self):
        if self.loop_device:
            run(["losetup", "-d", self.loop_device], check=False)
            self.loop_device = None

    def media_folder(self):
        """This user's removable-media root, where a desktop mounts a card."""
        for root in (Path("/run/media"), Path("/media")):
            base = root / self.user
            try:
                missing = [p for p in (root, base) if not p.exists()]
                base.mkdir(parents=True, exist_ok=True)
            except OSError:
                continue
            self.made_dirs.extend(reversed(missing))
            card = base / LABEL
            card.mkdir()
            self.made_dirs.insert(0, card)
            return card
        raise Skip("no removable-media root (/run/media or /media) could be made")

    # --- the disk

    @staticmethod
    def trashed(name):
        return ("trash", name)

    def check_disk(self, what):
        """Every card photo exactly once, byte for byte, where the day put it."""
        wanted = {digest: key for key, digest in self.digests.items()}
        sizes = self.sizes
        found = {}
        for folder, _, files in os.walk(self.sandbox):
            for file in files:
                path = Path(folder) / file
                if path.is_symlink() or path.stat().st_size not in sizes:
                    continue
                digest = sha256(path)
                if digest in wanted:
                    found.setdefault(digest, []).append(path)
        problems = []
        for digest, key in wanted.items():
            places = found.get(digest, [])
            expected = self.where[key]
            if expected == ON_CARD:
                if places:
                    problems.append(f"{key}: copied to " + ", ".join(map(str, places)) + " before the import")
            elif not places:
                problems.append(f"{key}: gone (expected {self.describe(expected)})")
            elif len(places) > 1:
                problems.append(f"{key}: {len(places)} copies: " + ", ".join(map(str, places)))
            elif isinstance(expected, tuple):
                place = places[0]
                if place.parent != self.trash_files or place.name != expected[1]:
                    problems.append(f"{key}: at {place}, expected {self.describe(expected)}")
                elif not (self.trash_info / (place.name + ".trashinfo")).is_file():
                    problems.append(f"{key}: in the trash without its .trashinfo")
            elif places[0] != expected:
                problems.append(f"{key}: at {places[0]}, expected at {expected}")
        # Nothing but the expected photos in the working folder, and no staging left behind.
        expected_here = {p.name for p in self.where.values() if isinstance(p, Path) and p.parent == self.working}
        present = {p.name for p in self.working.iterdir()}
        if present != expected_here:
            problems.append(f"working folder: unexpected {sorted(present - expected_here)}, "
                            f"missing {sorted(expected_here - present)}")
        for folder, _, files in os.walk(self.sandbox):
            inside = Path(folder).relative_to(self.sandbox)
            if files and any("staging" in part.lower() for part in inside.parts):
                problems.append(f"{folder} (staging) still holds {sorted(files)}")
        if problems:
            raise Failed(f"after {what}:\n  " + "\n  ".join(problems))
        self.say(f"  disk checked: {len(wanted)} photos, each exactly once where it belongs")

    @staticmethod
    def describe(expected):
        if expected == ON_CARD:
            return "only on the card"
        return f"in the trash as {expected[1]}" if isinstance(expected, tuple) else f"at {expected}"

    def program_log(self):
        log = self.sandbox / "home/.local/state/Lumisort/Lumisort.log"
        return log.read_text(errors="replace") if log.exists() else ""

    def wait_names(self, names, what, timeout=30):
        names = set(names)
        wait_until(lambda: names <= {p.name for p in self.working.iterdir()}, timeout, what)

    def working_names(self):
        """The names the photos now have in the working folder, in the browser's order."""
        return folder_order([p.name for p in self.where.values()
                             if isinstance(p, Path) and p.parent == self.working])

    def rename(self, old, new):
        for key, place in self.where.items():
            if place == self.working / old:
                self.where[key] = self.working / new
                return key
        raise AssertionError(old)

    def index_of(self, name):
        return self.working_names().index(name)

    # --- the program

    def start_program(self):
        self.app_log = open(self.out / "lumisort-output.log", "w")
        self.procs["lumisort"] = subprocess.Popen([self.app_path], env=self.env, cwd=self.sandbox,
                                                  stdout=self.app_log, stderr=subprocess.STDOUT)
        main = self.screen.wait_window(lambda w: w.name.endswith(" - Lumisort") and not w.transient,
                                       "the main window")
        # The whole screen for the window, its frame included.
        extents = self.screen.x("xprop", "-id", main.id, "_NET_FRAME_EXTENTS").stdout
        left, right, top, bottom = (int(v) for v in extents.split("=", 1)[1].split(","))
        width, height = SCREEN[0] - left - right, SCREEN[1] - top - bottom
        self.screen.xdo("windowsize", main.id, width, height)
        self.screen.xdo("windowmove", main.id, left, top)
        self.screen.xdo("windowactivate", "--sync", main.id)
        self.main = wait_until(lambda: next((w for w in self.screen.windows() if w.id == main.id and w.x == left
                                             and w.y == top and w.w == width and w.h == height), None),
                               10, "the main window to fill the screen")
        self.grid = Grid(self.screen, self.main)

    def sheet(self, title, timeout=20):
        return self.screen.wait_window(lambda w: w.title == title and w.name != "Lumisort",
                                       f"the sheet \"{title}\"", timeout)

    def alert(self, what, timeout=20):
        return self.screen.wait_window(lambda w: w.name == "Lumisort" and w.transient,
                                       f"the alert {what}", timeout)

    def confirm(self, what, shot):
        """Answers an alert of two buttons with the right one (the action, not Cancel)."""
        question = self.alert(what)
        self.screen.settle(question)  # a sheet's spinner may turn behind it
        self.shot(shot)
        buttons = buttons_in_window(self.screen, question)
        if len(buttons) != 2:
            raise Failed(f"the alert {what} shows {len(buttons)} buttons, expected 2")
        self.screen.click(*buttons[1])

    def file_dialog(self, accelerator, title, path):
        """A File menu command by its accelerator, answered in Qt's own file dialog with a full path."""
        self.screen.keys("alt+f", accelerator)
        dialog = self.sheet(title)
        self.screen.settle(dialog)
        self.screen.keys("ctrl+a")
        self.screen.xdo("type", "--delay", "5", str(path))
        self.screen.keys("Return")
        self.screen.wait_gone(dialog, f"the dialog \"{title}\" to close")

    def toggle_roster_panel(self):
        """View, Roster (Ctrl+Shift+R); the window must change."""
        before = self.screen.settle()
        self.screen.keys("ctrl+shift+r")
        wait_until(lambda: self.screen.grab() != before, 10, "the Roster panel to show or hide")
        self.screen.settle()

    def dock_edge(self):
        """Where the empty grid ends and the separator of the Roster panel begins (screen x)."""
        w, _, data = self.screen.grab()
        y = self.main.y + self.main.h - 120
        row = data[y * w * 3:(y + 1) * w * 3]
        background = bytes((0xEF,) * 3) * 8
        return next(x for x in range(w // 4, w) if row[x * 3:x * 3 + 24] == background)

    def reassign_command(self):
        """Ctrl+R (Edit, Reassign Marked Photos) for the marked photos' section: the prompt comes first."""
        self.screen.keys("ctrl+r")
        return self.sheet("Reassignment")

    def choose_mode(self, prompt, automatic):
        buttons = buttons_in_window(self.screen, prompt, stacked=True)
        if len(buttons) != 2:
            raise Failed(f"the mode prompt shows {len(buttons)} buttons, expected 2")
        self.screen.click(*buttons[1 if automatic else 0])
        self.screen.wait_gone(prompt, "the mode prompt to close")
        return self.sheet("Reassign")

    # --- the steps

    def step_start(self):
        self.step("the program waits for the day's card")
        self.start_program()
        self.screen.keys("ctrl+minus")
        self.screen.settle()
        self.shot("idle")

    def step_preferences(self):
        self.step("a look at the preferences")
        self.screen.keys("ctrl+comma")
        prefs = self.sheet("Preferences")
        self.screen.settle()
        self.shot("preferences")
        self.screen.keys("Escape")
        self.screen.wait_gone(prefs, "the preferences to close")

    def step_open_roster(self):
        self.step("the day's roster is opened from the File menu")
        self.file_dialog("r", "Open the Day's Roster", self.roster_path)
        opened = f"RosterSource -> open.... {self.roster_path}: {len(self.subjects)} subjects"
        wait_until(lambda: opened in self.program_log(), 10, f"\"{opened}\" in the program's log")
        # Opening shows the panel; the grid has the window to itself until the panel is asked for.
        self.toggle_roster_panel()

    def step_card(self):
        self.step("the card is inserted while the window is idle")
        mount_point = self.media_folder()
        self.mount_card(mount_point)
        self.card_mount = mount_point
        self.say(f"  card mounted at {mount_point}")
        # The window offers the card; nothing is copied until the operator takes the offer.
        offered = wait_until(self.find_offer, 10, "the bar offering the card")
        self.shot("card-offered")
        self.check_disk("the offer of the card")
        self.screen.click(*offered)
        return self.sheet("Load New Card")

    def find_offer(self):
        """The bar across the top of the window offering the card: its action button."""
        img = self.screen.grab(self.main)
        w, h, data = img
        rows = [y for y in range(h // 2) if data[y * w * 3:(y + 1) * w * 3].count(OFFER_COLOUR) > w // 3]
        if len(rows) < 12:
            return None
        buttons = button_rects(img, rows[0], rows[-1] + 1)
        if len(buttons) < 2:
            return None
        x0, y0, x1, y1 = sorted(buttons)[-2]  # the action, left of "Dismiss"
        return self.main.x + (x0 + x1) // 2, self.main.y + (y0 + y1) // 2

    def step_import(self, card_sheet):
        self.step("the card is imported; the old photos of the working folder go to the trash")
        self.confirm("asking about the photos in the working folder", "working-folder-question")  # Move to Trash
        self.where[YESTERDAY] = self.trashed(self.leftover.name)

        told = []

        def imported():
            for w in self.screen.windows():
                if w.name == "Lumisort" and w.transient:
                    # The one alert expected: the card mixes naming styles (the program's log says which it shows).
                    if told or "the card mixes naming styles" not in self.program_log():
                        self.shot("import-alert")
                        raise Failed("the import ended with an alert (see the screenshot)")
                    self.screen.settle(w)
                    self.shot("import-mixed-names")
                    self.screen.click(*buttons_in_window(self.screen, w)[-1])
                    self.screen.wait_gone(w, "the note on the card's naming styles to close")
                    told.append(w)
            return all(w.id != card_sheet.id for w in self.screen.windows())

        wait_until(imported, 90, "the card sheet to close after the import")
        if not told:
            raise Failed("the operator was not told that the card mixes naming styles")
        for name in self.photos:
            self.where[name] = self.working / name
        self.wait_names(self.photos, "the card's photos in the working folder")
        self.screen.settle()
        self.shot("imported")
        if self.is_mounted(self.card_mount):
            raise Failed(f"the card is still mounted at {self.card_mount} after the import")
        self.say("  card unmounted by the program")
        if any(n.endswith((".THM", ".MOV")) for n in os.listdir(self.working)):
            raise Failed("the video or its thumbnail was imported as a photo")
        self.check_disk("the import")

    def step_single_section(self):
        self.step("all photos in one section and back")
        self.screen.keys("ctrl+g")
        self.screen.settle()
        self.shot("single-section")
        self.screen.keys("ctrl+g")
        self.screen.settle()

    def reassign_by_hand(self, targets, prefix, what, shots, scan=None):
        """The photos marked, the manual way chosen, the sheet left by Reassign after a
        scanned barcode or by Unknown (left of Reassign) without one."""
        self.grid.mark([self.index_of(n) for n in targets], what)
        sheet = self.choose_mode(self.reassign_command(), automatic=False)
        self.screen.settle(sheet)
        if scan:
            self.screen.scan(scan)
            self.screen.settle(sheet)
        self.shot(shots[0])
        buttons = buttons_in_window(self.screen, sheet)
        if len(buttons) < (2 if scan else 3):
            raise Failed(f"the sheet {sheet} shows only {len(buttons)} buttons")
        self.screen.click(*buttons[-1 if scan else -2])
        self.screen.wait_gone(sheet, "the reassign sheet to close")
        for name in targets:
            key = self.rename(name, f"{prefix}_{name}")
            (self.given.discard if prefix == "UNKNOWN" else self.given.add)(key)
        self.wait_names([f"{prefix}_{n}" for n in targets], f"{prefix} in the names of {what}")
        self.screen.settle()
        self.shot(shots[1])
        self.check_disk(what)

    def step_scan_barcode(self):
        self.step("three photos shot before the first barcode card get a scanned barcode")
        self.reassign_by_hand(["DSCN0020.JPG", "IMG_0002.JPG", "IMG_0003.JPG"], LOOSE_BARCODE, "the photos shot too early",
                              ("reassign-sheet", "reassigned"), scan=LOOSE_BARCODE)

    def step_unknown(self):
        self.step("two blurred photos are marked unknown")
        self.reassign_by_hand(["IMG_0016.JPG", "IMG_0017.JPG"], "UNKNOWN", "the blurred photos",
                              ("unknown-sheet", "marked-unknown"))

    def apply_barcodes(self):
        """Ctrl+B (Edit, Apply Barcodes); while photos are still being read it says so: wait and ask again."""
        deadline = time.monotonic() + 120
        while True:
            self.screen.keys("ctrl+b")
            window = self.screen.wait_window(
                lambda w: (w.title == "Apply Barcodes" and w.name != "Lumisort") or (w.name == "Lumisort" and w.transient),
                "the Apply Barcodes sheet")
            if window.name != "Lumisort":
                return window
            if time.monotonic() > deadline:
                raise Failed("the barcodes were still being read after two minutes")
            self.screen.keys("Return")
            self.screen.wait_gone(window, "the still-reading notice to close")
            time.sleep(1)

    def step_automatic(self):
        self.step("the barcodes read in the photos are applied: one Return per barcode photo")
        barcode_photos = [n for n in self.working_names() if n in self.barcodes]  # the folder's order
        self.screen.settle()
        self.shot("barcodes-read")
        sheet = self.apply_barcodes()
        for number, name in enumerate(barcode_photos):
            shown = self.screen.settle(sheet)
            if number == 0:
                self.shot("apply-barcodes-names")
            if name == barcode_photos[-1]:
                self.shot("automatic-sheet")
            if number == 1:
                self.screen.scan(self.barcodes[name])  # a scan over the code proposed replaces it
            else:
                self.screen.keys("Return")
            if self.barcodes[name] == self.unlisted:
                # The roster lacks it: the first Return says so and keeps the code, the second takes it.
                wait_until(lambda: self.screen.grab(sheet) != shown, 10, "the note that the code is not on the roster")
                shown = self.screen.settle(sheet)
                self.screen.keys("Return")
            # The sheet moves on to the next barcode photo; after the last it shows the run.
            if name != barcode_photos[-1]:
                wait_until(lambda: self.screen.grab(sheet) != shown, 10, "the next barcode photo")
        if f"Not on the roster [{self.unlisted}]: asked once more" not in self.program_log():
            raise Failed(f"the code {self.unlisted} was taken without the note that the roster lacks it")
        self.confirm("showing the run before anything is renamed", "apply-barcodes-summary")  # "Reassign"
        self.screen.wait_gone(sheet, "the Apply Barcodes sheet to close")

        # Every photo takes the barcode of the last barcode photo before it in the folder's
        # order; those before the first keep their names; barcode photos go to the trash.
        carried = None
        renamed = []
        for name in self.working_names():
            if name in self.barcodes:
                carried = self.barcodes[name]
            if carried:
                key = self.rename(name, f"{carried}_{name}")
                self.given.add(key)
                renamed.append(f"{carried}_{name}")
                if name in self.barcodes:
                    self.where[key] = self.trashed(f"{carried}_{name}")
                    renamed.pop()
        self.wait_names(renamed, "the carried barcodes in the names")
        wait_until(lambda: not any((self.working / f"{self.barcodes[n]}_{n}").exists() for n in barcode_photos),
                   20, "the barcode photos to go to the trash")
        self.screen.settle()
        self.shot("automatic-done")
        self.check_disk("the automatic mode")

    def step_roster_midday(self):
        self.step("the sections carry the roster's names; the Roster panel shows who has photos")
        self.screen.settle()
        self.shot("roster-headers")
        self.toggle_roster_panel()
        self.shot("roster-panel")
        self.toggle_roster_panel()

    def step_delete(self):
        self.step("one photo is deleted")
        name = next(n for n in self.working_names() if n.endswith("IMG_0006.JPG"))
        self.grid.mark([self.index_of(name)], "the photo to delete")
        self.screen.keys("Delete")
        self.confirm("asking before the delete", "delete-question")  # "YES DELETE"
        key = self.rename(name, name)
        self.where[key] = self.trashed(name)
        wait_until(lambda: not (self.working / name).exists(), 20, f"{name} to leave the working folder")
        self.screen.settle()
        self.check_disk("the delete")

    @staticmethod
    def daily_folder_name():
        # yyyyMMdd of the moment three hours ago: work before 03:00 belongs to the day before.
        return (datetime.datetime.now() - datetime.timedelta(hours=3)).strftime("%Y%m%d")

    def step_file(self):
        self.step("the photos are filed")
        day_before = self.daily_folder_name()
        self.screen.keys("ctrl+shift+f")
        sheet = self.sheet("File Photos into the Destination Folder")
        summary = self.alert("summing up the filing", timeout=60)
        self.screen.settle(summary)
        self.shot("filing-summary")
        self.screen.click(*buttons_in_window(self.screen, summary)[-1])
        self.screen.wait_gone(sheet, "the filing sheet to close")
        day_after = self.daily_folder_name()
        shown = self.cli("daily-folder").split("\n", 1)[0].partition("\t")[2].strip()
        if shown not in (day_before, day_after):
            raise Failed(f"the daily folder is now {shown!r}, not {day_after!r} as the pattern yyyyMMdd says")
        for day in dict.fromkeys((day_before, day_after)):
            expected = {}
            for key, place in self.where.items():
                if isinstance(place, Path) and place.parent == self.working:
                    name = place.name
                    # Exactly the photos the day gave a barcode are filed, whatever their names look like.
                    unassigned = is_unknown(name) or key not in self.given
                    expected[key] = (self.archive / "UNASSIGNED_PHOTOS" / day / name) if unassigned else \
                        (self.archive / day / name)
            if all(p.exists() for p in expected.values()):
                break
        self.where.update(expected)
        self.day = day
        self.screen.settle()
        self.shot("filed")
        self.check_disk("filing")
        unassigned = sorted(p.name for p in expected.values() if p.parent.parent.name == "UNASSIGNED_PHOTOS")
        self.say(f"  filed {len(expected) - len(unassigned)} photos into {day}, {len(unassigned)} into "
                 f"UNASSIGNED_PHOTOS: {unassigned}")

    def step_roster_report(self):
        self.step("the roster at the end of the day: the report, the panel and the camera cards")
        filed = {}
        for place in self.where.values():
            if isinstance(place, Path) and place.parent == self.archive / self.day:
                code = place.name.split("_", 1)[0]
                filed[code] = filed.get(code, 0) + 1
        # The tool reads the program's settings: the working folder and today's daily folder.
        report = json.loads(self.cli("roster", "--json", self.roster_path))
        today = next(i for i, f in enumerate(report["folders"]) if f["label"] == "Today")
        if report["folders"][today]["path"] != str(self.archive / self.day):
            raise Failed(f"the report counts {report['folders'][today]['path']} as today's folder")
        got = {s["id"]: (s["status"], s["counts"][today], s["total"]) for s in report["subjects"]}
        wanted = {code: ("missing" if code == self.absent else "enough", filed.get(code, 0), filed.get(code, 0))
                  for code in self.subjects}
        strays = {s["id"]: (s["counts"][today], s["total"]) for s in report["notOnRoster"]}
        if got != wanted or strays != {self.unlisted: (filed.get(self.unlisted, 0),) * 2}:
            raise Failed(f"the roster report: subjects {got}, not on the roster {strays}; "
                         f"wanted {wanted} and {self.unlisted} with {filed.get(self.unlisted)}")
        self.say(f"  roster report: {got}, not on the roster {strays}")

        exported = self.sandbox / "Roster report.csv"
        self.file_dialog("e", "Export the Roster Report", exported)
        data = wait_until(lambda: exported.is_file() and exported.read_bytes(), 10, "the exported report")
        rows = list(csv.reader(io.StringIO(data.decode("utf-8").lstrip("\ufeff"))))
        if not data.startswith(b"\xef\xbb\xbf") or rows[0][:4] != ["Id", "Name", "Class", "Teacher"] \
                or "Today" not in rows[0] or [self.absent, self.subjects[self.absent], "No photos"] not in \
                [[r[0], r[1], r[-1]] for r in rows[1:]]:
            raise Failed(f"the exported report is not as it must be: {data[:400]!r}")
        self.toggle_roster_panel()
        # Shown, the panel widens itself to its columns (today's and the status among them) once its
        # report is in; a panel left at a dock's default width would hide them.
        right = self.main.x + self.main.w
        wait_until(lambda: self.dock_edge() <= right - 600, 10, "the Roster panel to widen to its columns")
        self.say(f"  the Roster panel is {right - self.dock_edge()} px wide")
        self.screen.settle()
        self.shot("roster-end-of-day")

        cards = self.sandbox / "cards.pdf"
        self.cli("cards", "--out", cards, self.roster_path)
        run(["pdftoppm", "-r", "60", "-png", "-f", "1", "-l", "1", "-singlefile", str(cards),
             str(self.out / f"{self.step_number:02d}-card-sheet")])
        self.say(f"  screenshot {self.step_number:02d}-card-sheet.png (the cards' first page)")

    def step_quit(self):
        self.step("the program quits; the card is unchanged")
        self.screen.keys("ctrl+q")
        try:
            self.procs["lumisort"].wait(timeout=15)
        except subprocess.TimeoutExpired:
            raise Failed("the program did not quit on Ctrl+Q")
        check = self.sandbox / "card-check"
        check.mkdir()
        self.mount_card(check, read_only=True)
        try:
            on_card = {p.name: sha256(p) for p in (check / "DCIM" / "100CANON").iterdir()}
        finally:
            self.unmount(check)
        if on_card != self.card_files:
            raise Failed("the card was changed by the day")

    # --- the whole day

    def run(self):
        self.out.mkdir(parents=True, exist_ok=True)
        for old in self.out.glob("*.png"):
            old.unlink()
        self.check_machine()
        self.make_sandbox()
        self.env = self.base_env()
        self.configure()
        source = self.build_card_files()
        self.make_card_image(source)
        self.write_roster()
        # Yesterday's photo, never filed, still in the working folder.
        self.leftover = self.working / "2000000000985_IMG_7001.JPG"
        shutil.copyfile(self.testdata / "orientation" / "Portrait_1.jpg", self.leftover)
        self.digests = dict(self.photos, **{YESTERDAY: sha256(self.leftover)})
        self.sizes = set(self.photo_sizes) | {self.leftover.stat().st_size}
        self.where = dict.fromkeys(self.photos, ON_CARD)
        self.where[YESTERDAY] = self.leftover
        self.given = {YESTERDAY}  # photos given a barcode (yesterday's by an earlier day)
        self.start_display()
        self.step_start()
        self.step_preferences()
        self.step_open_roster()
        card_sheet = self.step_card()
        self.step_import(card_sheet)
        self.step_single_section()
        self.step_scan_barcode()
        self.step_unknown()
        self.step_automatic()
        self.step_roster_midday()
        self.step_delete()
        self.step_file()
        self.step_roster_report()
        self.step_quit()
        self.say(f"the day went as it must in {time.monotonic() - self.started:.0f} s; "
                 f"screenshots in {self.out}")

    def stop(self, name):
        proc = self.procs.pop(name, None)
        if proc and proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()

    def clean_up(self):
        self.stop("lumisort")
        for folder in list(self.mounted) + ([self.card_mount] if hasattr(self, "card_mount") else []):
            self.unmount(folder)
        self.release_loop()
        self.stop("openbox")
        self.stop("Xvfb")
        for folder in self.made_dirs:
            try:
                folder.rmdir()
            except OSError:
                pass
        if self.sandbox and self.sandbox.exists():
            log = self.sandbox / "home/.local/state/Lumisort/Lumisort.log"
            if log.exists():
                shutil.copyfile(log, self.out / "Lumisort.log")
            if self.keep:
                print(f"sandbox kept at {self.sandbox}")
            else:
                shutil.rmtree(self.sandbox, ignore_errors=True)
        (self.out / "day.log").write_text("\n".join(self.log_lines) + "\n")


def main():
    day = WorkingDay()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        day.run()
        return 0
    except Skip as reason:
        print(f"SKIP: the working day cannot run here: {reason}", flush=True)
        return SKIP
    except (Failed, RuntimeError, subprocess.TimeoutExpired, OSError) as problem:
        day.say(f"FAILED: {problem}")
        program = day.procs.get("lumisort")
        if program and program.poll() is not None:
            code = program.returncode
            day.say(f"  the program had ended: " + (f"signal {-code}" if code < 0 else f"exit code {code}"))
        try:
            day.screen.save("failure")
            day.say(f"  the screen at the failure: {day.out / 'failure.png'}")
        except Exception:
            pass
        return 1
    finally:
        day.clean_up()


if __name__ == "__main__":
    sys.exit(main())
