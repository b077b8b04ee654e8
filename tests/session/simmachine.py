"""Small simulated PCs for end-to-end runs of the scanner: a temporary
machine folder with machine.json, a registry (.reg) and one host folder per
drive, and a runner that starts a native program on it."""

import json
import os
import shutil
import subprocess
import tempfile
import time

DOSATTRIB = "user.DOSATTRIB"
# 0.01 turns the 20-second countdown into 0.2 s. Sanitizer builds start
# threads and open devices so slowly (up to a third of a second) that a
# scripted key could reach the keyboard before the prompt reads it; they run
# at 0.05.
DEFAULT_TIME_SCALE = float(os.environ.get("TW_TIME_SCALE", "0.01"))
TARGET_KEY = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\tarnwell"


def reg_hex(kind, data):
    """A .reg value of type hex(kind) holding exactly `data`."""
    return "hex(%x):%s" % (kind, ",".join("%02x" % b for b in data))


def reg_text(text):
    """A string value as the manager writes it: the characters only, no NUL."""
    return reg_hex(1, text.encode("utf-16-le"))


class Result:
    def __init__(self, returncode, out, err, seconds):
        self.returncode = returncode
        self.raw = out
        self.out = out.decode("utf-8", errors="replace")
        self.err = err.decode("utf-8", errors="replace")
        self.seconds = seconds


class Machine:
    """A machine under a temporary folder. Drive paths use backslashes
    ("C:\\WINDOWS\\a.txt"); files are created on the host under the drive's
    folder."""

    def __init__(self, drives=None, win_target="C:\\WINDOWS", lib_target="C:\\Lib",
                 keyboard=None, time_scale=None, code_page=1252, clock=None, extra_reg=""):
        self.folder = tempfile.mkdtemp(prefix="tw-session-")
        self.drives = drives if drives is not None else {
            "C": ("c", "fixed"), "D": (None, "cdrom"), "F": ("usb", "removable")}
        self.win_target = win_target
        self.lib_target = lib_target
        self.keyboard = keyboard if keyboard is not None else []
        self.time_scale = time_scale if time_scale is not None else DEFAULT_TIME_SCALE
        self.code_page = code_page
        self.clock = clock
        self.extra_reg = extra_reg
        for letter, (root, _) in self.drives.items():
            if root is not None:
                os.makedirs(os.path.join(self.folder, root), exist_ok=True)

    def cleanup(self):
        # Directory links must not be followed when removing.
        shutil.rmtree(self.folder, ignore_errors=True)

    def host(self, drive_path):
        letter = drive_path[0].upper()
        root = self.drives[letter][0]
        rest = drive_path[3:] if len(drive_path) > 3 else ""
        parts = [p for p in rest.split("\\") if p]
        return os.path.join(self.folder, root, *parts)

    def dir(self, drive_path, attrs=None):
        path = self.host(drive_path)
        os.makedirs(path, exist_ok=True)
        if attrs is not None:
            set_attrs(path, attrs)
        return path

    def file(self, drive_path, content=b"x", attrs=None):
        path = self.host(drive_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
        if attrs is not None:
            set_attrs(path, attrs)
        return path

    def registry_text(self):
        lines = ["Windows Registry Editor Version 5.00", "",
                 r"[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager]",
                 '"BootExecute"=' + reg_hex(7, "autocheck autochk *\0tarnwell\0\0".encode("utf-16-le")), ""]
        values = []
        if self.win_target is not None:
            values.append('"WinTarget"=' + reg_text(self.win_target))
        if self.lib_target is not None:
            values.append('"LibTarget"=' + reg_text(self.lib_target))
        if values:
            lines += ["[" + TARGET_KEY + "]"] + values + [""]
        return "\r\n".join(lines) + "\r\n" + self.extra_reg

    def write(self):
        desc = {
            "drives": {letter: {"root": root, "type": kind} for letter, (root, kind) in self.drives.items()},
            "registry": "registry.reg",
            "windows": "C:\\WINDOWS",
            "environment": {"Temp": "C:\\WINDOWS\\Temp"},
            "codePage": self.code_page,
            "utcOffsetMinutes": 0,
            "keyboard": self.keyboard,
            "timeScale": self.time_scale,
        }
        if self.clock:
            desc["clock"] = self.clock
        with open(os.path.join(self.folder, "machine.json"), "w") as f:
            json.dump(desc, f, indent=2)
        with open(os.path.join(self.folder, "registry.reg"), "w", newline="") as f:
            f.write(self.registry_text())
        return os.path.join(self.folder, "machine.json")

    def run(self, program, timeout=60, env=None, write=True):
        if write:
            self.write()
        full_env = dict(os.environ)
        full_env["TARNWELL_MACHINE"] = os.path.join(self.folder, "machine.json")
        full_env.update(env or {})
        start = time.monotonic()
        p = subprocess.run([program], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, env=full_env, timeout=timeout)
        return Result(p.returncode, p.stdout, p.stderr, time.monotonic() - start)

    def start(self, program, env=None):
        """Starts the program without waiting (for runs that are changed
        while they walk)."""
        self.write()
        full_env = dict(os.environ)
        full_env["TARNWELL_MACHINE"] = os.path.join(self.folder, "machine.json")
        full_env.update(env or {})
        return subprocess.Popen([program], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=full_env)


def set_attrs(path, word):
    os.setxattr(path, DOSATTRIB, ("0x%x" % word).encode(), follow_symlinks=False)


def get_attrs(path):
    """The stored attribute word, or None when the item has none."""
    try:
        raw = os.getxattr(path, DOSATTRIB, follow_symlinks=False)
    except OSError:
        return None
    return int(raw.rstrip(b"\0").decode(), 16)
